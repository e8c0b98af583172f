// The About box: the template's Chinese texts replaced by English ones.
#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>

#include "platform/Language.h"
#include "presentation/Texts.h"
#include "res/Resources.h"

CAboutDlg::CAboutDlg(wxWindow* parent) : CDialogEx(res::IDD_ABOUTBOX, parent) {}

bool CAboutDlg::OnInitDialog()
{
    SetTitle(wxString::FromUTF8(platform::Tr("About Kestrow")));
    if (auto* text = dynamic_cast<wxStaticText*>(GetDlgItem(res::IDC_ABOUT_TEXT))) {
        // The program's own version (the original box named a version of its own).
        text->SetLabel(wxString::FromUTF8(Fill(platform::Tr("Kestrow %s"), {KESTROW_VERSION})));
    }
    if (auto* ok = GetDlgItem(wxID_OK)) ok->SetLabel(wxString::FromUTF8(platform::Tr("OK")));
    return true;
}
