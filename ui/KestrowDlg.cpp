// The main window's initialisation, layout and command handlers.
#include "ui/KestrowDlg.h"

#include <wx/dnd.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/srchctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <filesystem>

#include "platform/Language.h"
#include "platform/Platform.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "readers/OpenDatabase.h"
#include "res/Resources.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"
#include "ui/AboutDlg.h"
#include "ui/DlgExport.h"
#include "ui/MainPanes.h"
#include "ui/SearchResults.h"

#include "res/kestrow.xpm"

namespace {

constexpr int kEdgeMargin = 10;  // pixels kept free around the controls

wxIconBundle ApplicationIcons()
{
    wxIconBundle icons;
    const wxImage image(kestrow_xpm);
    for (int size : {16, 24, 32, 48, 64, 128}) {
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(size == 32 ? image : image.Scale(size, size, wxIMAGE_QUALITY_HIGH)));
        icons.AddIcon(icon);
    }
    return icons;
}

// A file or folder dropped on the window opens as Open does. The opening waits until the drop
// is over: it may ask for a password or a user, which must not run inside the drag.
class DropToOpen : public wxFileDropTarget {
public:
    explicit DropToOpen(CKestrowDlg& window) : m_window(window) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override
    {
        if (files.empty()) return false;
        m_window.CallAfter([&window = m_window, path = std::string(files[0].utf8_str())] { window.OpenPath(path); });
        return true;
    }

private:
    CKestrowDlg& m_window;
};

}  // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(CKestrowDlg, CFrameDialog)
    EVT_MENU(res::ToToolkitId(res::ID_OPEN_DATABASE), CKestrowDlg::OnOpenDatabase)
    EVT_MENU(res::ToToolkitId(res::ID_OPEN_SOURCE),   CKestrowDlg::OnOpenSource)
    EVT_MENU(res::ToToolkitId(res::ID_LOAD_CONTACTS), CKestrowDlg::OnLoadContacts)
    EVT_MENU(res::ToToolkitId(res::ID_QUIT),          CKestrowDlg::OnQuit)
    EVT_MENU(res::ToToolkitId(res::ID_TIME_ZONE),     CKestrowDlg::OnTimeZone)
    EVT_MENU(res::ToToolkitId(res::ID_FIND),          CKestrowDlg::OnFind)
    EVT_MENU_RANGE(res::ToToolkitId(res::ID_SHOW_ALL), res::ToToolkitId(res::ID_SHOW_IMESSAGE), CKestrowDlg::OnShowFilter)
    EVT_MENU(res::ToToolkitId(res::ID_RECOVER),       CKestrowDlg::OnRecover)
    EVT_MENU(res::ToToolkitId(res::ID_DEEP_RECOVERY), CKestrowDlg::OnDeepRecovery)
    EVT_MENU(res::ToToolkitId(res::ID_EXPORT),        CKestrowDlg::OnExport)
    EVT_MENU(res::ToToolkitId(res::ID_ABOUT),         CKestrowDlg::OnAbout)
    EVT_MENU(res::ToToolkitId(res::ID_HOME_PAGE),     CKestrowDlg::OnHomePage)
    EVT_MENU(res::ToToolkitId(res::ID_USAGE),         CKestrowDlg::OnUsage)
    EVT_LIST_ITEM_SELECTED(res::IDC_CONVERSATION_LIST, CKestrowDlg::OnConversationChanged)
    EVT_TEXT_URL(res::IDC_MESSAGE_VIEW,               CKestrowDlg::OnViewLink)
    EVT_CHAR_HOOK(                                    CKestrowDlg::OnCharHook)
    EVT_CLOSE(                                        CKestrowDlg::OnClose)
wxEND_EVENT_TABLE()
// clang-format on

CKestrowDlg::CKestrowDlg() : CFrameDialog(res::IDD_KESTROW_DIALOG, res::IDR_MENU, wxSize(928, 596)), m_hIcon(ApplicationIcons())
{
    g_store.currentReader.reset();
}

void CKestrowDlg::DoDataExchange()
{
    platform::BindControl(Panel(), res::IDC_CONVERSATION_LIST, m_listConversations);
    platform::BindControl(Panel(), res::IDC_MESSAGE_VIEW, m_viewMessages);
}

