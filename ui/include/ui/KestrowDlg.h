// The main window: the conversation list on the left, the message view on the right, and the
// File and Help menus.
#pragma once

#include <wx/iconbndl.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/srchctrl.h>

#include <wx/weakref.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "case/Case.h"
#include "platform/Controls.h"
#include "platform/DialogBase.h"
#include "platform/Platform.h"
#include "query/Search.h"
#include "ui/SearchResults.h"
#include "ui/WorkProgress.h"

class CKestrowDlg : public CFrameDialog {
public:
    CKestrowDlg();

    // Rebuilds the list from the conversation table; no row is selected afterwards and the
    // view keeps its text.
    void FillConversationList();
    // Replaces the view's text with conversation `c` (a row index of the list).
    void ShowConversation(std::int32_t c);
    // Shows the conversation that was in the view again (after a recovery changed the list),
    // selected in the list; nothing when none was.
    void ShowAgain();

    // Command and message handlers (public so that tests can drive them as the toolkit does).
    void OnOpenDatabase(wxCommandEvent& event);
    void OnOpenSource(wxCommandEvent& event);
    // Opens a database file, an iPhone backup folder or an Android extraction folder as Open
    // does, and shows why when it cannot.
    void OpenPath(const std::string& path);
    // Names the conversations from a contacts database the user picks.
    void OnLoadContacts(wxCommandEvent& event);
    void OnRecover(wxCommandEvent& event);
    void OnDeepRecovery(wxCommandEvent& event);
    void OnExport(wxCommandEvent& event);
    void OnQuit(wxCommandEvent& event);
    // Shows the times in another zone: the computer's, UTC or one chosen by name.
    void OnTimeZone(wxCommandEvent& event);
    // The status bar: the file, its counts and the zone of the times.
    void ShowStatus();
    // View › Show …: which messages the view shows (all, sent, received, recovered, a range).
    void OnShowFilter(wxCommandEvent& event);
    // The view's context menu: copy the message under the pointer, or its heading and text.
    void OnViewMenu(wxContextMenuEvent& event);
    void CopyMessage(std::size_t index, bool withHeading);
    // Hands an attachment's file to the desktop's program after asking; says so when it is not at hand.
    void OpenAttachment(const Attachment& a);
    // The row of the conversation in the view; -1 when none is shown.
    std::int32_t ShownRow() const;
    // Ctrl+F: to the search field.
    void OnFind(wxCommandEvent& event);
    // Searches every message for `text` (either case) and lists the hits in the results window.
    void Search(const std::string& text);
    // Empties the search field and forgets the hits (their window goes).
    void ClearSearch();
    // Opens hit `i`: its conversation selected, its message at the top of the view, the hit
    // selected in it.
    void OpenHit(std::size_t i);
    void OnAbout(wxCommandEvent& event);
    void OnHomePage(wxCommandEvent& event);
    void OnUsage(wxCommandEvent& event);
    void OnConversationChanged(wxListEvent& event);
    void OnViewLink(wxTextUrlEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    // The system menu's About (16 to 31); GTK has no system menu to send it, see OnAbout.
    void OnSysCommand(unsigned id);

    // Widens the list's columns to their texts and the list to its columns (up to half the
    // window); called after each fill.
    void FitListToColumns();

    std::string m_strDatabasePath;
    std::unique_ptr<Case> m_case;  // what is open: its source, its evidence facts; null: nothing
    bool m_working = false;        // a long step runs on a worker thread
    std::int32_t m_shownEntry = -1;  // the entry id of the conversation in the view; -1: none
    bool m_reselecting = false;      // ShowAgain is selecting the row it shows
    bool m_unexportedFinds = false;  // a recovery found messages that no export has written since
    wxSearchCtrl* m_search = nullptr;
    MessageFilter m_filter;  // the messages the view shows
    std::vector<SearchHit> m_hits;        // of the last search; pointers into the store's lists
    wxWeakRef<CSearchResults> m_results;  // the results window while it is open
    CListCtrl* m_listConversations = nullptr;
    CRichEditCtrl* m_viewMessages = nullptr;

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;

private:
    void ApplyEnglishTexts();
    void AddSearchField();
    // Places the search field, the list and the view with sizers; the window keeps a minimum size.
    void ArrangeWithSizers();
    void KeepMinimumSize();
    wxBoxSizer* m_left = nullptr;  // the search field over the list
    // Asks for the two ends of a time range; false when cancelled or not a date (said).
    bool AskTimeRange(MessageFilter& filter);
    // The callbacks of an opening: a password (again after a wrong one), the unlocking's
    // progress with Cancel, the user of an extraction of several.
    CaseCallbacks AskingCallbacks(const std::string& chosen, std::optional<platform::WorkProgress>& unlocking);
    // Shows a newly loaded case: the list, an empty view, the status, what the load could not read.
    void ShowOpened(const LoadOutcome& loaded);
    // A recovery run of `mode` with its progress window; then the list is refilled and the
    // summary shown. Refuses (with a message) while no database is open.
    void RunRecovery(RecoveryMode mode);
    // Runs `work` as a long step (see RunWithProgressWindow), the window refusing to close meanwhile.
    void RunLongStep(const LongStep& step, const std::function<void()>& work);

    wxIconBundle m_hIcon;

    wxDECLARE_EVENT_TABLE();
};
