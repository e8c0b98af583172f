// Shows the main window with a database opened through the platform hooks and one
// conversation selected, then closes after a few seconds: for screenshots of the program.
//   kestrow-demo-window DATABASE ROW SECONDS [recover|progress]
// "recover" runs a recovery first (its summary goes to standard error); "progress" also shows
// the progress window as a run would, at 45 percent.
#include <wx/app.h>
#include <wx/timer.h>

#include <cstdlib>
#include <string>

#include <cstdio>

#include "platform/Platform.h"
#include "store/ProgressChannel.h"
#include "ui/DlgExport.h"
#include "ui/DlgProgress.h"
#include "ui/KestrowDlg.h"

class DemoApp : public wxApp {
public:
    bool OnInit() override
    {
        if (argc < 4) return false;
        SetAppDisplayName("Kestrow");
        const std::string database(argv[1].utf8_str());
        const long row = std::atol(argv[2].utf8_str());
        const int seconds = std::atoi(argv[3].utf8_str());
        platform::GetHooks().chooseOpenFile = [database](wxWindow*, const std::string&) {
            return std::optional<std::string>(database);
        };
        const std::string mode = argc > 4 ? std::string(argv[4].utf8_str()) : "";
        platform::GetHooks().messageBox = [](const std::string& text, const std::string&, wxWindow*) {
            std::fprintf(stderr, "%s\n", text.c_str());
            return wxOK;
        };
        // The window closes at the end without asking (a recovery's finds are never exported here).
        platform::GetHooks().confirm = [](wxWindow*, const std::string&) { return true; };
        auto* window = new CKestrowDlg;
        window->Create();
        window->Show();
        wxCommandEvent open;
        window->OnOpenDatabase(open);
        if (mode == "recover" || mode == "progress") {
            wxCommandEvent recover;
            window->OnRecover(recover);
        }
        if (mode == "progress") {
            auto* progress = new CDlgProgress(window);
            progress->Create();
            progress->Show();
            progress->CentreOnParent();
            progress->m_startTick -= 2345;
            g_progress.percent = 45;
            progress->OnProgress();
        }
        if (mode == "export") {
            auto* exporter = new CDlgExport(window, database);
            exporter->Create();
            exporter->Show();
            exporter->CentreOnParent();
        }
        if (row >= 0 && row < window->m_listConversations->GetItemCount()) {
            window->m_listConversations->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        }
        m_timer.Bind(wxEVT_TIMER, [window](wxTimerEvent&) { window->Close(); });
        m_timer.StartOnce(seconds * 1000);
        return true;
    }

private:
    wxTimer m_timer;
};

wxIMPLEMENT_APP(DemoApp);
