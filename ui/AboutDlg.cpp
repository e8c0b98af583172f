// The About box: the template's Chinese texts replaced by English ones.
#include "ui/AboutDlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
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
    // The icon beside the text, OK below on the right.
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(GetDlgItem(res::IDC_ABOUT_TEXT), wxSizerFlags(1).Expand().Border(wxBOTTOM, FromDIP(16)));
    column->Add(GetDlgItem(wxID_OK), wxSizerFlags().Right());
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(GetDlgItem(res::IDR_MAINFRAME), wxSizerFlags().Top().Border(wxRIGHT, FromDIP(16)));
    row->Add(column, wxSizerFlags(1).Expand());
    auto* edge = new wxBoxSizer(wxVERTICAL);
    edge->Add(row, wxSizerFlags(1).Expand().Border(wxALL, FromDIP(14)));
    SetSizer(edge);
    return true;
}
