// Windows built from the dialog templates in res/, with the shape of a dialog framework:
// OnInitDialog, data exchange binding control ids to members, GetDlgItem, modal and modeless
// use. CDialogEx is a wx dialog; CFrameDialog is a top-level frame (it can carry a menu bar,
// which a GTK dialog cannot) whose controls live on one panel.
#pragma once

#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include "res/Resources.h"

namespace platform {

// Creates the controls of `dialogTemplate` on `parent` at their natural sizes, for the
// window's sizers to place. Template texts are shown as they stand.
void CreateTemplateControls(wxWindow* parent, const res::DialogTemplate& dialogTemplate);

// Binds control `id` of `parent` to `member` (null when it is missing or of another class).
template <typename Control>
void BindControl(wxWindow* parent, int id, Control*& member)
{
    member = dynamic_cast<Control*>(parent->FindWindow(id));
}

}  // namespace platform

class CDialogEx : public wxDialog {
public:
    CDialogEx(int templateId, wxWindow* parent);

    // Builds the window from the template and initialises it (OnInitDialog gives it its
    // sizers), as a modeless dialog.
    bool Create();
    // Builds and initialises the dialog, then runs it modally (through the platform hook).
    int DoModal();

    wxWindow* GetDlgItem(int id) const { return FindWindow(id); }

protected:
    virtual void DoDataExchange() {}
    virtual bool OnInitDialog() { return true; }
    // Escape and Enter neither close nor "click" anything in this dialog (they are swallowed).
    void SwallowEscapeAndEnter();

private:
    bool m_created = false;
    int m_templateId;
};

class CFrameDialog : public wxFrame {
public:
    // `initialSize`: the client size it opens with, in pixels of a screen of ordinary density.
    CFrameDialog(int templateId, int menuId, wxSize initialSize);

    // Builds the panel, its controls and the menu bar, then runs DoDataExchange and
    // OnInitDialog. Call once, before Show().
    bool Create();

    wxWindow* GetDlgItem(int id) const { return m_panel ? m_panel->FindWindow(id) : nullptr; }
    wxPanel* Panel() const { return m_panel; }

protected:
    virtual void DoDataExchange() {}
    virtual bool OnInitDialog() { return true; }

private:
    int m_templateId;
    int m_menuId;
    wxSize m_initialSize;
    wxPanel* m_panel = nullptr;
};
