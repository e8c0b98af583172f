// One language at a time: the window in English by default, and in the Chinese texts of the
// design when the user's locale is Chinese; no text of the other language stays behind.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/menu.h>

#include <string>

#include "StoreHelpers.h"
#include "platform/Language.h"
#include "platform/Platform.h"
#include "presentation/Texts.h"
#include "presentation/ViewModel.h"
#include "res/Resources.h"
#include "ui/DlgExport.h"
#include "ui/DlgProgress.h"
#include "ui/KestrowDlg.h"

namespace {

std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

bool HasHan(const std::string& text)
{
    // Any character of the CJK ideographs block (UTF-8 lead bytes E4 to E9).
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0xE4 && byte <= 0xE9) return true;
    }
    return false;
}

class LanguageTest : public FreshStore {
protected:
    void TearDown() override
    {
        // Back to the suite's own language.
        platform::UseLanguage(platform::LanguageOfLocale(), {KESTROW_LOCALE_BUILD_DIR});
        FreshStore::TearDown();
    }

    // Every text the main window, the progress window and the export dialog show.
    static std::vector<std::string> WindowTexts()
    {
        std::vector<std::string> texts;
        auto* window = new CKestrowDlg;
        window->Create();
        wxMenuBar* bar = window->GetMenuBar();
        for (std::size_t m = 0; m < bar->GetMenuCount(); ++m) {
            texts.push_back(Utf8(bar->GetMenuLabel(m)));
            for (wxMenuItem* item : bar->GetMenu(m)->GetMenuItems()) {
                if (!item->IsSeparator()) texts.push_back(Utf8(item->GetItemLabel()));
            }
        }
        for (int c = 0; c < 3; ++c) {
            wxListItem column;
            column.SetMask(wxLIST_MASK_TEXT);
            window->m_listConversations->GetColumn(c, column);
            texts.push_back(Utf8(column.GetText()));
        }
        {
            CDlgProgress progress(window);
            progress.Create();
            g_progress.percent = 10;
            progress.OnProgress();
            texts.push_back(Utf8(progress.GetTitle()));
            texts.push_back(Utf8(progress.m_elapsedLabel->GetLabel()));
            g_progress.percent = 0;
        }
        {
            CDlgExport exporter(window, "");
            exporter.Create();
            texts.push_back(Utf8(exporter.GetTitle()));
            for (wxWindow* child : exporter.GetChildren()) {
                if (!child->GetLabel().empty()) texts.push_back(Utf8(child->GetLabel()));
            }
        }
        window->Destroy();
        wxTheApp->ProcessIdle();
        return texts;
    }
};

TEST_F(LanguageTest, EnglishByDefaultAndTheDesignsChineseUnderAChineseLocale)
{
    ASSERT_TRUE(platform::UseLanguage(platform::Language::English, {}));
    for (const std::string& text : WindowTexts()) EXPECT_FALSE(HasHan(text)) << text;

    ASSERT_TRUE(platform::UseLanguage(platform::Language::Chinese, {KESTROW_LOCALE_BUILD_DIR}));
    EXPECT_EQ(platform::CurrentLanguage(), platform::Language::Chinese);
    const std::vector<std::string> chinese = WindowTexts();
    for (const char* expected : {"文件(&F)", "打开短信数据库(&O)", "恢复已删除短信(&R)", "导出(&E)", "帮助(&H)", "使用方法",
                                 "正在恢复……", "导出短信", "按号码导出到不同的txt文件", "选择有短信的好友"}) {
        EXPECT_NE(std::find(chinese.begin(), chinese.end(), expected), chinese.end()) << expected;
    }
    EXPECT_NE(std::find(chinese.begin(), chinese.end(), "耗时0.0秒"), chinese.end());
    // Only names of formats and the program stay in Latin letters.
    for (const std::string& text : chinese) {
        if (text == "HTML" || text == "CSV" || text == "JSON" || text == "Kestrow") continue;
        EXPECT_TRUE(HasHan(text)) << text;
    }
    // The display-free texts through the same catalog.
    const Translator tr = platform::WindowTranslator();
    EXPECT_EQ(RecoveredCountSentence(7, tr), "共成功恢复 7 条短信。");
    EXPECT_EQ(ElapsedText(12345, tr), "耗时12.3秒");
    EXPECT_TRUE(HasHan(WrongFileText(tr)));
}

TEST_F(LanguageTest, TheLocaleDecides)
{
    const char* saved = std::getenv("LANG");
    const std::string keep = saved ? saved : "";
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(platform::LanguageOfLocale(), platform::Language::Chinese);
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(platform::LanguageOfLocale(), platform::Language::English);
    if (saved) {
        ::setenv("LANG", keep.c_str(), 1);
    } else {
        ::unsetenv("LANG");
    }
}

}  // namespace
