// The main window on a virtual display, driven through its handlers and the platform hooks.
#include <gtest/gtest.h>
#include <wx/dnd.h>

#include <cstring>
#include <wx/app.h>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/statusbr.h>
#include <wx/weakref.h>

#include <fstream>

#include "StoreHelpers.h"
#include "fixtures/Backups.h"
#include "platform/Language.h"
#include "platform/Platform.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "res/Resources.h"
#include "store/ProgressChannel.h"
#include "ui/DlgExport.h"
#include "ui/DlgProgress.h"
#include "ui/KestrowDlg.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>

namespace {

using fixtures::PhoneDb;

struct Shown {
    std::string text, caption;
};

class MainWindowTest : public FreshStore {
protected:
    void SetUp() override
    {
        FreshStore::SetUp();
        platform::Hooks& hooks = platform::GetHooks();
        hooks.messageBox = [this](const std::string& text, const std::string& caption, wxWindow*) {
            m_boxes.push_back({text, caption});
            return wxOK;
        };
        hooks.chooseOpenFile = [this](wxWindow*, const std::string& wildcard) {
            m_filters.push_back(wildcard);
            return m_nextChoice;
        };
        hooks.openUrl = [this](const std::string& url) {
            m_urls.push_back(url);
            return true;
        };
        hooks.chooseFolder = [this](wxWindow*, const std::string&) { return m_nextFolder; };
        hooks.confirm = [this](wxWindow*, const std::string& question) {
            m_questions.push_back(question);
            return m_answer;
        };
        hooks.runModal = [this](wxDialog& dialog) -> int {
            if (m_onModal) return m_onModal(dialog);
            m_modalTitles.push_back(std::string(dialog.GetTitle().utf8_str()));
            for (wxWindow* child : dialog.GetChildren()) {
                m_modalTexts.push_back(std::string(child->GetLabel().utf8_str()));
            }
            return wxID_OK;
        };
        m_window = new CKestrowDlg;
        m_window->Create();
        m_window->Show();
        wxTheApp->Yield();
    }

    void TearDown() override
    {
        if (m_window) m_window->Destroy();
        wxTheApp->ProcessIdle();
        platform::ResetHooks();
        FreshStore::TearDown();
    }

    void Open(const std::filesystem::path& path)
    {
        m_nextChoice = path.string();
        wxCommandEvent event;
        m_window->OnOpenDatabase(event);
    }

    std::filesystem::path AndroidDatabase()
    {
        const auto path = m_dir / "mmssms.db";
        fixtures::WriteTwoPartnerAndroid(path);
        return path;
    }

    // An Android database with messages deleted from its main file.
    std::filesystem::path DatabaseWithDeletions()
    {
        const auto path = m_dir / "mmssms.db";
        PhoneDb db = PhoneDb::Android(path);
        db.AddAndroidAddress("13812345678");
        db.AddAndroidAddress("10086");
        for (int i = 0; i < 30; ++i) {
            db.AddAndroidSms({.address = i % 3 == 0 ? "10086" : "13812345678",
                              .date = std::int64_t{1'439'532'000'000} + i * 1000, .type = 1,
                              .body = "message " + std::to_string(i) + " 晚上一起吃饭吗？", .id = std::int64_t{1000 + i}});
        }
        db.Exec("DELETE FROM sms WHERE _id IN (1004, 1005, 1007);");
        return path;
    }

    static int ProgressWindows()
    {
        int count = 0;
        for (wxWindow* window : wxTopLevelWindows) {
            if (dynamic_cast<CDlgProgress*>(window) != nullptr && !window->IsBeingDeleted()) ++count;
        }
        return count;
    }

    void Recover()
    {
        wxCommandEvent event;
        m_window->OnRecover(event);
    }

    wxColour ColourAt(long position)
    {
        wxTextAttr style;
        EXPECT_TRUE(m_window->m_viewMessages->GetStyle(position, style));
        return style.GetTextColour();
    }

    wxWeakRef<CKestrowDlg> m_window;
    std::optional<std::string> m_nextChoice;
    std::vector<std::string> m_questions;  // asked through Confirm
    bool m_answer = true;
    std::optional<std::string> m_nextFolder;
    std::function<int(wxDialog&)> m_onModal;
    std::vector<Shown> m_boxes;
    std::vector<std::string> m_filters, m_urls, m_modalTitles, m_modalTexts;
};

std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

// The window's texts in the language the suite runs in (English, or Chinese for a Chinese
// locale): expectations go through the same catalog, and LanguageTest checks the catalog.
std::string T(const char* english) { return platform::Tr(english); }
const Translator TR = platform::WindowTranslator();

// Sends a key to a dialog's char hook; true when a handler took it without passing it on.
bool KeyIsSwallowed(wxDialog& dialog, int key)
{
    wxKeyEvent press(wxEVT_CHAR_HOOK);
    press.m_keyCode = key;
    press.SetEventObject(&dialog);
    return dialog.GetEventHandler()->ProcessEvent(press) && !press.GetSkipped();
}

TEST_F(MainWindowTest, StartsWithItsMenuColumnsAndIntroduction)
{
    EXPECT_EQ(Utf8(m_window->GetTitle()), "Kestrow");
    wxMenuBar* bar = m_window->GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), 3u);
    EXPECT_EQ(Utf8(bar->GetMenuLabel(0)), T("File(&F)"));
    EXPECT_EQ(Utf8(bar->GetMenuLabel(1)), T("&View"));
    EXPECT_EQ(Utf8(bar->GetMenuLabel(2)), T("Help(&H)"));
    // The File menu's commands in their order (their texts are the catalogue check's).
    const int file[] = {res::ID_OPEN_DATABASE, res::ID_OPEN_SOURCE, res::ID_LOAD_CONTACTS, res::ID_RECOVER,
                        res::ID_DEEP_RECOVERY, 0, res::ID_EXPORT, 0, res::ID_QUIT};
    for (std::size_t i = 0; i < std::size(file); ++i) {
        wxMenuItem* item = bar->GetMenu(0)->FindItemByPosition(i);
        EXPECT_EQ(item->IsSeparator(), file[i] == 0) << i;
        if (file[i] != 0) {
            EXPECT_EQ(res::FromToolkitId(item->GetId()), file[i]) << i;
        }
    }

    CListCtrl& list = *m_window->m_listConversations;
    ASSERT_EQ(list.GetColumnCount(), 4);
    const char* titles[] = {"Phone Number", "Recent Time", "Quantity", "Name"};
    for (int i = 0; i < 4; ++i) {
        wxListItem column;
        column.SetMask(wxLIST_MASK_TEXT);
        list.GetColumn(i, column);
        EXPECT_EQ(Utf8(column.GetText()), T(titles[i]));
    }
    // Wide enough for a full date-time in this font.
    EXPECT_GE(list.GetColumnWidth(1), list.GetTextExtent("2015-08-14 09:05:03").GetWidth());
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(Utf8(m_window->m_viewMessages->GetValue()), IntroductionText(TR));
    EXPECT_EQ(g_store.currentReader, nullptr);

    // Laid out by sizers: the search field at the top left, the list below it, the view beside.
    EXPECT_EQ(m_window->m_search->GetPosition(), wxPoint(10, 10));
    EXPECT_EQ(list.GetPosition().y, m_window->m_search->GetRect().GetBottom() + 5);
    EXPECT_EQ(m_window->m_viewMessages->GetPosition().y, 10);
}

