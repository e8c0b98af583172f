// Start-up: the main window is a top-level frame run by the normal event loop, so closing it
// ends the program with status 0.
#include "app/KestrowApp.h"

#include <wx/log.h>

#include "evidence/EvidenceSource.h"
#include "platform/Language.h"
#include "platform/Platform.h"
#include "ui/KestrowDlg.h"

bool CKestrowApp::OnInit()
{
    SetAppDisplayName("Kestrow");
    // What an earlier run that crashed left in the temporary folder goes first.
    RemoveAbandonedPrivateFolders();
    // A failed wx assertion is logged, never shown as a blocking dialog.
    platform::InstallAssertHandler([](const std::string& message) {
        wxLogDebug("%s", wxString::FromUTF8(message));
        std::fprintf(stderr, "kestrow: internal check failed: %s\n", message.c_str());
    });
    // One language: English, or Chinese for a Chinese locale when the catalog is installed (or
    // in the build tree, for a program run from there).
    platform::UseLanguage(platform::LanguageOfLocale(), {KESTROW_LOCALE_INSTALL_DIR, KESTROW_LOCALE_BUILD_DIR});
    auto* window = new CKestrowDlg;  // a top-level window: it deletes itself when closed
    window->Create();
    SetTopWindow(window);
    window->Show();
    // `kestrow PATH` opens a database file, a backup or an extraction as File > Open does.
    if (argc > 1) window->OpenPath(argv[1].utf8_string());
    return true;
}