bool CKestrowDlg::OnInitDialog()
{
    SetIcons(m_hIcon);
    SetUpConversationColumns(*m_listConversations);
    AppendPlainText(*m_viewMessages, IntroductionText(platform::WindowTranslator()));
    ApplyEnglishTexts();
    CreateStatusBar();
    ShowStatus();
    AddSearchField();
    ArrangeWithSizers();
    m_viewMessages->Bind(wxEVT_CONTEXT_MENU, &CKestrowDlg::OnViewMenu, this);
    for (wxWindow* target : {static_cast<wxWindow*>(this), static_cast<wxWindow*>(Panel()),
                             static_cast<wxWindow*>(m_listConversations), static_cast<wxWindow*>(m_viewMessages)}) {
        target->SetDropTarget(new DropToOpen(*this));  // the window owns its target
    }
    m_listConversations->SetFocus();
    return true;
}

void CKestrowDlg::ApplyEnglishTexts()
{
    SetTitle(kApplicationName);
    wxMenuBar* bar = GetMenuBar();
    bar->SetMenuLabel(0, wxString::FromUTF8(platform::Tr("File(&F)")));
    bar->SetMenuLabel(1, wxString::FromUTF8(platform::Tr("&View")));
    bar->SetMenuLabel(2, wxString::FromUTF8(platform::Tr("Help(&H)")));
    const char* const file[] = {Translatable("Open SMS database(&O)"),
                                Translatable("Open &backup or extraction…"),
                                Translatable("Load &contacts…"),
                                Translatable("Recover deleted SMS(&R)"),
                                Translatable("&Deep recovery"),
                                nullptr,
                                Translatable("Export(&E)"),
                                nullptr,
                                Translatable("&Quit\tCtrl+Q")};
    const char* const help[] = {Translatable("About(&A)"), Translatable("Home Page"), Translatable("Usage")};
    auto rename = [](wxMenu* menu, std::size_t position, const char* text) {
        if (text != nullptr) menu->FindItemByPosition(position)->SetItemLabel(wxString::FromUTF8(platform::Tr(text)));
    };
    for (std::size_t i = 0; i < std::size(file); ++i) rename(bar->GetMenu(0), i, file[i]);
    const char* const view[] = {Translatable("&Find…\tCtrl+F"),
                                Translatable("Time &zone…"),
                                nullptr,
                                Translatable("Show &all messages"),
                                Translatable("Show &sent messages only"),
                                Translatable("Show &received messages only"),
                                Translatable("Show r&ecovered messages only"),
                                Translatable("Show a &time range…"),
                                Translatable("Show SMS &only"),
                                Translatable("Show &MMS only"),
                                Translatable("Show &iMessages only")};
    for (std::size_t i = 0; i < std::size(view); ++i) rename(bar->GetMenu(1), i, view[i]);
    for (std::size_t i = 0; i < std::size(help); ++i) rename(bar->GetMenu(2), i, help[i]);
}

void CKestrowDlg::FillConversationList()
{
    FillConversationRows(*m_listConversations, ConversationRows(platform::WindowTranslator()));
    if (m_left != nullptr) FitListToColumns();
}

void CKestrowDlg::ShowConversation(std::int32_t c)
{
    const std::vector<TextRun> runs = ConversationRuns(c, m_filter);
    ShowRuns(*m_viewMessages, runs, FirstRunToShow(runs));
    m_shownEntry = c >= 0 && c < g_store.conversationCount ? g_store.conversations[c].entryId : -1;
}

void CKestrowDlg::OnOpenDatabase(wxCommandEvent&)
{
    const std::optional<std::string> path = platform::ChooseOpenFile(this, OpenFileFilter(platform::WindowTranslator()));
    if (path) OpenPath(*path);
}

void CKestrowDlg::OnOpenSource(wxCommandEvent&)
{
    const std::optional<std::string> folder = platform::ChooseFolder(this, "");
    if (folder) OpenPath(*folder);
}

