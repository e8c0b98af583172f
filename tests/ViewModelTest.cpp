// What the main window shows, without a display: the view's runs, the list's rows and its
// fixed texts.
#include <gtest/gtest.h>

#include <fstream>

#include "StoreHelpers.h"
#include "presentation/ConversationView.h"
#include "presentation/ViewModel.h"
#include "query/Search.h"
#include "readers/OpenDatabase.h"

namespace {

using ViewModelTest = FreshStore;

// Two conversations and the catch-all entry, with live and recovered messages.
void SetUpStore(DatabaseName kind)
{
    const bool iphone = kind == DatabaseName::Iphone;
    g_store.currentReader = CreateReader(kind);
    g_store.conversationCount = 3;
    g_store.conversations[0] = {iphone ? "Unknown" : "Ungrouped", 0, 0, 0, "", 1};
    g_store.conversations[1] = {"13800000001", 0, 0, 0, iphone ? "1" : "", 0};
    g_store.conversations[2] = {"13800000002", 0, 0, 0, iphone ? "2" : "", 0};
    const std::string a = iphone ? "1" : "13800000001";
    const std::string b = iphone ? "2" : "13800000002";
    g_store.liveMessages = {MessageOf(a, 10, 0, "hello"), MessageOf(b, 20, 1, "to b"), MessageOf("", 30, 1, "draft"),
                            MessageOf(a, 40, 1, "reply")};
    g_store.liveMessageCount = 4;
    CSms& reader = *g_store.currentReader;
    reader.m_recovered = {MessageOf(a, 10, 0, "recovered at 10"), MessageOf("77", 35, 0, "nobody's", 0, 1),
                          MessageOf(a, 50, 1, "recovered sent")};
    reader.m_recoveredCount = 3;
}

TEST_F(ViewModelTest, AndroidRunsMergeByTimeWithTheirColoursAndHeadings)
{
    SetUpStore(DatabaseName::Android);
    // Times 10 to 50 are seconds since 2001.
    const std::vector<TextRun> expected = {
        {"13800000001 2001-01-01 00:00:10\n", kLiveHeadingColour},  // live first on equal times
        {"hello\n\n", kLiveBodyColour},
        {"13800000001 2001-01-01 00:00:10\n", kRecoveredColour},
        {"recovered at 10\n\n", kRecoveredColour},
        {"Me 2001-01-01 00:00:40\n", kLiveHeadingColour},
        {"reply\n\n", kLiveBodyColour},
        {"Me 2001-01-01 00:00:50\n", kRecoveredColour},
        {"recovered sent\n\n", kRecoveredColour},
    };
    const std::vector<TextRun> runs = ConversationRuns(1);
    EXPECT_EQ(runs, expected);
}

TEST_F(ViewModelTest, CatchAllShowsUnassignedAndAddresslessMessagesWithArrowHeadings)
{
    SetUpStore(DatabaseName::Android);
    const std::vector<TextRun> runs = ConversationRuns(0);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].text, "Me ->  2001-01-01 00:00:30\n");  // sent, empty address
    EXPECT_EQ(runs[1].text, "draft\n\n");
    EXPECT_EQ(runs[2].text, "77 2001-01-01 00:00:35\n");  // received, unassigned recovered
    EXPECT_EQ(runs[2].colour, kRecoveredColour);
    EXPECT_TRUE(ConversationRuns(2).size() == 2 && ConversationRuns(2)[0].text.starts_with("Me "));
}

TEST_F(ViewModelTest, IphoneMessagesBelongByKeyAndAreHeadedWithTheConversationsAddress)
{
    SetUpStore(DatabaseName::Iphone);
    const std::vector<TextRun> runs = ConversationRuns(1);
    ASSERT_EQ(runs.size(), 8u);
    EXPECT_EQ(runs[0].text, "13800000001 2001-01-01 00:00:10\n");  // not the key "1"
    EXPECT_EQ(runs[6].text, "Me 2001-01-01 00:00:50\n");
    // Row 0 of an iPhone database: received messages headed with the catch-all's name.
    const std::vector<TextRun> catchAll = ConversationRuns(0);
    ASSERT_EQ(catchAll.size(), 4u);
    EXPECT_EQ(catchAll[0].text, "Me 2001-01-01 00:00:30\n");  // no arrow for the iPhone
    EXPECT_EQ(catchAll[2].text, "Unknown 2001-01-01 00:00:35\n");
    // A key that names no handle ("77", read from a damaged record) is never shown as a number.
    const SenderAddresses senders;
    const MessageRecord& nobody = g_store.currentReader->m_recovered[1];
    EXPECT_EQ(senders.Address(nobody), "Unknown");
    EXPECT_EQ(senders.StoredAddress(nobody), "");
}

