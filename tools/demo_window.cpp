// Shows the main window with a database opened through the platform hooks and one
// conversation selected, then closes after a few seconds: for screenshots of the program.
//   kestrow-demo-window DATABASE ROW SECONDS
#include <wx/app.h>
#include <wx/timer.h>

#include <cstdlib>
#include <string>

#include "app/KestrowDlg.h"
#include "platform/Platform.h"

class DemoApp : public wxApp {
public:
    bool OnInit() override
    {
        if (argc < 4) return false;
        SetAppDisplayName("Kestrow");
        const std::string database(argv[1].utf8_str());
        const long row = std::atol(argv[2].utf8_str());
        const int seconds = std::atoi(argv[3].utf8_str());
        platform::GetHooks().chooseOpenFile = [database](wxWindow*, const std::string&, const std::string&) {
            return std::optional<std::string>(database);
        };
        auto* window = new CKestrowDlg;
        window->Create();
        window->Show();
        wxCommandEvent open;
        window->OnOpenDatabase(open);
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