CaseCallbacks CKestrowDlg::AskingCallbacks(const std::string& chosen, std::optional<platform::WorkProgress>& unlocking)
{
    // An encrypted backup asks for its password, again after a wrong one, and shows how far its
    // unlocking has come; an extraction of several users asks whose messages to read. Cancel
    // anywhere stops quietly.
    CaseCallbacks callbacks;
    callbacks.askAgainOnWrongPassword = true;
    callbacks.unlocking = [this, &unlocking](int percent) {
        if (!unlocking) unlocking.emplace(this, kApplicationName, platform::Tr("Unlocking the backup…"));
        return unlocking->Update(percent);
    };
    callbacks.password = [this, chosen](bool again) {
        const std::string prompt = Fill(again ? platform::Tr("The password was wrong. The password of the backup %s:")
                                              : platform::Tr("The backup %s is encrypted. Its password:"),
                                        {chosen});
        return platform::AskPassword(this, prompt);
    };
    callbacks.chooseUser = [this, chosen](const std::vector<int>& users) -> std::optional<int> {
        std::vector<std::string> names;
        for (const int user : users) names.push_back(Fill(platform::Tr("User %d"), {std::to_string(user)}));
        const std::optional<int> picked = platform::ChooseOne(
            this, Fill(platform::Tr("The extraction %s holds the messages of several users. Whose messages are to be read?"), {chosen}),
            names);
        if (!picked) return std::nullopt;
        return users[static_cast<std::size_t>(*picked)];
    };
    return callbacks;
}

void CKestrowDlg::OpenPath(const std::string& chosen)
{
    // A file named "sms2" runs a recovery of the open Android database in the alternate
    // carving mode; the chosen file itself is never read.
    const CSms* reader = g_store.currentReader.get();
    if (m_case && IsAlternateRecoveryPath(chosen) && ClassifyDatabasePath(chosen) == DatabaseName::Other && reader != nullptr &&
        reader->m_deviceKind == kDeviceAndroid) {
        RunRecovery(RecoveryMode::Alternate);
        return;
    }
    auto opening = std::make_unique<Case>();
    std::optional<platform::WorkProgress> unlocking;
    const CaseResult opened = opening->Open(chosen, std::nullopt, AskingCallbacks(chosen, unlocking));
    unlocking.reset();
    if (opened == CaseResult::Cancelled) return;
    if (opened != CaseResult::Done) {
        platform::ShowMessage(opening->Error(), "", this);
        return;
    }
    LoadOutcome loaded;
    RunLongStep({platform::Tr("Opening…"), false, 400}, [&] { loaded = opening->Load(LoadPurpose::Reading, true); });
    if (!opening->IsLoaded()) {
        // Nothing was replaced: the open database stays. A file of another name that cannot be
        // read cannot be told to be a database either.
        const bool wrong = loaded.result == CaseResult::NotMessages || ClassifyDatabasePath(opening->DatabasePath()) == DatabaseName::Other;
        platform::ShowMessage(wrong ? WrongFileText(platform::WindowTranslator()) : opening->Error(), "", this);
        return;
    }
    m_case = std::move(opening);
    // The source's own contacts name the conversations; without them the numbers stand.
    m_case->Name("", "");
    ShowOpened(loaded);
}

void CKestrowDlg::ShowOpened(const LoadOutcome& loaded)
{
    FillConversationList();
    // The previous file's conversation must not stand beside the new list.
    m_viewMessages->Clear();
    m_shownEntry = -1;
    m_strDatabasePath = m_case->DatabasePath();
    ShowStatus();
    ClearSearch();
    if (const std::string said = OpenNoticeText(loaded.problem, m_strDatabasePath, platform::WindowTranslator()); !said.empty()) {
        platform::ShowMessage(said, "", this);
    }
}

void CKestrowDlg::OnLoadContacts(wxCommandEvent&)
{
    if (m_strDatabasePath.empty()) {
        platform::ShowMessage(platform::Tr(kOpenFirstText), "", this);
        return;
    }
    const std::optional<std::string> path = platform::ChooseOpenFile(this, ContactsFileFilter(platform::WindowTranslator()));
    if (!path) return;
    const NamingOutcome named = m_case->Name(*path, "");
    if (named.result != CaseResult::Done) {
        platform::ShowMessage(m_case->Error(), "", this);
        return;
    }
    const NamingResult& naming = named.naming;
    FillConversationList();
    ShowAgain();
    platform::ShowMessage(Fill(platform::Tr("%d of %d conversations are named from %s (%d contacts)."),
                                 {std::to_string(naming.named), std::to_string(naming.conversations), *path,
                                  std::to_string(naming.people)}),
                            "", this);
}