TEST_F(MainWindowTest, OpenFillsTheListAndSelectingARowShowsTheConversation)
{
    Open(AndroidDatabase());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_window->m_strDatabasePath, (m_dir / "mmssms.db").string());
    CListCtrl& list = *m_window->m_listConversations;
    const std::vector<ListRow> rows = ConversationRows(TR);  // row 0 named in the shown language
    ASSERT_EQ(list.GetItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Utf8(list.GetItemText(i, 0)), rows[i].address);
        EXPECT_EQ(Utf8(list.GetItemText(i, 1)), rows[i].recentTime);
        EXPECT_EQ(Utf8(list.GetItemText(i, 2)), rows[i].quantity);
    }
    EXPECT_EQ(Utf8(list.GetItemText(1, 0)), "13812345678");
    EXPECT_EQ(list.GetSelectedItemCount(), 0);
    EXPECT_EQ(Utf8(m_window->m_viewMessages->GetValue()), "");  // empty until a row is selected

    // Rows of conversations with recovered messages are red in every column.
    g_store.conversations[1].recoveredCount = 2;
    m_window->FillConversationList();
    EXPECT_EQ(Utf8(list.GetItemText(1, 2)), "2(2)");
    EXPECT_EQ(list.GetItemTextColour(1), wxColour(255, 0, 0));
    EXPECT_FALSE(list.GetItemTextColour(2).IsOk());

    // Selecting a row from code sends the selection event, as a click does.
    list.SetItemState(1, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    wxTheApp->Yield();
    const std::string expected = "13812345678 2015-08-14 06:00:00\n你好\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n";
    const std::string shown = Utf8(m_window->m_viewMessages->GetValue());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(ColourAt(0), wxColour(38, 129, 27));
    EXPECT_EQ(ColourAt(static_cast<long>(wxString::FromUTF8("13812345678 2015-08-14 06:00:00\n").length()) + 1),
              wxColour(20, 20, 20));

    // The handler shows the row again whenever it is told the row is selected.
    m_window->m_viewMessages->SetValue("edited by the user");
    wxListEvent again(wxEVT_LIST_ITEM_SELECTED, res::IDC_CONVERSATION_LIST);
    again.m_itemIndex = 1;
    m_window->OnConversationChanged(again);
    EXPECT_EQ(Utf8(m_window->m_viewMessages->GetValue()), expected);

    // A find whose bytes are not UTF-8 does not blank the conversation: it reads back with
    // U+FFFD in place of the malformed bytes.
    MessageRecord broken;
    broken.address = "13812345678";
    broken.time = 1'439'532'100'000;
    broken.body = "caf\xE9 \xF0\x9F";
    g_store.currentReader->m_recovered = {broken};
    g_store.currentReader->m_recoveredCount = 1;
    m_window->OnConversationChanged(again);
    EXPECT_NE(Utf8(m_window->m_viewMessages->GetValue()).find("caf\uFFFD \uFFFD\n"), std::string::npos);
    g_store.currentReader->m_recovered.clear();
    g_store.currentReader->m_recoveredCount = 0;

    // Opening a database again empties the view: the old conversation does not stand beside
    // the new list.
    Open(m_dir / "mmssms.db");
    EXPECT_EQ(Utf8(m_window->m_viewMessages->GetValue()), "");
    ASSERT_EQ(list.GetItemCount(), 3);

    // With nothing selected, Down reaches row 0 (the catch-all entry) first.
    list.SetItemState(1, 0, wxLIST_STATE_SELECTED);
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = WXK_DOWN;
    down.SetEventObject(&list);
    list.GetEventHandler()->ProcessEvent(down);
    EXPECT_EQ(list.GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 0);
}