TEST_F(ViewModelTest, RightToLeftTextsAreIsolatedAndFindsSayWhereTheyWere)
{
    SetUpStore(DatabaseName::Android);
    // An Arabic text, and one that ends in a right-to-left override, each line isolated; the
    // heading after them stays as it was; Latin and Chinese texts are left alone.
    g_store.liveMessages[0].body = "مرحبا\nسلام";
    g_store.liveMessages[3].body = "abc\u202E";
    CSms& reader = *g_store.currentReader;
    reader.m_recovered[0].places = {{"/x/mmssms.db-wal", 4128, 12, PlaceKind::Freeblock}, {"/x/mmssms.db", 90, 3, PlaceKind::CellInUse}};
    reader.m_recovered[0].truncated = 1;
    const std::vector<TextRun> runs = ConversationRuns(1);
    ASSERT_EQ(runs.size(), 8u);
    EXPECT_EQ(runs[1].text, "\u2068مرحبا\u2069\n\u2068سلام\u2069\n\n");
    EXPECT_EQ(runs[2].text, "13800000001 2001-01-01 00:00:10 — found in mmssms.db-wal, page 12, freeblock and 1 more place "
                            "[truncated]\n");
    EXPECT_EQ(runs[5].text, "\u2068abc\u202E\u2069\n\n");
    EXPECT_EQ(runs[4].text, "Me 2001-01-01 00:00:40\n");
    EXPECT_EQ(IsolatedForLayout("你好 hello"), "你好 hello");
    // The view opens at the first recovered message's heading, else at the top.
    EXPECT_EQ(FirstRunToShow(runs), 2u);
    EXPECT_EQ(FirstRunToShow(ConversationRuns(2)), 0u);
    EXPECT_EQ(LinkUseOf("HTTPS://example.org"), LinkUse::OpenAfterConfirming);
    EXPECT_EQ(LinkUseOf("file:///etc/passwd"), LinkUse::Refuse);
    EXPECT_EQ(LinkUseOf("javascript:alert(1)"), LinkUse::Refuse);
}