void CKestrowDlg::OnRecover(wxCommandEvent&) { RunRecovery(RecoveryMode::Default); }

void CKestrowDlg::OnDeepRecovery(wxCommandEvent&) { RunRecovery(RecoveryMode::Deep); }

void CKestrowDlg::RunRecovery(RecoveryMode mode)
{
    if (!m_case) {
        platform::ShowMessage(platform::Tr(kOpenFirstText), "", this);
        return;
    }
    ClearSearch();  // the hits point into the lists the run replaces
    CaseResult ran = CaseResult::Done;
    RunLongStep({"", true, 0}, [&] { ran = m_case->Recover(mode); });
    // A cancelled run left the list and the view as they were before it.
    FillConversationList();
    ShowAgain();
    ShowStatus();
    if (ran == CaseResult::Cancelled) return;
    const CSms& reader = *g_store.currentReader;
    m_unexportedFinds = reader.m_recoveredCount > 0;
    platform::ShowMessage(RecoverySummaryText(reader.m_recoveredCount, reader.m_lastScan, platform::WindowTranslator()),
                            "", this);
}

void CKestrowDlg::RunLongStep(const LongStep& step, const std::function<void()>& work)
{
    m_working = true;
    RunWithProgressWindow(this, step, work);
    m_working = false;
}

void CKestrowDlg::ShowAgain()
{
    // Sorting moved the entries: the one shown is found by its identity.
    for (std::int32_t row = 0; row < g_store.conversationCount; ++row) {
        if (g_store.conversations[row].entryId != m_shownEntry || m_shownEntry < 0) continue;
        m_reselecting = true;  // the selection event must not show it a second time
        m_listConversations->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                          wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        m_reselecting = false;
        m_listConversations->EnsureVisible(row);
        ShowConversation(row);
        return;
    }
}

void CKestrowDlg::OnExport(wxCommandEvent&)
{
    CDlgExport dialog(this, m_strDatabasePath, m_case.get());
    dialog.DoModal();
    if (dialog.Exported()) m_unexportedFinds = false;
}

void CKestrowDlg::OnQuit(wxCommandEvent&) { Close(); }

void CKestrowDlg::OnTimeZone(wxCommandEvent&)
{
    std::vector<std::string> choices = {platform::Tr("The computer's zone")};
    const std::vector<std::string> zones = KnownTimeZones();
    choices.insert(choices.end(), zones.begin(), zones.end());
    const std::optional<int> picked = platform::ChooseOne(this, platform::Tr("Show the times in the zone:"), choices);
    if (!picked || !UseTimeZone(*picked == 0 ? "" : choices[static_cast<std::size_t>(*picked)])) return;
    FillConversationList();
    ShowAgain();
    ShowStatus();
}

void CKestrowDlg::AddSearchField()
{
    // Above the list, in the list's width (the sizers place it).
    m_search = new wxSearchCtrl(Panel(), wxID_ANY, "", wxDefaultPosition, wxSize(m_listConversations->GetSize().GetWidth(), -1),
                                wxTE_PROCESS_ENTER);
    m_search->SetDescriptiveText(wxString::FromUTF8(platform::Tr("Search messages, numbers, names")));
    m_search->ShowCancelButton(true);
    m_search->Bind(wxEVT_SEARCH, [this](wxCommandEvent&) { Search(std::string(m_search->GetValue().utf8_str())); });
    m_search->Bind(wxEVT_SEARCH_CANCEL, [this](wxCommandEvent&) { ClearSearch(); });
    m_search->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { Search(std::string(m_search->GetValue().utf8_str())); });
}

void CKestrowDlg::OnFind(wxCommandEvent&)
{
    m_search->SetFocus();
    m_search->SelectAll();
}