TEST_F(MainWindowTest, WrongFilesCancelAndUnreadableFiles)
{
    const auto path = AndroidDatabase();
    m_nextChoice = std::nullopt;
    wxCommandEvent event;
    m_window->OnOpenDatabase(event);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(m_window->m_strDatabasePath.empty());
    ASSERT_EQ(m_filters.size(), 1u);
    EXPECT_EQ(m_filters[0], OpenFileFilter(TR));
    EXPECT_EQ(OpenFileFilter(), "SMS database file (*.db)|*.[dD][bB]|Android extraction (*.tar, *.tgz, *.zip)|"
                                "*.[tT][aA][rR];*.[tT][gG][zZ];*.[gG][zZ];*.[zZ][iI][pP]|All files|*");

    std::ofstream(m_dir / "old_mmssms.db") << "some notes";
    Open(m_dir / "old_mmssms.db");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, WrongFileText(TR));
    EXPECT_EQ(m_boxes[0].caption, "Kestrow");
    EXPECT_EQ(g_store.currentReader, nullptr);

    // A file that carries the name but holds no database opens, with the reason shown.
    const auto named = m_dir / "copy" / "sms.db";
    std::filesystem::create_directories(named.parent_path());
    std::ofstream(named) << "not a database";
    Open(named);
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, OpenProblemSentence(named.string(), OpenProblem::NotSqlite, TR));
    EXPECT_EQ(m_window->m_strDatabasePath, named.string());
    EXPECT_EQ(m_window->m_listConversations->GetItemCount(), 1);

    // A copy cut short opens with what it still holds, and says it is truncated.
    const auto source = AndroidDatabase();
    const auto cut = m_dir / "cut" / "mmssms.db";
    std::filesystem::create_directories(cut.parent_path());
    std::filesystem::copy_file(source, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(source) - 4096 - 100);
    Open(cut);
    ASSERT_EQ(m_boxes.size(), 3u);
    ASSERT_FALSE(g_store.currentReader->m_loadWarnings.empty());
    EXPECT_EQ(m_boxes[2].text, LoadWarningSentence(g_store.currentReader->m_loadWarnings[0], TR));
}

// File > Open backup or extraction: a folder that holds a phone's messages database opens it;
// one that holds none says why.
TEST_F(MainWindowTest, ABackupOrExtractionFolderOpens)
{
    const auto extraction = m_dir / "extraction";
    const auto databases = extraction / "data" / "user_de" / "0" / "com.android.providers.telephony" / "databases";
    std::filesystem::create_directories(databases);
    fixtures::WriteTwoPartnerAndroid(databases / "mmssms.db");
    wxCommandEvent event;
    m_nextFolder = extraction.string();
    m_window->OnOpenSource(event);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_window->m_listConversations->GetItemCount(), 3);
    EXPECT_EQ(m_window->m_strDatabasePath, (databases / "mmssms.db").string());

    m_nextFolder = m_dir.Path().string() + "/nothing";
    std::filesystem::create_directories(m_nextFolder.value());
    m_window->OnOpenSource(event);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_NE(m_boxes[0].text.find("holds neither an iPhone backup"), std::string::npos);
    EXPECT_EQ(m_window->m_listConversations->GetItemCount(), 3);  // the open database stays

    // An encrypted backup asks for its password until it is right, or until Cancel.
    const auto loose = m_dir / "loose";
    std::filesystem::create_directories(loose);
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Iphone(loose / "sms.db");
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "locked away", .handleId = 1, .date = std::int64_t{700'000'000}});
    }
    fixtures::WriteIphoneBackup(loose / "sms.db", m_dir / "locked", "secret");
    std::vector<std::string> prompts;
    std::vector<std::optional<std::string>> answers = {std::nullopt, "secret", "guess"};
    platform::GetHooks().askPassword = [&](wxWindow*, const std::string& prompt) {
        prompts.push_back(prompt);
        const std::optional<std::string> answer = answers.back();
        answers.pop_back();
        return answer;
    };
    m_nextFolder = (m_dir / "locked").string();
    m_window->OnOpenSource(event);
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[1], Fill(T("The password was wrong. The password of the backup %s:"), {m_nextFolder.value()}));
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_window->m_listConversations->GetItemCount(), 2);
    m_window->OnOpenSource(event);  // cancelled: nothing said, nothing changed
    EXPECT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_window->m_listConversations->GetItemCount(), 2);
}

