// The export dialog; the files themselves are written by ExportConversations.
#include "ui/DlgExport.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "case/Case.h"
#include "platform/Language.h"
#include "platform/Platform.h"
#include "presentation/ExportWriter.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "query/Search.h"
#include "readers/AttachmentFiles.h"
#include "res/Resources.h"
#include "store/MessageStore.h"
#include "ui/MainPanes.h"

// clang-format off
wxBEGIN_EVENT_TABLE(CDlgExport, CDialogEx)
    EVT_CHECKBOX(res::IDC_SELECT_ALL,           CDlgExport::OnSelectAll)
    EVT_BUTTON(res::IDC_SELECT_WITH_MESSAGES,   CDlgExport::OnSelectWithMessages)
    EVT_BUTTON(res::IDC_EXPORT,                 CDlgExport::OnExport)
wxEND_EVENT_TABLE()
// clang-format on

CDlgExport::CDlgExport(wxWindow* parent, std::string databasePath, Case* kase)
    : CDialogEx(res::IDD_EXPORT, parent), m_databasePath(std::move(databasePath)), m_case(kase)
{
    // Escape and Cancel end the dialog; Enter exports, as the Export button does.
    Bind(wxEVT_CHAR_HOOK, &CDlgExport::OnKey, this);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(wxID_CANCEL); }, wxID_CANCEL);
}

void CDlgExport::OnKey(wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) {
        Finish(wxID_CANCEL);
    } else if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && dynamic_cast<wxButton*>(FindFocus()) == nullptr) {
        wxCommandEvent press;  // a focused button takes Enter itself
        OnExport(press);
    } else {
        event.Skip();
    }
}

void CDlgExport::Finish(int code)
{
    if (IsModal()) {
        EndModal(code);
    } else {
        SetReturnCode(code);
        Hide();
    }
}

void CDlgExport::DoDataExchange() { platform::BindControl(this, res::IDC_CONTACT_LIST, m_contactList); }

bool CDlgExport::OnInitDialog()
{
    if (auto* first = dynamic_cast<wxRadioButton*>(GetDlgItem(res::IDC_EXPORT_BY_NUMBER))) first->SetValue(m_exportMode == 0);
    m_contactList->DeleteAllItems();
    constexpr int kCheckBoxWidth = 24;  // the check box takes its room out of column 0
    InsertFittedColumns(*m_contactList, 138, 137, 102, kCheckBoxWidth);
    if (g_store.currentReader && g_store.conversationCount > 0) {
        const std::vector<ListRow> rows = ExportRows(platform::WindowTranslator());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const long row = m_contactList->InsertItem(static_cast<long>(i), wxString::FromUTF8(rows[i].address));
            m_contactList->SetItem(row, 1, wxString::FromUTF8(rows[i].recentTime));
            m_contactList->SetItem(row, 2, wxString::FromUTF8(rows[i].quantity));
        }
    }
    SetTitle(wxString::FromUTF8(platform::Tr("Export SMS")));
    const std::pair<int, const char*> texts[] = {
        {res::IDC_EXPORT_TYPE_GROUP, Translatable("Export Type")},
        {res::IDC_EXPORT_BY_NUMBER, Translatable("Export to different txt files(by number)")},
        {res::IDC_EXPORT_ONE_FILE, Translatable("Export to a txt file")},
        {res::IDC_SELECT_FRIENDS_GROUP, Translatable("Select Friends")},
        {res::IDC_SELECT_ALL, Translatable("Select All")},
        {res::IDC_SELECT_WITH_MESSAGES, Translatable("Select friends who has msg")},
        {res::IDC_EXPORT, Translatable("Export")},
        {wxID_CANCEL, Translatable("Cancel")},
        {res::IDC_EXPORT_FORMAT_GROUP, Translatable("Format")},
        {res::IDC_EXPORT_RANGE_GROUP, Translatable("Time range")},
        {res::IDC_EXPORT_SINCE_LABEL, Translatable("From (YYYY-MM-DD)")},
        {res::IDC_EXPORT_UNTIL_LABEL, Translatable("Until (YYYY-MM-DD)")},
    };
    for (const auto& [id, text] : texts) {
        if (wxWindow* control = GetDlgItem(id)) control->SetLabel(wxString::FromUTF8(platform::Tr(text)));
    }
    if (auto* format = dynamic_cast<wxChoice*>(GetDlgItem(res::IDC_EXPORT_FORMAT))) {
        format->Clear();
        for (const char* name : kExportFormatNames) format->Append(wxString::FromUTF8(platform::Tr(name)));
        format->SetSelection(m_exportFormat);
        format->Bind(wxEVT_CHOICE, [this, format](wxCommandEvent&) { NameTheFormat(std::max(0, format->GetSelection())); });
    }
    NameTheFormat(m_exportFormat);
    ArrangeWithSizers();
    return true;
}