void CKestrowDlg::Search(const std::string& text)
{
    if (text.empty()) return;
    if (m_strDatabasePath.empty()) {
        platform::ShowMessage(platform::Tr(kOpenFirstText), "", this);
        return;
    }
    SearchQuery query;
    query.text = text;
    query.ignoreCase = true;
    std::string error;
    m_hits = SearchMessages(query, error);
    if (!error.empty()) {
        platform::ShowMessage(error, "", this);
        return;
    }
    if (!m_results) m_results = new CSearchResults(this, [this](std::size_t i) { OpenHit(i); });
    m_results->ShowRows(SearchRows(m_hits, platform::WindowTranslator()));
    m_results->Show();
}

void CKestrowDlg::ClearSearch()
{
    m_search->Clear();
    m_hits.clear();
    if (m_results) m_results->Destroy();
    m_results = nullptr;
}

void CKestrowDlg::OpenHit(std::size_t i)
{
    if (i >= m_hits.size()) return;
    const SearchHit& hit = m_hits[i];
    m_reselecting = true;
    m_listConversations->SetItemState(hit.row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    m_reselecting = false;
    m_listConversations->EnsureVisible(hit.row);
    // The message's heading at the top of the view, the hit selected.
    const std::vector<TextRun> runs = ConversationRuns(hit.row, m_filter);
    const std::optional<HitPlace> place = PlaceOfHit(runs, hit, m_filter);
    ShowRuns(*m_viewMessages, runs, place ? place->headingRun : 0,
             place ? std::optional<std::pair<long, long>>({place->from, place->to}) : std::nullopt);
    m_shownEntry = g_store.conversations[hit.row].entryId;
}

void CKestrowDlg::OnShowFilter(wxCommandEvent& event)
{
    MessageFilter filter;
    switch (res::FromToolkitId(event.GetId())) {
    case res::ID_SHOW_SENT: filter.direction = MessageFilter::Direction::Sent; break;
    case res::ID_SHOW_RECEIVED: filter.direction = MessageFilter::Direction::Received; break;
    case res::ID_SHOW_RECOVERED: filter.recoveredOnly = true; break;
    case res::ID_SHOW_SMS: filter.kind = MessageKind::Sms; break;
    case res::ID_SHOW_MMS: filter.kind = MessageKind::Mms; break;
    case res::ID_SHOW_IMESSAGE: filter.kind = MessageKind::IMessage; break;
    case res::ID_SHOW_RANGE:
        if (!AskTimeRange(filter)) return;
        break;
    default: break;
    }
    m_filter = filter;
    ShowAgain();
    ShowStatus();
}

bool CKestrowDlg::AskTimeRange(MessageFilter& filter)
{
    for (const auto& [prompt, endOfDay, into] :
         {std::tuple{Translatable("Show messages from (YYYY-MM-DD, empty: from the first):"), false, &filter.since},
          std::tuple{Translatable("Show messages until (YYYY-MM-DD, empty: to the last):"), true, &filter.until}}) {
        const std::optional<std::string> text = platform::AskText(this, platform::Tr(prompt));
        if (!text) return false;
        *into = std::nullopt;
        if (text->empty()) continue;
        *into = ParseSearchDate(*text, endOfDay);
        if (!*into) {
            platform::ShowMessage(Fill(platform::Tr("%s is not a date: give YYYY-MM-DD or YYYY-MM-DD hh:mm."), {*text}), "", this);
            return false;
        }
    }
    return true;
}

void CKestrowDlg::OnViewMenu(wxContextMenuEvent& event)
{
    // The message under the pointer (or, from the keyboard, at the insertion point).
    long offset = m_viewMessages->GetInsertionPoint();
    if (event.GetPosition() != wxDefaultPosition) {
        long column = 0, line = 0;
        const wxPoint at = m_viewMessages->ScreenToClient(event.GetPosition());
        if (m_viewMessages->HitTest(at, &column, &line) != wxTE_HT_UNKNOWN) offset = m_viewMessages->XYToPosition(column, line);
    }
    const std::optional<std::size_t> index = MessageAtCharacter(ConversationRuns(ShownRow(), m_filter), offset);
    if (!index) return;
    wxMenu menu;
    menu.Append(1, wxString::FromUTF8(platform::Tr("&Copy message")));
    menu.Append(2, wxString::FromUTF8(platform::Tr("Copy &heading and message")));
    const std::vector<ShownMessage> shown = Filtered(CollectConversation(ShownRow()), m_filter);
    const std::vector<Attachment> attachments = *index < shown.size() ? shown[*index].message->details->attachments : std::vector<Attachment>{};
    constexpr int kFirstAttachment = 10;
    if (!attachments.empty()) menu.AppendSeparator();
    for (std::size_t k = 0; k < attachments.size(); ++k) {
        menu.Append(kFirstAttachment + static_cast<int>(k), wxString::FromUTF8(OpenAttachmentItem(attachments[k], platform::WindowTranslator())));
    }
    const int chosen = m_viewMessages->GetPopupMenuSelectionFromUser(menu);
    if (chosen == 1 || chosen == 2) CopyMessage(*index, chosen == 2);
    if (chosen >= kFirstAttachment && static_cast<std::size_t>(chosen - kFirstAttachment) < attachments.size()) {
        OpenAttachment(attachments[static_cast<std::size_t>(chosen - kFirstAttachment)]);
    }
}

void CKestrowDlg::OpenAttachment(const Attachment& a)
{
    std::optional<std::string> file = a.present && !a.at.empty() ? std::optional<std::string>(a.at) : std::nullopt;
    // An encrypted backup's file is decrypted only now, into the source's private folder.
    if (!file && a.present && m_case) file = m_case->AttachmentFile(a.file);
    if (!file) {
        platform::ShowMessage(MissingAttachmentText(a, platform::WindowTranslator()), "", this);
    } else if (platform::Confirm(this, OpenAttachmentQuestion(a, platform::WindowTranslator()))) {
        platform::OpenAddress(FileAddress(*file));
    }
}

void CKestrowDlg::CopyMessage(std::size_t index, bool withHeading)
{
    const std::vector<ShownMessage> shown = Filtered(CollectConversation(ShownRow()), m_filter);
    if (index < shown.size()) platform::CopyText(MessageCopyText(shown[index], withHeading));
}

std::int32_t CKestrowDlg::ShownRow() const
{
    for (std::int32_t row = 0; row < g_store.conversationCount; ++row) {
        if (m_shownEntry >= 0 && g_store.conversations[row].entryId == m_shownEntry) return row;
    }
    return -1;
}

void CKestrowDlg::ShowStatus()
{
    SetStatusText(wxString::FromUTF8(StatusText(m_strDatabasePath, platform::WindowTranslator(), m_filter)));
}

void CKestrowDlg::OnAbout(wxCommandEvent&)
{
    CAboutDlg about(this);
    about.DoModal();
}

void CKestrowDlg::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0) == res::IDM_ABOUTBOX) {
        wxCommandEvent event;
        OnAbout(event);
    }
}