TEST_F(MainWindowTest, UsersContactsAndDropsOfSources)
{
    // An extraction of two users asks whose messages to read; that user's contacts name them.
    const auto extraction = m_dir / "extraction";
    for (const char* user : {"0", "10"}) {
        const auto databases = extraction / "data" / "user_de" / user / "com.android.providers.telephony" / "databases";
        std::filesystem::create_directories(databases);
        fixtures::WriteTwoPartnerAndroid(databases / "mmssms.db");
    }
    const auto contacts = extraction / "data" / "user" / "10" / "com.android.providers.contacts" / "databases";
    std::filesystem::create_directories(contacts);
    fixtures::WriteAndroidContacts(contacts / "contacts2.db", {{"Li Wei", {"+86 138 1234 5678"}, {}}});
    std::vector<std::string> offered;
    platform::GetHooks().chooseOne = [&](wxWindow*, const std::string&, const std::vector<std::string>& choices) {
        offered = choices;
        return std::optional<int>(1);
    };
    wxCommandEvent event;
    m_nextFolder = extraction.string();
    m_window->OnOpenSource(event);
    EXPECT_EQ(offered, (std::vector<std::string>{Fill(T("User %d"), {"0"}), Fill(T("User %d"), {"10"})}));
    EXPECT_NE(m_window->m_strDatabasePath.find("user_de/10/"), std::string::npos);
    CListCtrl& list = *m_window->m_listConversations;
    EXPECT_EQ(Utf8(list.GetItemText(1, 3)), "Li Wei");
    EXPECT_EQ(m_window->m_case->Evidence().source.type, "android-extraction");

    // Contacts loaded by hand name a loose database; a file that holds none says so.
    const auto loose = m_dir / "mmssms.db";
    fixtures::WriteTwoPartnerAndroid(loose);
    const std::vector<std::pair<std::string, std::string>> before = fixtures::SnapshotFolder(m_dir.Path());
    m_nextChoice = loose.string();
    m_window->OnOpenDatabase(event);
    EXPECT_EQ(Utf8(list.GetItemText(1, 3)), "");
    m_nextChoice = (contacts / "contacts2.db").string();
    m_window->OnLoadContacts(event);
    EXPECT_EQ(Utf8(list.GetItemText(1, 3)), "Li Wei");
    ASSERT_FALSE(m_boxes.empty());
    EXPECT_EQ(m_boxes.back().text, Fill(T("%d of %d conversations are named from %s (%d contacts)."),
                                        {"1", "2", m_nextChoice.value(), "1"}));
    m_nextChoice = loose.string();
    m_window->OnLoadContacts(event);
    EXPECT_NE(m_boxes.back().text.find("neither an Android contacts database"), std::string::npos);
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before);

    // The unlocking of an encrypted backup shows its progress; Cancel there stops quietly.
    fixtures::WriteIphoneBackup(m_dir / "empty-iphone.db", m_dir / "locked", "secret");
    platform::GetHooks().askPassword = [](wxWindow*, const std::string&) { return std::optional<std::string>("secret"); };
    std::vector<int> shown;
    platform::GetHooks().workProgress = [&](int percent) {
        shown.push_back(percent);
        return false;
    };
    const std::size_t boxes = m_boxes.size();
    m_nextFolder = (m_dir / "locked").string();
    m_window->OnOpenSource(event);
    EXPECT_EQ(shown, (std::vector<int>{0}));
    EXPECT_EQ(m_boxes.size(), boxes);
    EXPECT_EQ(m_window->m_strDatabasePath, loose.string());

    // A file dropped on the list opens once the drop is over.
    const auto dropped = m_dir / "dropped" / "mmssms.db";
    std::filesystem::create_directories(dropped.parent_path());
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Android(dropped);
        db.AddAndroidAddress("5550001");
    }
    wxArrayString files;
    files.Add(wxString::FromUTF8(dropped.string()));
    auto* target = dynamic_cast<wxFileDropTarget*>(list.GetDropTarget());
    ASSERT_NE(target, nullptr);
    EXPECT_TRUE(target->OnDropFiles(0, 0, files));
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(m_window->m_strDatabasePath, dropped.string());
}

TEST_F(MainWindowTest, TheStatusBarNamesTheZoneThatViewTimeZoneChooses)
{
    Open(AndroidDatabase());
    wxStatusBar* status = m_window->GetStatusBar();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(Utf8(status->GetStatusText()), StatusText(m_window->m_strDatabasePath, TR));
    EXPECT_NE(Utf8(status->GetStatusText()).find(Fill(T("Times in %s"), {"UTC"})), std::string::npos);
    CListCtrl& list = *m_window->m_listConversations;
    const int row = list.FindItem(-1, "13812345678");
    const std::string before = Utf8(list.GetItemText(row, 1));
    platform::GetHooks().chooseOne = [](wxWindow*, const std::string&, const std::vector<std::string>& choices) {
        return std::optional<int>(static_cast<int>(std::find(choices.begin(), choices.end(), "Asia/Shanghai") - choices.begin()));
    };
    wxCommandEvent event;
    m_window->OnTimeZone(event);
    EXPECT_NE(Utf8(status->GetStatusText()).find("Asia/Shanghai, UTC+08:00"), std::string::npos);
    EXPECT_EQ(Utf8(list.GetItemText(row, 1)), "2015-08-14 14:01:00");
    EXPECT_NE(before, Utf8(list.GetItemText(row, 1)));
    platform::GetHooks().chooseOne = [](wxWindow*, const std::string&, const std::vector<std::string>&) { return std::optional<int>(0); };
    m_window->OnTimeZone(event);  // the computer's zone again
    EXPECT_EQ(Utf8(list.GetItemText(row, 1)), before);
}

TEST_F(MainWindowTest, SearchListsTheHitsAndOpensEachWithTheHitSelected)
{
    m_window->Search("hi");
    ASSERT_EQ(m_boxes.size(), 1u);  // nothing open yet
    Open(AndroidDatabase());
    // An isolated right-to-left text before the hit must not shift the selection.
    for (MessageRecord& m : g_store.liveMessages) {
        if (m.body == "你好") m.body = "مرحبا\nsee you, THERE";
    }
    m_window->Search("there");
    ASSERT_TRUE(m_window->m_results);
    CListCtrl& results = *m_window->m_results->m_list;
    ASSERT_EQ(results.GetItemCount(), 2);
    EXPECT_EQ(Utf8(results.GetItemText(0, 0)), "13812345678");
    for (int i = 0; i < 2; ++i) {
        m_window->OpenHit(static_cast<std::size_t>(i));
        CRichEditCtrl& view = *m_window->m_viewMessages;
        long from = 0, to = 0;
        view.GetSelection(&from, &to);
        EXPECT_EQ(Utf8(view.GetRange(from, to)), i == 0 ? "THERE" : "there") << i;
        EXPECT_EQ(m_window->m_listConversations->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), 1);
    }
    m_window->ClearSearch();
    wxTheApp->ProcessIdle();
    EXPECT_FALSE(m_window->m_results);
    EXPECT_TRUE(m_window->m_hits.empty());
}

