// Entry point of the window tests: starts wx on the (virtual) display, refuses any modal window
// that slipped past the platform hooks, and turns wx assertions into test failures.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Language.h"
#include "platform/Platform.h"

namespace {

class TestApp : public wxApp {
public:
    bool OnInit() override
    {
        SetAppDisplayName("Kestrow");
        return true;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    ::testing::InitGoogleTest(&argc, argv);
    platform::InstallAssertHandler([](const std::string& message) { ADD_FAILURE() << "wx assertion: " << message; });
    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "kestrow_gui_tests: no display (run under xvfb-run)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    // The suite runs in the language of its locale: English, or Chinese under a zh_* locale.
    if (!platform::UseLanguage(platform::LanguageOfLocale(), {KESTROW_LOCALE_BUILD_DIR})) {
        std::fprintf(stderr, "kestrow_gui_tests: the Chinese catalog was not found in %s\n", KESTROW_LOCALE_BUILD_DIR);
        return 1;
    }
    std::printf("window language: %s\n", platform::CurrentLanguage() == platform::Language::Chinese ? "Chinese" : "English");
    platform::RefuseModalDialogs refuse;
    refuse.Register();
    const int result = RUN_ALL_TESTS();
    refuse.Unregister();
    if (refuse.refused != 0) {
        std::fprintf(stderr, "kestrow_gui_tests: %d modal dialog(s) were refused\n", refuse.refused);
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result != 0 || refuse.refused != 0 ? 1 : 0;
}