namespace {

// The project's README: the installed one, else the one beside the sources it was built from.
std::string ReadmeAddress()
{
    std::error_code error;
    const bool installed = std::filesystem::exists(KESTROW_README_INSTALLED, error);
    return std::string("file://") + (installed ? KESTROW_README_INSTALLED : KESTROW_README_SOURCE);
}

}  // namespace

void CKestrowDlg::OnHomePage(wxCommandEvent&) { platform::OpenAddress(ReadmeAddress()); }

void CKestrowDlg::OnUsage(wxCommandEvent&) { platform::OpenAddress(ReadmeAddress()); }

void CKestrowDlg::OnConversationChanged(wxListEvent& event)
{
    if (event.GetIndex() >= 0 && !m_reselecting) ShowConversation(static_cast<std::int32_t>(event.GetIndex()));
}

void CKestrowDlg::OnViewLink(wxTextUrlEvent& event)
{
    if (!event.GetMouseEvent().LeftUp()) return;
    const wxString link = m_viewMessages->GetRange(event.GetURLStart(), event.GetURLEnd());
    const std::string address = LinkAddress(std::string(link.utf8_str()));
    // The introduction's own link leads to the README; every other link is the evidence's.
    if (address == UsagePageAddress()) {
        platform::OpenAddress(ReadmeAddress());
    } else if (LinkUseOf(address) == LinkUse::Refuse) {
        platform::ShowMessage(RefusedLinkText(address, platform::WindowTranslator()), "", this);
    } else if (platform::Confirm(this, OpenLinkQuestion(address, platform::WindowTranslator()))) {
        platform::OpenAddress(address);
    }
}

