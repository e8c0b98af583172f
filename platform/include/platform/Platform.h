// The services the windows ask of the system: message boxes, the file chooser, the browser,
// modal dialogs and the tick count. Everything that waits on a person goes through a
// replaceable hook, so that tests run unattended and can read what would have been shown.
#pragma once

#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/window.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class wxProgressDialog;

namespace platform {

struct Hooks {
    // Shows `text` with an OK button; returns wxOK.
    std::function<int(const std::string& text, const std::string& caption, wxWindow* parent)> messageBox;
    // Lets the user pick one existing file; `wildcard` lists the filters as "description|pattern"
    // pairs joined by "|". nullopt when cancelled.
    std::function<std::optional<std::string>(wxWindow* parent, const std::string& wildcard)> chooseOpenFile;
    // Opens an address in the user's browser; returns whether it was handed over.
    std::function<bool(const std::string& url)> openUrl;
    // Lets the user pick a folder, starting in `start`; nullopt when cancelled.
    std::function<std::optional<std::string>(wxWindow* parent, const std::string& start)> chooseFolder;
    // Asks for a password (typed masked) with `prompt`; nullopt when cancelled.
    std::function<std::optional<std::string>(wxWindow* parent, const std::string& prompt)> askPassword;
    // Lets the user pick one of `choices`; its index, nullopt when cancelled.
    std::function<std::optional<int>(wxWindow* parent, const std::string& prompt, const std::vector<std::string>& choices)>
        chooseOne;
    // Shows how far a long piece of work has come (`percent`, 0 to 100) in a window with a
    // Cancel button; returns false once Cancel was pressed. Null: the real window.
    std::function<bool(int percent)> workProgress;
    // Asks for a line of text with `prompt`; nullopt when cancelled.
    std::function<std::optional<std::string>(wxWindow* parent, const std::string& prompt)> askText;
    // Puts text on the clipboard; false when the clipboard could not be had.
    std::function<bool(const std::string& text)> copyText;
    // Asks a yes-or-no question; true for yes.
    std::function<bool(wxWindow* parent, const std::string& question)> confirm;
    // Runs a dialog modally and returns its result.
    std::function<int(wxDialog& dialog)> runModal;
};

// The hooks in force; ResetHooks() restores the real ones.
Hooks& GetHooks();
void ResetHooks();

// A message box with an OK button; an empty caption means the application's name.
int ShowMessage(const std::string& text, const std::string& caption = {}, wxWindow* parent = nullptr);

// The file-open dialog with the filters of `wildcard` ("description|pattern|..."); a cancelled
// dialog gives nullopt.
std::optional<std::string> ChooseOpenFile(wxWindow* parent, const std::string& wildcard);

// The folder dialog; a cancelled dialog gives nullopt.
std::optional<std::string> ChooseFolder(wxWindow* parent, const std::string& start);

// The password dialog (masked entry); a cancelled dialog gives nullopt.
std::optional<std::string> AskPassword(wxWindow* parent, const std::string& prompt);

// The text-entry dialog; a cancelled dialog gives nullopt.
std::optional<std::string> AskText(wxWindow* parent, const std::string& prompt);
// Puts text on the clipboard.
bool CopyText(const std::string& text);
// A yes-or-no question; true for yes.
bool Confirm(wxWindow* parent, const std::string& question);
// The choice dialog; a cancelled dialog gives nullopt.
std::optional<int> ChooseOne(wxWindow* parent, const std::string& prompt, const std::vector<std::string>& choices);

// A window that shows how far a long piece of work on this thread has come, with a Cancel
// button; made at the first Update and gone with the object.
class WorkProgress {
public:
    WorkProgress(wxWindow* parent, std::string title, std::string text);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;
    // Shows `percent` and lets the window take its clicks; false once Cancel was pressed.
    bool Update(int percent);

private:
    wxWindow* m_parent;
    std::string m_title, m_text;
    wxProgressDialog* m_dialog = nullptr;
};

// Lets wx draw what changed (and only that: keyboard and mouse input waits) while the caller
// holds the thread. Does nothing when no event loop runs, as in tests.
void YieldForRedraw();
// The same, and the keyboard and mouse too (for a Cancel button while the rest is disabled).
void YieldForInput();

// Opens `url` in the browser without ever showing an error window; the result says whether
// the address was handed over.
bool OpenAddress(const std::string& url);

int RunModal(wxDialog& dialog);

// Milliseconds of a monotonic clock, wrapping like a 32-bit tick count.
std::uint32_t GetTickCount();

// Routes wx assertions to `report` instead of a blocking dialog.
void InstallAssertHandler(std::function<void(const std::string& message)> report);

// A safety net for tests: refuses every modal dialog that slipped past the hooks.
class RefuseModalDialogs : public wxModalDialogHook {
public:
    int refused = 0;

protected:
    int Enter(wxDialog*) override
    {
        ++refused;
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

}  // namespace platform
