// Template-driven window construction.
#include "platform/DialogBase.h"

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/arrstr.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/menu.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include "platform/Controls.h"
#include "platform/Platform.h"

#include "res/kestrow.xpm"

namespace platform {

namespace {

wxString Text(std::string_view text) { return wxString::FromUTF8(text.data(), text.size()); }

}  // namespace

void CreateTemplateControls(wxWindow* parent, const res::DialogTemplate& dialogTemplate)
{
    // Every control at its natural size: the window's sizers place and size it.
    const wxPoint position = wxDefaultPosition;
    const wxSize size = wxDefaultSize;
    for (const res::ControlTemplate& c : dialogTemplate.controls) {
        switch (c.kind) {
        case res::ControlKind::ListView: {
            auto* list = new CListCtrl(parent, c.id, position, size);
            if (c.style & res::kStyleCheckBoxes) list->EnableCheckBoxes(true);
            break;
        }
        case res::ControlKind::GroupBox: new wxStaticBox(parent, c.id, Text(c.text), position, size); break;
        case res::ControlKind::RadioButton:
            new wxRadioButton(parent, c.id, Text(c.text), position, size, (c.style & res::kStyleGroup) ? wxRB_GROUP : 0);
            break;
        case res::ControlKind::CheckBox: new wxCheckBox(parent, c.id, Text(c.text), position, size); break;
        case res::ControlKind::Choice: {
            wxArrayString items;
            for (const wxString& item : wxSplit(Text(c.text), '|')) items.Add(item);
            auto* choice = new wxChoice(parent, c.id, position, size, items);
            choice->SetSelection(0);
            break;
        }
        case res::ControlKind::RichEdit: new CRichEditCtrl(parent, c.id, position, size); break;
        case res::ControlKind::Edit: new wxTextCtrl(parent, c.id, Text(c.text), position, size); break;
        case res::ControlKind::ProgressBar: new CProgressCtrl(parent, c.id, position, size); break;
        case res::ControlKind::StaticText:
            new wxStaticText(parent, c.id, Text(c.text), position, size,
                             (c.style & res::kStyleNoPrefix) ? wxST_NO_AUTORESIZE : 0);
            break;
        case res::ControlKind::Button: {
            const int id = c.id == res::IDOK ? wxID_OK : c.id == res::IDCANCEL ? wxID_CANCEL : c.id;
            auto* button = new wxButton(parent, id, Text(c.text), position, size);
            if (c.style & res::kStyleDefaultButton) button->SetDefault();
            break;
        }
        case res::ControlKind::Icon:
            // The only icon resource is the application's own.
            new wxStaticBitmap(parent, c.id, wxBitmap(kestrow_xpm), position, size);
            break;
        }
    }
}

}  // namespace platform

CDialogEx::CDialogEx(int templateId, wxWindow* parent) : m_templateId(templateId)
{
    const res::DialogTemplate& t = res::Dialog(templateId);
    wxDialog::Create(parent, wxID_ANY, platform::Text(t.caption), wxDefaultPosition, wxDefaultSize,
                     wxDEFAULT_DIALOG_STYLE);
}

bool CDialogEx::Create()
{
    if (m_created) return true;
    platform::CreateTemplateControls(this, res::Dialog(m_templateId));
    m_created = true;
    DoDataExchange();
    const bool result = OnInitDialog();
    // The dialog as large as its sizers need, and never smaller.
    if (GetSizer() != nullptr) {
        GetSizer()->SetSizeHints(this);
        Layout();
    }
    return result;
}

void CDialogEx::SwallowEscapeAndEnter()
{
    Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& event) {
        const int key = event.GetKeyCode();
        if (key == WXK_ESCAPE || key == WXK_RETURN || key == WXK_NUMPAD_ENTER) return;
        event.Skip();
    });
}

int CDialogEx::DoModal()
{
    Create();
    CentreOnParent();
    return platform::RunModal(*this);
}

CFrameDialog::CFrameDialog(int templateId, int menuId, wxSize initialSize)
    : wxFrame(nullptr, wxID_ANY, platform::Text(res::Dialog(templateId).caption)),
      m_templateId(templateId),
      m_menuId(menuId),
      m_initialSize(initialSize)
{
}

bool CFrameDialog::Create()
{
    const res::DialogTemplate& t = res::Dialog(m_templateId);
    m_panel = new wxPanel(this, wxID_ANY);
    platform::CreateTemplateControls(m_panel, t);
    auto* bar = new wxMenuBar;
    for (const res::MenuTemplate& drop : res::Menu(m_menuId)) {
        auto* menu = new wxMenu;
        for (const res::MenuItemTemplate& item : drop.items) {
            if (item.text.empty()) {
                menu->AppendSeparator();
            } else {
                menu->Append(res::ToToolkitId(item.command), platform::Text(item.text));
            }
        }
        bar->Append(menu, platform::Text(drop.text));
    }
    SetMenuBar(bar);
    SetClientSize(FromDIP(m_initialSize));
    DoDataExchange();
    const bool result = OnInitDialog();
    CentreOnScreen();
    return result;
}