void CDlgExport::ArrangeWithSizers()
{
    // Two columns: the mode and the conversations on the left, the format and the time range
    // on the right; Export and Cancel below. Each group box frames its own controls.
    const int gap = FromDIP(6);
    auto group = [this](int id, int orientation) {
        return new wxStaticBoxSizer(static_cast<wxStaticBox*>(GetDlgItem(id)), orientation);
    };
    auto* mode = group(res::IDC_EXPORT_TYPE_GROUP, wxHORIZONTAL);
    mode->Add(GetDlgItem(res::IDC_EXPORT_BY_NUMBER), wxSizerFlags().Border(wxALL, gap));
    mode->Add(GetDlgItem(res::IDC_EXPORT_ONE_FILE), wxSizerFlags().Border(wxALL, gap));
    auto* choices = new wxBoxSizer(wxHORIZONTAL);
    choices->Add(GetDlgItem(res::IDC_SELECT_ALL), wxSizerFlags().CentreVertical().Border(wxRIGHT, FromDIP(16)));
    choices->Add(GetDlgItem(res::IDC_SELECT_WITH_MESSAGES));
    auto* friends = group(res::IDC_SELECT_FRIENDS_GROUP, wxVERTICAL);
    m_contactList->SetMinSize(FromDIP(wxSize(400, 300)));
    friends->Add(m_contactList, wxSizerFlags(1).Expand().Border(wxALL, gap));
    friends->Add(choices, wxSizerFlags().Border(wxALL, gap));
    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(mode, wxSizerFlags().Expand().Border(wxBOTTOM, gap));
    left->Add(friends, wxSizerFlags(1).Expand());

    auto* format = group(res::IDC_EXPORT_FORMAT_GROUP, wxVERTICAL);
    format->Add(GetDlgItem(res::IDC_EXPORT_FORMAT), wxSizerFlags().Expand().Border(wxALL, gap));
    auto* range = group(res::IDC_EXPORT_RANGE_GROUP, wxVERTICAL);
    for (const int id : {res::IDC_EXPORT_SINCE_LABEL, res::IDC_EXPORT_SINCE, res::IDC_EXPORT_UNTIL_LABEL, res::IDC_EXPORT_UNTIL}) {
        range->Add(GetDlgItem(id), wxSizerFlags().Expand().Border(wxLEFT | wxRIGHT | wxTOP, gap));
    }
    range->AddSpacer(gap);
    auto* right = new wxBoxSizer(wxVERTICAL);
    right->Add(format, wxSizerFlags().Expand().Border(wxBOTTOM, gap));
    right->Add(range, wxSizerFlags().Expand());

    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    columns->Add(left, wxSizerFlags(1).Expand().Border(wxRIGHT, gap));
    columns->Add(right, wxSizerFlags().Expand());
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(GetDlgItem(res::IDC_EXPORT), wxSizerFlags().Border(wxRIGHT, gap));
    buttons->Add(GetDlgItem(wxID_CANCEL));
    auto* edge = new wxBoxSizer(wxVERTICAL);
    edge->Add(columns, wxSizerFlags(1).Expand().Border(wxLEFT | wxRIGHT | wxTOP, FromDIP(10)));
    edge->Add(buttons, wxSizerFlags().Centre().Border(wxALL, FromDIP(10)));
    SetSizer(edge);
}