TEST_F(MainWindowTest, ViewFiltersAndTheExportsTimeRange)
{
    Open(AndroidDatabase());
    CListCtrl& list = *m_window->m_listConversations;
    const int row = list.FindItem(-1, "13812345678");
    m_window->ShowConversation(row);
    // The context menu copies a message, alone or with its heading.
    std::vector<std::string> copied;
    platform::GetHooks().copyText = [&](const std::string& text) {
        copied.push_back(text);
        return true;
    };
    m_window->CopyMessage(0, false);
    m_window->CopyMessage(0, true);
    EXPECT_EQ(copied, (std::vector<std::string>{"你好", "13812345678 2015-08-14 06:00:00\n你好"}));
    EXPECT_EQ(MessageAtCharacter(ConversationRuns(row), 33), 0u);  // in the first message's text
    EXPECT_EQ(MessageAtCharacter(ConversationRuns(row), 40), 1u);  // in the second's heading

    auto show = [this](int id) {
        wxCommandEvent event(wxEVT_MENU, res::ToToolkitId(id));
        m_window->OnShowFilter(event);
        return Utf8(m_window->m_viewMessages->GetValue());
    };
    EXPECT_EQ(show(res::ID_SHOW_SENT), "Me 2015-08-14 06:01:00\nhi\nthere\n\n");
    EXPECT_NE(Utf8(m_window->GetStatusBar()->GetStatusText()).find(T("showing sent messages only")), std::string::npos);
    EXPECT_EQ(show(res::ID_SHOW_RECEIVED), "13812345678 2015-08-14 06:00:00\n你好\n\n");
    EXPECT_EQ(show(res::ID_SHOW_RECOVERED), "");
    EXPECT_EQ(show(res::ID_SHOW_MMS), "");  // the kinds: these are SMS
    EXPECT_EQ(show(res::ID_SHOW_SMS), "13812345678 2015-08-14 06:00:00\n你好\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");
    std::vector<std::string> answers = {"2015-08-14 06:00:30", ""};  // until, then since (asked first)
    platform::GetHooks().askText = [&](wxWindow*, const std::string&) {
        const std::string answer = answers.back();
        answers.pop_back();
        return std::optional<std::string>(answer);
    };
    EXPECT_EQ(show(res::ID_SHOW_RANGE), "13812345678 2015-08-14 06:00:00\n你好\n\n");
    EXPECT_EQ(show(res::ID_SHOW_ALL), "13812345678 2015-08-14 06:00:00\n你好\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");

    // The export dialog writes the messages of its time range; a field without a date says so.
    const auto out = m_dir / "ranged";
    std::filesystem::create_directory(out);
    m_nextFolder = out.string();
    m_onModal = [&](wxDialog& dialog) {
        auto& exporter = dynamic_cast<CDlgExport&>(dialog);
        exporter.m_contactList->CheckItem(exporter.m_contactList->FindItem(-1, "13812345678"), true);
        auto* since = dynamic_cast<wxTextCtrl*>(exporter.GetDlgItem(res::IDC_EXPORT_SINCE));
        since->SetValue("14 August");
        wxCommandEvent click;
        exporter.OnExport(click);
        since->SetValue("2015-08-14 06:00:30");
        exporter.OnExport(click);
        return wxID_OK;
    };
    wxCommandEvent event;
    m_window->OnExport(event);
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[0].text, Fill(T("%s is not a date: give YYYY-MM-DD or YYYY-MM-DD hh:mm."), {"14 August"}));
    std::ifstream written(out / "13812345678.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "Times in UTC\n\nMe 2015-08-14 06:01:00\nhi\nthere\n\n");
}

TEST_F(MainWindowTest, LinksOpenOnlyOnALeftButtonRelease)
{
    // The control counts characters, not bytes: the Chinese introduction has many multi-byte ones.
    const wxString intro = wxString::FromUTF8(IntroductionText(TR));
    const long start = static_cast<long>(intro.Find("www."));
    const long end = static_cast<long>(intro.Length()) - 1;  // before the full stop
    for (wxEventType type : {wxEVT_MOTION, wxEVT_LEFT_DOWN, wxEVT_RIGHT_UP, wxEVT_LEFT_UP}) {
        wxMouseEvent mouse(type);
        wxTextUrlEvent link(res::IDC_MESSAGE_VIEW, mouse, start, end);
        m_window->OnViewLink(link);
    }
    // The introduction's own link leads to the project's README.
    ASSERT_EQ(m_urls.size(), 1u);
    EXPECT_TRUE(m_urls[0].starts_with("file://") && m_urls[0].ends_with("/README.md")) << m_urls[0];
    const std::string readme = m_urls[0];
    EXPECT_TRUE(m_questions.empty());

    // A link from the evidence opens as it is, after the whole address was confirmed; file: and
    // other schemes never open.
    m_window->m_viewMessages->SetValue(
        "see https://example.org/a?b=1 or mailto:a@example.org, file:///etc/passwd, ftp://x.example/y");
    for (const char* text : {"https://example.org/a?b=1", "mailto:a@example.org", "file:///etc/passwd", "ftp://x.example/y"}) {
        const std::string value = Utf8(m_window->m_viewMessages->GetValue());
        const long from = static_cast<long>(value.find(text));
        wxMouseEvent up(wxEVT_LEFT_UP);
        wxTextUrlEvent link(res::IDC_MESSAGE_VIEW, up, from, from + static_cast<long>(std::strlen(text)));
        m_window->OnViewLink(link);
    }
    EXPECT_EQ(m_urls, (std::vector<std::string>{readme, "https://example.org/a?b=1", "mailto:a@example.org"}));
    EXPECT_EQ(m_questions, (std::vector<std::string>{OpenLinkQuestion("https://example.org/a?b=1", TR),
                                                     OpenLinkQuestion("mailto:a@example.org", TR)}));
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[0].text, RefusedLinkText("file:///etc/passwd", TR));
    m_urls.clear();

    wxCommandEvent event;
    m_window->OnHomePage(event);
    m_window->OnUsage(event);
    EXPECT_EQ(m_urls, (std::vector<std::string>{readme, readme}));
}

