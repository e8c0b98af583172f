// The About box: the template's Chinese texts replaced by English ones.
#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>

#include "platform/Language.h"
#include "res/Resources.h"

CAboutDlg::CAboutDlg(wxWindow* parent) : CDialogEx(res::IDD_ABOUTBOX, parent) {}

bool CAboutDlg::OnInitDialog()
{
    SetTitle(wxString::FromUTF8(platform::Tr("About Kestrow")));
    if (auto* text = dynamic_cast<wxStaticText*>(GetDlgItem(res::IDC_ABOUT_TEXT))) {
        text->SetLabel(wxString::FromUTF8(platform::Tr("Kestrow V3.1")));
    }
    if (auto* ok = GetDlgItem(wxID_OK)) ok->SetLabel(wxString::FromUTF8(platform::Tr("OK")));
    return true;
}