void CDlgExport::NameTheFormat(std::int32_t format)
{
    // The mode choices name the files they make: "txt" becomes the chosen format's ending.
    const std::string ending = ExportExtension(static_cast<ExportFormat>(format)).substr(1);
    for (const auto& [id, text] : {std::pair{res::IDC_EXPORT_BY_NUMBER, Translatable("Export to different txt files(by number)")},
                                   std::pair{res::IDC_EXPORT_ONE_FILE, Translatable("Export to a txt file")}}) {
        std::string label = platform::Tr(text);
        if (const std::size_t at = label.find("txt"); at != std::string::npos) label.replace(at, 3, ending);
        if (wxWindow* control = GetDlgItem(id)) control->SetLabel(wxString::FromUTF8(label));
    }
}

void CDlgExport::OnSelectAll(wxCommandEvent&)
{
    m_selectAllState = m_selectAllState == 0 ? 1 : 0;
    for (long row = 0; row < m_contactList->GetItemCount(); ++row) m_contactList->CheckItem(row, m_selectAllState != 0);
}

void CDlgExport::OnSelectWithMessages(wxCommandEvent&)
{
    for (long row = 0; row < m_contactList->GetItemCount(); ++row) {
        m_contactList->CheckItem(row, HasMessages(g_store.conversations[row]));
    }
}

void CDlgExport::OnExport(wxCommandEvent&)
{
    if (auto* single = dynamic_cast<wxRadioButton*>(GetDlgItem(res::IDC_EXPORT_ONE_FILE))) {
        m_exportMode = single->GetValue() ? 1 : 0;
    }
    if (auto* format = dynamic_cast<wxChoice*>(GetDlgItem(res::IDC_EXPORT_FORMAT))) {
        m_exportFormat = std::max(0, format->GetSelection());
    }
    ExportRequest request;
    // The time range: an empty field sets no limit; a field that holds no date is said so.
    for (const auto& [id, endOfDay, into] : {std::tuple{res::IDC_EXPORT_SINCE, false, &request.filter.since},
                                             std::tuple{res::IDC_EXPORT_UNTIL, true, &request.filter.until}}) {
        auto* field = dynamic_cast<wxTextCtrl*>(GetDlgItem(id));
        const std::string text = field != nullptr ? std::string(field->GetValue().Strip(wxString::both).utf8_str()) : "";
        if (text.empty()) continue;
        *into = ParseSearchDate(text, endOfDay);
        if (!*into) {
            platform::ShowMessage(Fill(platform::Tr("%s is not a date: give YYYY-MM-DD or YYYY-MM-DD hh:mm."), {text}), "", this);
            return;
        }
    }
    for (long row = 0; row < m_contactList->GetItemCount(); ++row) {
        if (m_contactList->IsItemChecked(row)) request.rows.push_back(static_cast<std::int32_t>(row));
    }
    if (request.rows.empty()) {
        platform::ShowMessage(platform::Tr(kSelectFriendText), "", this);
        return;
    }
    const std::optional<std::string> folder = platform::ChooseFolder(this, std::string(wxGetHomeDir().utf8_str()));
    if (!folder) return;
    request.mode = m_exportMode == 1 ? ExportMode::SingleFile : ExportMode::FilePerConversation;
    request.format = static_cast<ExportFormat>(m_exportFormat);
    request.folder = *folder;
    request.databasePath = m_databasePath;
    CaseExport exported;
    if (m_case != nullptr) {
        exported = m_case->Export(request, KESTROW_VERSION);
    } else {
        if (request.format != ExportFormat::Text) {
            exported.facts = CompleteReportFacts(EvidenceFacts{m_databasePath, "", {}, ""}, KESTROW_VERSION);
            request.facts = &exported.facts;
        }
        exported.result = ExportConversations(request);
    }
    const ExportResult& result = exported.result;
    const ReportFacts& facts = exported.facts;
    const Translator tr = platform::WindowTranslator();
    std::string text = result.error.empty() ? ExportSummaryText(result, request.folder, tr)
                                            : Fill(tr("Export failed: %s"), {result.error});
    if (result.error.empty() && !facts.unchanged) text += "\n" + tr(kEvidenceChangedText);
    if (result.error.empty()) m_exported = true;
    platform::ShowMessage(text, "", this);
}