TEST_F(MainWindowTest, AboutBoxTexts)
{
    wxCommandEvent event;
    m_window->OnAbout(event);
    ASSERT_EQ(m_modalTitles.size(), 1u);
    EXPECT_EQ(m_modalTitles[0], T("About Kestrow"));
    EXPECT_NE(std::find(m_modalTexts.begin(), m_modalTexts.end(), Fill(T("Kestrow %s"), {KESTROW_VERSION})), m_modalTexts.end());
    EXPECT_NE(std::find(m_modalTexts.begin(), m_modalTexts.end(), T("OK")), m_modalTexts.end());
}

TEST_F(MainWindowTest, LayoutFollowsTheWindowSizeAndTheListFitsItsColumns)
{
    CListCtrl& list = *m_window->m_listConversations;
    CRichEditCtrl& view = *m_window->m_viewMessages;
    const int listWidth = list.GetSize().GetWidth();
    for (const wxSize size : {wxSize(1100, 760), wxSize(900, 500)}) {
        m_window->SetClientSize(size);
        wxTheApp->Yield();
        m_window->Panel()->Layout();
        const wxSize client = m_window->Panel()->GetClientSize();
        EXPECT_EQ(list.GetSize().GetWidth(), listWidth);
        EXPECT_EQ(list.GetPosition().y + list.GetSize().GetHeight(), client.GetHeight() - 10);
        EXPECT_EQ(view.GetPosition().x + view.GetSize().GetWidth(), client.GetWidth() - 10);
        EXPECT_EQ(view.GetPosition().y + view.GetSize().GetHeight(), client.GetHeight() - 10);
        EXPECT_GT(view.GetPosition().x, list.GetPosition().x + list.GetSize().GetWidth());
    }
    // The window keeps a minimum size.
    m_window->SetClientSize(wxSize(120, 20));
    wxTheApp->Yield();
    EXPECT_GE(m_window->GetClientSize().GetWidth(), m_window->FromDIP(560));
    EXPECT_GE(view.GetSize().GetWidth(), 240);

    // A long e-mail address shows whole: its column, and the list, widen to it.
    const auto path = m_dir / "sms.db";
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::Iphone(path);
        db.AddIphoneHandle(1, "a.rather.long.address.of.someone@icloud.example.com");
        db.AddIphoneMessage({.text = "hi", .handleId = 1, .date = std::int64_t{700'000'000}});
    }
    m_window->SetClientSize(wxSize(1100, 760));
    Open(path);
    const int needed = list.GetTextExtent("a.rather.long.address.of.someone@icloud.example.com").GetWidth();
    EXPECT_GE(list.GetColumnWidth(0), needed);
    EXPECT_GT(list.GetSize().GetWidth(), listWidth);
}

TEST_F(MainWindowTest, EnterOpensEscapeAndQuitCloseAskingAboutUnexportedFinds)
{
    auto press = [this](int key) {
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = key;
        event.SetEventObject(m_window);
        m_window->GetEventHandler()->ProcessEvent(event);
        wxTheApp->ProcessIdle();
    };
    // Enter on a selected conversation shows it and never closes the window.
    Open(DatabaseWithDeletions());
    CListCtrl& list = *m_window->m_listConversations;
    list.SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    m_window->m_viewMessages->Clear();
    m_window->m_listConversations->SetFocus();
    press(WXK_RETURN);
    ASSERT_TRUE(m_window);
    EXPECT_FALSE(m_window->m_viewMessages->GetValue().empty());

    // After a recovery that found messages, closing asks first; no keeps the window.
    Recover();
    m_answer = false;
    press(WXK_ESCAPE);
    ASSERT_TRUE(m_window);
    ASSERT_EQ(m_questions.size(), 1u);
    EXPECT_EQ(m_questions[0], T("The recovered messages have not been exported. Close Kestrow anyway?"));
    m_answer = true;
    wxCommandEvent quit;
    m_window->OnQuit(quit);
    wxTheApp->ProcessIdle();
    EXPECT_FALSE(m_window);
    EXPECT_EQ(m_questions.size(), 2u);

    // Nothing recovered: Escape closes at once.
    m_window = new CKestrowDlg;
    m_window->Create();
    m_window->Show();
    press(WXK_ESCAPE);
    EXPECT_FALSE(m_window);
    EXPECT_EQ(m_questions.size(), 2u);
}

