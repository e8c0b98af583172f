// The About box: the template's Chinese texts replaced by English ones.
#include "AboutDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>

#include "res/Resources.h"

CAboutDlg::CAboutDlg(wxWindow* parent) : CDialogEx(res::IDD_ABOUTBOX, parent) {}

bool CAboutDlg::OnInitDialog()
{
    SetTitle("About Kestrow");
    if (auto* text = dynamic_cast<wxStaticText*>(GetDlgItem(res::IDC_ABOUT_TEXT))) text->SetLabel("Kestrow V3.1");
    if (auto* ok = GetDlgItem(wxID_OK)) ok->SetLabel("OK");
    return true;
}