TEST_F(ViewModelTest, SearchFindsTextsNumbersAndNamesWithinItsLimits)
{
    SetUpStore(DatabaseName::Android);
    g_store.conversations[2].name = "Li Wei";
    g_store.conversations[1].members = {"13800000001", "13800000009"};  // a group's member names count too
    g_store.conversations[1].memberNames = {"", "Wang Fang"};
    struct Case {
        SearchQuery query;
        std::vector<std::string> bodies;  // of the hits, in time order
    };
    const std::vector<Case> cases = {
        {{.text = "recovered"}, {"recovered at 10", "recovered sent"}},
        {{.text = "HELLO", .ignoreCase = true}, {"hello"}},
        {{.text = "HELLO"}, {}},
        {{.text = "^re(ply|covered s)", .regex = true}, {"reply", "recovered sent"}},
        {{.text = "li wei", .ignoreCase = true}, {"to b"}},  // the conversation's name
        {{.text = "wang fang", .ignoreCase = true}, {"hello", "recovered at 10", "reply", "recovered sent"}},
        {{.text = "13800000001"}, {"hello", "recovered at 10", "reply", "recovered sent"}},  // its number
        // Row 2's name holds an "e": "to b" is found through it.
        {{.text = "e", .since = 978'307'215, .until = 978'307'240}, {"to b", "reply"}},
        {{.text = "e", .recoveredOnly = true}, {"recovered at 10", "recovered sent"}},
    };
    for (const Case& c : cases) {
        std::string error;
        std::vector<std::string> bodies;
        for (const SearchHit& hit : SearchMessages(c.query, error)) bodies.push_back(hit.message->body);
        EXPECT_EQ(bodies, c.bodies) << c.query.text;
        EXPECT_EQ(error, "");
    }
    std::string error;
    SearchQuery bad;
    bad.text = "(";
    bad.regex = true;
    EXPECT_TRUE(SearchMessages(bad, error).empty());
    EXPECT_NE(error.find("is not a regular expression"), std::string::npos);

    // A regular expression reaches 64 KiB into a message (no further: the library's matcher
    // recurses per character).
    g_store.liveMessages[3].body = std::string(40'000, '.') + " needle";
    g_store.liveMessages[1].body = std::string(70'000, '.') + " needle";
    std::vector<std::string> far;
    for (const SearchHit& hit : SearchMessages({.text = "ne+dle", .regex = true}, error)) far.push_back(hit.message->body.substr(40'000));
    EXPECT_EQ(far, (std::vector<std::string>{" needle"}));

    // The text around a hit keeps whole characters and marks what it left out.
    MessageRecord long_ = MessageOf("x", 1, 0, std::string(40, 'a') + "中文 needle 文字" + std::string(40, 'b'));
    const SearchHit hit{1, &long_, false, long_.body.find("needle"), 6};
    EXPECT_EQ(HitContext(hit), "…" + std::string(23, 'a') + "中文 needle 文字" + std::string(23, 'b') + "…");
    EXPECT_EQ(ParseSearchDate("2001-01-01", true), 978'393'599);
    EXPECT_EQ(ParseSearchDate("2001-01-01 00:00:15", false), 978'307'215);
    for (const char* bad : {"2001-02-30", "yesterday", "2001-01-01x", "2001-13-01"}) EXPECT_FALSE(ParseSearchDate(bad, false)) << bad;
}

TEST_F(ViewModelTest, EmptyConversationsAndTheListRows)
{
    SetUpStore(DatabaseName::Android);
    g_store.conversationCount = 4;
    g_store.conversations[3] = {"nobody", 0, 0, 0, "", 0};
    EXPECT_TRUE(ConversationRuns(3).empty());
    g_store.liveMessages[0].body = "";
    EXPECT_EQ(ConversationRuns(1)[1].text, "\n\n");  // an empty text keeps its blank line

    g_store.conversations[1].messageCount = 5;
    g_store.conversations[1].recoveredCount = 2;
    g_store.conversations[1].recentTime = 1'439'532'000'123;
    g_store.conversations[2].messageCount = 0;
    g_store.conversations[2].recoveredCount = 3;
    g_store.conversations[3].messageCount = 5;
    const std::vector<ListRow> expected = {
        {"Ungrouped", "None", "0", false},
        {"13800000001", "2015-08-14 06:00:00", "5(2)", true},
        {"13800000002", "None", "0(3)", true},
        {"nobody", "None", "5", false},
    };
    EXPECT_EQ(ConversationRows(), expected);
}

TEST_F(ViewModelTest, AllConversationsInOnePassAreEachConversation)
{
    for (const DatabaseName kind : {DatabaseName::Android, DatabaseName::Iphone}) {
        SetUpStore(kind);
        g_store.currentReader->AssignRecovered();
        for (const bool recoveredOnly : {false, true}) {
            const std::vector<std::vector<ShownMessage>> all = CollectAllConversations(recoveredOnly);
            for (int row = 0; row < g_store.conversationCount; ++row) {
                std::vector<ShownMessage> one = CollectConversation(row);
                if (recoveredOnly) std::erase_if(one, [](const ShownMessage& m) { return !m.recovered; });
                ASSERT_EQ(all[static_cast<std::size_t>(row)].size(), one.size()) << row;
                for (std::size_t i = 0; i < one.size(); ++i) {
                    EXPECT_EQ(all[static_cast<std::size_t>(row)][i].message, one[i].message);
                    EXPECT_EQ(all[static_cast<std::size_t>(row)][i].heading, one[i].heading);
                }
            }
        }
        g_store.RestoreProgramStart();
    }
}

TEST(LinkAddress, OnlyATextWithoutASchemeGetsHttp)
{
    const std::pair<const char*, const char*> cases[] = {
        {"www.kestrow.example/kestrow.htm", "http://www.kestrow.example/kestrow.htm"},
        {"https://example.org/a?b=1", "https://example.org/a?b=1"},
        {"http://example.org", "http://example.org"},
        {"file:///tmp/x.html", "file:///tmp/x.html"},
        {"mailto:a@example.org", "mailto:a@example.org"},
        {"HTTPS://EXAMPLE.ORG", "HTTPS://EXAMPLE.ORG"},
        {"www.example.org:8080/path", "http://www.example.org:8080/path"},  // a port, not a scheme
        {"ftp.example.org/x", "http://ftp.example.org/x"},
    };
    for (const auto& [text, address] : cases) EXPECT_EQ(LinkAddress(text), address) << text;
}

}  // namespace
