// The progress window.
#include "ui/DlgProgress.h"

#include <wx/sizer.h>

#include <algorithm>

#include "platform/Language.h"
#include "platform/Platform.h"
#include "presentation/ViewModel.h"
#include "res/Resources.h"

// clang-format off
wxBEGIN_EVENT_TABLE(CDlgProgress, CDialogEx)
    EVT_SHOW(      CDlgProgress::OnShow)
    EVT_CLOSE(     CDlgProgress::OnClose)
wxEND_EVENT_TABLE()
// clang-format on

CDlgProgress::CDlgProgress(wxWindow* parent) : CDialogEx(res::IDD_PROGRESS, parent)
{
    SwallowEscapeAndEnter();
    Bind(wxEVT_BUTTON, [](wxCommandEvent&) { g_progress.cancel = true; }, wxID_CANCEL);
}

void CDlgProgress::DoDataExchange()
{
    platform::BindControl(this, res::IDC_PROGRESS_BAR, m_progressBar);
    platform::BindControl(this, res::IDC_PROGRESS_TEXT, m_elapsedLabel);
}

bool CDlgProgress::OnInitDialog()
{
    SetTitle(wxString::FromUTF8(platform::Tr(kProgressTitle)));
    m_elapsedLabel->SetLabel(wxString::FromUTF8(m_elapsedText));
    m_progressBar->SetRange(100);
    m_progressBar->SetValue(0);
    m_startTick = platform::GetTickCount();
    if (wxWindow* cancel = FindWindow(wxID_CANCEL)) cancel->SetLabel(wxString::FromUTF8(platform::Tr("Cancel")));
    // The bar across, the elapsed time and Cancel below it.
    m_progressBar->SetMinSize(FromDIP(wxSize(420, 20)));
    auto* below = new wxBoxSizer(wxHORIZONTAL);
    below->Add(m_elapsedLabel, wxSizerFlags(1).CentreVertical());
    if (wxWindow* cancel = FindWindow(wxID_CANCEL)) below->Add(cancel);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(m_progressBar, wxSizerFlags().Expand().Border(wxBOTTOM, FromDIP(10)));
    column->Add(below, wxSizerFlags().Expand());
    auto* edge = new wxBoxSizer(wxVERTICAL);
    edge->Add(column, wxSizerFlags(1).Expand().Border(wxALL, FromDIP(12)));
    SetSizer(edge);
    return true;
}

void CDlgProgress::OnShow(wxShowEvent& event)
{
    event.Skip();
    if (!event.IsShown()) return;
    // The elapsed time counts from the moment the window appears.
    m_startTick = platform::GetTickCount();
    platform::YieldForRedraw();
}

void CDlgProgress::OnProgress()
{
    const std::uint32_t elapsed = platform::GetTickCount() - m_startTick;  // wraps like a tick count
    m_elapsedText = ElapsedText(elapsed, platform::WindowTranslator());
    m_progressBar->SetValue(std::clamp(g_progress.percent.load(), 0, 100));
    m_elapsedLabel->SetLabel(wxString::FromUTF8(m_elapsedText));
    // The other windows are disabled during a run: the clicks that come through are Cancel's.
    platform::YieldForInput();
}


void CDlgProgress::OnClose(wxCloseEvent& event)
{
    // Only the recovery run that opened the window closes it.
    if (event.CanVeto()) event.Veto();
}