TEST_F(MainWindowTest, RecoverMarksTheConversationsAndReports)
{
    Recover();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, T("Please open SMS database file at first."));
    EXPECT_EQ(ProgressWindows(), 0);

    const auto path = DatabaseWithDeletions();
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    Open(path);
    wxCommandEvent event;
    for (int run = 0; run < 2; ++run) {
        Recover();
        wxTheApp->ProcessIdle();
        EXPECT_EQ(ProgressWindows(), 0);  // gone after each run
        EXPECT_EQ(g_progress.window, nullptr);
    }
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_TRUE(m_boxes[2].text.starts_with(RecoveredCountSentence(3, TR) + "\n" + T("Note: short message recovery is not 100% successful, and the new messages might cover the deleted data blocks randomly, "))) << m_boxes[2].text;
    EXPECT_EQ(m_boxes[2].caption, "Kestrow");
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before) << "the files changed";
    CListCtrl& list = *m_window->m_listConversations;
    const int row = list.FindItem(-1, "13812345678");
    ASSERT_GE(row, 0);
    EXPECT_EQ(Utf8(list.GetItemText(row, 2)), "17(3)");
    EXPECT_EQ(list.GetItemTextColour(row), wxColour(255, 0, 0));
    const int other = list.FindItem(-1, "10086");
    EXPECT_EQ(Utf8(list.GetItemText(other, 2)), "10");
    EXPECT_FALSE(list.GetItemTextColour(other).IsOk());

    // The recovered messages show in red among the live ones.
    m_window->ShowConversation(row);
    const std::string shown = Utf8(m_window->m_viewMessages->GetValue());
    const std::size_t at = shown.find("message 4 ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(ColourAt(static_cast<long>(wxString::FromUTF8(shown.substr(0, at)).length())), wxColour(255, 0, 0));

    // The deep recovery runs the same way, with the files it read in its summary.
    m_window->OnDeepRecovery(event);
    wxTheApp->ProcessIdle();
    EXPECT_EQ(ProgressWindows(), 0);
    ASSERT_EQ(m_boxes.size(), 4u);
    EXPECT_TRUE(m_boxes[3].text.starts_with(RecoveredCountSentence(3, TR) + " " + Fill(T("The deep recovery read %s."), {"mmssms.db"}) + "\n"))
        << m_boxes[3].text;
    EXPECT_EQ(Utf8(list.GetItemText(list.FindItem(-1, "13812345678"), 2)), "17(3)");
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before) << "the files changed";

    // The open conversation was shown again after the run: it opens at its first recovered
    // message, whose heading says where it was found.
    CRichEditCtrl& view = *m_window->m_viewMessages;
    const std::string again = Utf8(view.GetValue());
    EXPECT_NE(again.find(" — found in mmssms.db"), std::string::npos);
    EXPECT_GT(view.ShownFrom(), 0);
    EXPECT_EQ(view.GetInsertionPoint(), view.ShownFrom());
    EXPECT_EQ(ColourAt(view.ShownFrom()), wxColour(255, 0, 0));
    EXPECT_TRUE(Utf8(view.GetRange(view.ShownFrom(), view.ShownFrom() + 11)) == "13812345678");
    EXPECT_EQ(list.GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), list.FindItem(-1, "13812345678"));
}

TEST_F(MainWindowTest, ProgressWindowShowsThePercentageAndTheTime)
{
    CDlgProgress progress(m_window);
    progress.Create();
    EXPECT_EQ(Utf8(progress.GetTitle()), T("Recovering…"));
    EXPECT_EQ(Utf8(progress.m_elapsedLabel->GetLabel()), "");  // empty until the first notification
    progress.m_startTick -= 1234;
    g_progress.percent = 45;
    progress.OnProgress();
    EXPECT_EQ(progress.m_progressBar->GetValue(), 45);
    // Cancel asks the run to stop (the run's caller then puts everything back as it was).
    wxWindow* cancel = progress.FindWindow(wxID_CANCEL);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(Utf8(cancel->GetLabel()), T("Cancel"));
    wxCommandEvent press(wxEVT_BUTTON, wxID_CANCEL);
    press.SetEventObject(cancel);
    cancel->GetEventHandler()->ProcessEvent(press);
    EXPECT_TRUE(RecoveryCancelled());
    g_progress.cancel = false;
    EXPECT_TRUE(Utf8(progress.m_elapsedLabel->GetLabel()).starts_with(ElapsedText(1234, TR).substr(0, 5)))
        << Utf8(progress.m_elapsedLabel->GetLabel());
    // Escape and Enter are taken by the dialog and go no further; other keys pass.
    EXPECT_TRUE(KeyIsSwallowed(progress, WXK_ESCAPE));
    EXPECT_TRUE(KeyIsSwallowed(progress, WXK_RETURN));
    EXPECT_FALSE(KeyIsSwallowed(progress, 'A'));
    g_progress.percent = 0;
}

TEST_F(MainWindowTest, Sms2RunsTheAlternateModeOnlyWithAnAndroidDatabase)
{
    Open(DatabaseWithDeletions());
    Open(m_dir / "sms2");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.starts_with(RecoveredCountSentence(0, TR).substr(0, 3))) << m_boxes[0].text;
    EXPECT_EQ(g_store.alternateCarving, 0);
    EXPECT_EQ(m_window->m_strDatabasePath, (m_dir / "mmssms.db").string());

    const auto iphone = m_dir / "i";
    std::filesystem::create_directory(iphone);
    {
        PhoneDb db = PhoneDb::Iphone(iphone / "sms.db");
        db.AddIphoneHandle(1, "5550001");
    }
    Open(iphone / "sms.db");
    Open(iphone / "sms2");
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, WrongFileText(TR));
}

