// The progress window of a recovery run: a bar from 0 to 100 and the elapsed time. It is the
// listener of the progress channel while the run holds the thread.
#pragma once

#include <wx/stattext.h>

#include <cstdint>
#include <string>

#include "platform/Controls.h"
#include "platform/DialogBase.h"
#include "store/ProgressChannel.h"

class CDlgProgress : public CDialogEx, public ProgressListener {
public:
    explicit CDlgProgress(wxWindow* parent);

    // Shows the channel's percentage and the time since the window was shown. Between
    // notifications nothing is drawn (the run holds the thread), so each notification lets
    // wx redraw the window.
    void OnProgress() override;

    std::string m_elapsedText;
    CProgressCtrl* m_progressBar = nullptr;
    wxStaticText* m_elapsedLabel = nullptr;
    std::uint32_t m_startTick = 0;

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;

private:
    void OnShow(wxShowEvent& event);
    void OnClose(wxCloseEvent& event);

    wxDECLARE_EVENT_TABLE();
};
