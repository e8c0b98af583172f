// Real implementations of the platform services over wxWidgets.
#include "platform/Platform.h"

#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/choicdlg.h>
#include <wx/clipbrd.h>
#include <wx/progdlg.h>
#include <wx/textdlg.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>

namespace platform {

namespace {

Hooks RealHooks()
{
    Hooks hooks;
    hooks.messageBox = [](const std::string& text, const std::string& caption, wxWindow* parent) {
        return wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(caption), wxOK, parent);
    };
    hooks.chooseOpenFile = [](wxWindow* parent, const std::string& wildcard) -> std::optional<std::string> {
        wxFileDialog dialog(parent, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString, wxString::FromUTF8(wildcard),
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        // After Cancel wx still reports the highlighted file: only OK counts.
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return std::string(dialog.GetPath().utf8_str());
    };
    hooks.chooseFolder = [](wxWindow* parent, const std::string& start) -> std::optional<std::string> {
        wxDirDialog dialog(parent, wxDirSelectorPromptStr, wxString::FromUTF8(start), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return std::string(dialog.GetPath().utf8_str());
    };
    hooks.openUrl = [](const std::string& url) {
        wxLogNull quiet;  // no browser must not mean an error window
        return wxLaunchDefaultBrowser(wxString::FromUTF8(url));
    };
    hooks.askPassword = [](wxWindow* parent, const std::string& prompt) -> std::optional<std::string> {
        wxPasswordEntryDialog dialog(parent, wxString::FromUTF8(prompt), wxTheApp->GetAppDisplayName());
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return std::string(dialog.GetValue().utf8_str());
    };
    hooks.chooseOne = [](wxWindow* parent, const std::string& prompt,
                         const std::vector<std::string>& choices) -> std::optional<int> {
        wxArrayString items;
        for (const std::string& choice : choices) items.Add(wxString::FromUTF8(choice));
        wxSingleChoiceDialog dialog(parent, wxString::FromUTF8(prompt), wxTheApp->GetAppDisplayName(), items);
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return dialog.GetSelection();
    };
    hooks.askText = [](wxWindow* parent, const std::string& prompt) -> std::optional<std::string> {
        wxTextEntryDialog dialog(parent, wxString::FromUTF8(prompt), wxTheApp->GetAppDisplayName());
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return std::string(dialog.GetValue().Strip(wxString::both).utf8_str());
    };
    hooks.copyText = [](const std::string& text) {
        wxClipboardLocker locker;
        return !!locker && wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
    };
    hooks.confirm = [](wxWindow* parent, const std::string& question) {
        return wxMessageBox(wxString::FromUTF8(question), wxTheApp->GetAppDisplayName(), wxYES_NO | wxNO_DEFAULT, parent) == wxYES;
    };
    hooks.runModal = [](wxDialog& dialog) { return dialog.ShowModal(); };
    return hooks;
}

}  // namespace

Hooks& GetHooks()
{
    static Hooks hooks = RealHooks();
    return hooks;
}

void ResetHooks() { GetHooks() = RealHooks(); }

int ShowMessage(const std::string& text, const std::string& caption, wxWindow* parent)
{
    // No caption: the application's name, as a dialog framework gives it.
    const std::string shown =
        caption.empty() && wxTheApp != nullptr ? std::string(wxTheApp->GetAppDisplayName().utf8_str()) : caption;
    return GetHooks().messageBox(text, shown, parent);
}

std::optional<std::string> ChooseOpenFile(wxWindow* parent, const std::string& wildcard)
{
    return GetHooks().chooseOpenFile(parent, wildcard);
}

std::optional<std::string> ChooseFolder(wxWindow* parent, const std::string& start)
{
    return GetHooks().chooseFolder(parent, start);
}

std::optional<std::string> AskPassword(wxWindow* parent, const std::string& prompt)
{
    return GetHooks().askPassword(parent, prompt);
}

bool Confirm(wxWindow* parent, const std::string& question) { return GetHooks().confirm(parent, question); }

bool CopyText(const std::string& text) { return GetHooks().copyText(text); }

std::optional<std::string> AskText(wxWindow* parent, const std::string& prompt) { return GetHooks().askText(parent, prompt); }

std::optional<int> ChooseOne(wxWindow* parent, const std::string& prompt, const std::vector<std::string>& choices)
{
    return GetHooks().chooseOne(parent, prompt, choices);
}

WorkProgress::WorkProgress(wxWindow* parent, std::string title, std::string text)
    : m_parent(parent), m_title(std::move(title)), m_text(std::move(text))
{
}

WorkProgress::~WorkProgress()
{
    if (m_dialog != nullptr) m_dialog->Destroy();
}

bool WorkProgress::Update(int percent)
{
    if (GetHooks().workProgress) return GetHooks().workProgress(percent);
    if (m_dialog == nullptr) {
        m_dialog = new wxProgressDialog(wxString::FromUTF8(m_title), wxString::FromUTF8(m_text), 100, m_parent,
                                        wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_AUTO_HIDE | wxPD_ELAPSED_TIME);
    }
    return m_dialog->Update(std::clamp(percent, 0, 99));
}

void YieldForRedraw()
{
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
}

void YieldForInput()
{
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI | wxEVT_CATEGORY_USER_INPUT);
}

bool OpenAddress(const std::string& url) { return GetHooks().openUrl(url); }

int RunModal(wxDialog& dialog) { return GetHooks().runModal(dialog); }

std::uint32_t GetTickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void InstallAssertHandler(std::function<void(const std::string& message)> report)
{
    static std::function<void(const std::string&)> reporter;
    reporter = std::move(report);
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                          const wxString& msg) {
        reporter(std::string((file + ":" + wxString::Format("%d", line) + " " + func + ": " + cond + " " + msg)
                                 .utf8_str()));
    });
}

}  // namespace platform