TEST_F(MainWindowTest, ExportDialogTicksRowsAndWritesFiles)
{
    // With no database open the list is empty.
    int rowsSeen = -1;
    m_onModal = [&](wxDialog& dialog) {
        rowsSeen = dynamic_cast<CDlgExport&>(dialog).m_contactList->GetItemCount();
        return wxID_CANCEL;
    };
    wxCommandEvent event;
    m_window->OnExport(event);
    EXPECT_EQ(rowsSeen, 0);

    Open(DatabaseWithDeletions());
    Recover();
    m_boxes.clear();
    const auto out = m_dir / "out";
    std::filesystem::create_directory(out);
    m_nextFolder = out.string();
    m_onModal = [&](wxDialog& dialog) {
        auto& exporter = dynamic_cast<CDlgExport&>(dialog);
        CListCtrl& list = *exporter.m_contactList;
        EXPECT_EQ(Utf8(exporter.GetTitle()), T("Export SMS"));
        EXPECT_EQ(Utf8(exporter.GetDlgItem(res::IDC_EXPORT)->GetLabel()), T("Export"));
        EXPECT_EQ(list.GetItemCount(), 3);
        const int row = list.FindItem(-1, "13812345678");
        EXPECT_EQ(Utf8(list.GetItemText(row, 2)), "17 (3)");  // with a space in this list
        wxCommandEvent click;
        exporter.OnExport(click);  // nothing ticked
        list.CheckItem(0, true);
        exporter.OnSelectAll(click);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(list.IsItemChecked(i));
        exporter.OnSelectAll(click);
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(list.IsItemChecked(i));
        exporter.OnSelectWithMessages(click);
        EXPECT_FALSE(list.IsItemChecked(0));  // the catch-all row has no message
        EXPECT_TRUE(list.IsItemChecked(row));
        // Enter exports as the Export button does.
        EXPECT_TRUE(KeyIsSwallowed(exporter, WXK_NUMPAD_ENTER));
        dynamic_cast<wxRadioButton*>(exporter.GetDlgItem(res::IDC_EXPORT_ONE_FILE))->SetValue(true);
        exporter.OnExport(click);
        // The same choice as an HTML report.
        auto* format = dynamic_cast<wxChoice*>(exporter.GetDlgItem(res::IDC_EXPORT_FORMAT));
        EXPECT_EQ(format->GetSelection(), 0);  // text unless the user chooses
        EXPECT_EQ(format->GetCount(), 4u);
        format->SetSelection(1);
        wxCommandEvent chosen(wxEVT_CHOICE, format->GetId());
        chosen.SetEventObject(format);
        format->GetEventHandler()->ProcessEvent(chosen);
        EXPECT_NE(Utf8(exporter.GetDlgItem(res::IDC_EXPORT_ONE_FILE)->GetLabel()).find("html"), std::string::npos);
        exporter.OnExport(click);
        // Escape cancels; so does the Cancel button.
        EXPECT_EQ(Utf8(exporter.FindWindow(wxID_CANCEL)->GetLabel()), T("Cancel"));
        exporter.SetReturnCode(0);
        EXPECT_TRUE(KeyIsSwallowed(exporter, WXK_ESCAPE));
        EXPECT_EQ(exporter.GetReturnCode(), wxID_CANCEL);
        return exporter.GetReturnCode();
    };
    m_window->OnExport(event);
    ASSERT_EQ(m_boxes.size(), 4u);
    EXPECT_EQ(m_boxes[3].text, m_boxes[1].text);
    EXPECT_EQ(m_boxes[0].text, T("Please select at least one friend to export."));
    EXPECT_EQ(m_boxes[1].text, Fill(T("Exported %s (%s, %d recovered) to %s."),
                                      {Fill(T("%d conversations"), {"2"}), Fill(T("%d messages"), {"30"}), "3", out.string()}));
    EXPECT_EQ(m_boxes[2].text, m_boxes[1].text);
    EXPECT_TRUE(std::filesystem::exists(out / "13812345678.txt"));
    EXPECT_TRUE(std::filesystem::exists(out / "10086.txt"));
    int single = 0;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        single += entry.path().filename().string().starts_with("SMS-mmssms.db-") && entry.path().extension() == ".txt" ? 1 : 0;
    }
    EXPECT_EQ(single, 1);
    std::vector<std::filesystem::path> pages;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        if (entry.path().extension() == ".html") pages.push_back(entry.path());
    }
    ASSERT_EQ(pages.size(), 1u);
    std::ifstream in(pages[0]);
    const std::string page(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(page.find("SHA-256"), std::string::npos);  // the evidence taken at Open
    EXPECT_NE(page.find("unchanged since it was opened"), std::string::npos);
}

}  // namespace

// An attachment at hand opens with the desktop's program only after the question; one that is
// not at hand is said to be missing.
TEST_F(MainWindowTest, AttachmentsOpenAfterAskingAndMissingOnesAreSaid)
{
    fixtures::TempDir dir;
    std::filesystem::create_directories(dir.Path() / "Attachments" / "a b");
    std::ofstream(dir.Path() / "Attachments" / "a b" / "IMG #1.png") << "png";
    {
        fixtures::PhoneDb db = fixtures::PhoneDb::IphoneCurrent(dir / "sms.db");
        db.Exec(fixtures::kIphoneExtrasSchema);
        db.AddIphoneHandle(1, "+15550001");
        db.AddIphoneMessage({.text = "\xEF\xBF\xBC\xEF\xBF\xBC", .handleId = 1, .date = std::int64_t{700'000'000}, .id = 1});
        db.Exec("INSERT INTO attachment (ROWID, guid, filename, mime_type, transfer_name) VALUES "
                "(1, 'a', '~/Library/SMS/Attachments/a b/IMG #1.png', 'image/png', 'IMG #1.png'), "
                "(2, 'b', '~/Library/SMS/Attachments/gone.heic', 'image/heic', 'gone.heic');"
                "INSERT INTO message_attachment_join VALUES (1, 1), (1, 2);");
    }
    Open(dir / "sms.db");
    ASSERT_EQ(g_store.liveMessageCount, 1);
    const std::vector<Attachment>& attachments = g_store.liveMessages[0].details->attachments;
    ASSERT_EQ(attachments.size(), 2u);
    m_answer = false;
    m_window->OpenAttachment(attachments[0]);
    EXPECT_TRUE(m_urls.empty());
    m_answer = true;
    m_window->OpenAttachment(attachments[0]);
    EXPECT_EQ(m_questions.size(), 2u);
    ASSERT_EQ(m_urls.size(), 1u);
    EXPECT_TRUE(m_urls[0].starts_with("file:///")) << m_urls[0];
    EXPECT_TRUE(m_urls[0].ends_with("/Attachments/a%20b/IMG%20%231.png")) << m_urls[0];
    m_window->OpenAttachment(attachments[1]);
    EXPECT_EQ(m_urls.size(), 1u);
    ASSERT_FALSE(m_boxes.empty());
    EXPECT_NE(m_boxes.back().text.find("gone.heic"), std::string::npos);
}