void CKestrowDlg::ArrangeWithSizers()
{
    // The search field above the list on the left, the view taking the rest; the window's
    // edges keep a margin. The list keeps its width (widened to its columns after each fill),
    // the view grows with the window.
    m_left = new wxBoxSizer(wxVERTICAL);
    m_left->Add(m_search, wxSizerFlags().Expand().Border(wxBOTTOM, 4));
    m_left->Add(m_listConversations, wxSizerFlags(1).Expand());
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(m_left, wxSizerFlags().Expand().Border(wxALL, kEdgeMargin));
    row->Add(m_viewMessages, wxSizerFlags(1).Expand().Border(wxTOP | wxRIGHT | wxBOTTOM, kEdgeMargin));
    Panel()->SetSizer(row);
    m_listConversations->SetMinSize(FromDIP(wxSize(360, 120)));
    m_viewMessages->SetMinSize(FromDIP(wxSize(240, 120)));
    KeepMinimumSize();
    Panel()->Layout();
}

void CKestrowDlg::KeepMinimumSize()
{
    // What the sizers need, and never less than a usable window.
    const wxSize needed = Panel()->GetSizer()->GetMinSize();
    const wxSize floor = FromDIP(wxSize(560, 360));
    SetMinClientSize(wxSize(std::max(needed.GetWidth(), floor.GetWidth()), std::max(needed.GetHeight(), floor.GetHeight())));
}

void CKestrowDlg::FitListToColumns()
{
    // Each column as wide as its widest text (or its title), so that e-mail addresses and
    // names show whole; the list as wide as its columns, up to half the window.
    CListCtrl& list = *m_listConversations;
    int total = 0;
    for (int column = 0; column < list.GetColumnCount(); ++column) {
        const int title = list.GetColumnWidth(column);
        list.SetColumnWidth(column, wxLIST_AUTOSIZE);
        list.SetColumnWidth(column, std::max(title, list.GetColumnWidth(column)));
        total += list.GetColumnWidth(column);
    }
    const int limit = std::max(m_listConversations->GetMinSize().GetWidth(), Panel()->GetClientSize().GetWidth() / 2);
    const int width = std::min(limit, total + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, this) + 4);
    if (width > list.GetMinSize().GetWidth()) {
        list.SetMinSize(wxSize(width, list.GetMinSize().GetHeight()));
        m_search->SetMinSize(wxSize(width, -1));
        KeepMinimumSize();
        Panel()->Layout();
    }
}

void CKestrowDlg::OnCharHook(wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) {
        // Escape in the search field clears it; elsewhere it closes the window.
        if (m_search != nullptr && FindFocus() != nullptr && (FindFocus() == m_search || FindFocus()->GetParent() == m_search)) {
            ClearSearch();
            return;
        }
        Close();
        return;
    }
    if (key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
        // Enter never closes the window: on the list it opens the selected conversation.
        const long selected = m_listConversations->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
        if (FindFocus() != m_viewMessages && selected >= 0) {
            ShowConversation(static_cast<std::int32_t>(selected));
            return;
        }
    }
    event.Skip();
}

void CKestrowDlg::OnClose(wxCloseEvent& event)
{
    // A long step lets wx redraw while it works, which also delivers close requests.
    if (m_working && event.CanVeto()) {
        event.Veto();
        return;
    }
    // Recovered messages live only in this window until they are exported.
    if (m_unexportedFinds && event.CanVeto() &&
        !platform::Confirm(this, platform::Tr("The recovered messages have not been exported. Close Kestrow anyway?"))) {
        event.Veto();
        return;
    }
    // The list sends events while it is destroyed: stop listening first.
    if (m_results) m_results->Destroy();
    m_search = nullptr;
    m_listConversations = nullptr;
    m_viewMessages = nullptr;
    Destroy();
}
