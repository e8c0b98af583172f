// The store's reset, the conversation sort and the attribution of recovered messages.
#include <gtest/gtest.h>

#include <vector>

#include "StoreHelpers.h"
#include "readers/AndroidSms.h"

namespace {

using StoreTest = FreshStore;

void SetConversations(const std::vector<std::pair<std::string, std::int64_t>>& entries)
{
    g_store.conversationCount = static_cast<std::int32_t>(entries.size()) + 1;
    g_store.conversations[0] = {"Ungrouped", 0, 0, 0, "", 1};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ContactRecord& c = g_store.conversations[i + 1];
        c.address = entries[i].first;
        c.recentTime = entries[i].second;
        c.key = "k" + entries[i].first;
    }
}

std::vector<std::string> Order()
{
    std::vector<std::string> names;
    for (int i = 0; i < g_store.conversationCount; ++i) names.push_back(g_store.conversations[i].address);
    return names;
}

TEST_F(StoreTest, ResetEmptiesAllEntriesListsAndRecoveredButKeepsTheSchema)
{
    g_store.currentReader = CreateReader(DatabaseName::Android);
    g_store.conversationCount = 3;
    for (int i : {0, 1, 2, 3000, kConversationCapacity - 1}) {
        g_store.conversations[i] = {"x", 5, 6, 7, "k", 1};
    }
    g_store.liveMessages.resize(4);
    g_store.liveMessageCount = 4;
    g_store.currentReader->m_recovered.resize(2);
    g_store.currentReader->m_recoveredCount = 2;
    g_store.columnNames[0] = "_id";
    g_store.columnCount = 1;

    ResetStore();

    EXPECT_EQ(g_store.conversationCount, 1);
    for (int i = 0; i < kConversationCapacity; ++i) {
        ASSERT_EQ(g_store.conversations[i], ContactRecord{}) << "entry " << i;
    }
    EXPECT_TRUE(g_store.liveMessages.empty());
    EXPECT_EQ(g_store.liveMessageCount, 0);
    EXPECT_TRUE(g_store.currentReader->m_recovered.empty());
    EXPECT_EQ(g_store.currentReader->m_recoveredCount, 0);
    EXPECT_EQ(g_store.columnCount, 1);
    EXPECT_EQ(g_store.columnNames[0], "_id");
}

TEST_F(StoreTest, SortIsTheSelectionSortsExactUnstableOrder)
{
    CAndroidSms reader;
    struct Case {
        std::vector<std::pair<std::string, std::int64_t>> entries;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        // Equal times: the swap moves "a" behind "b", where a stable sort would keep a before b.
        {{{"a", 2}, {"b", 2}, {"c", 3}}, {"Ungrouped", "c", "b", "a"}},
        {{{"a", 5}, {"b", 7}, {"c", 7}, {"d", 3}, {"e", 7}}, {"Ungrouped", "b", "c", "e", "a", "d"}},
        // Negative and zero times order as signed numbers.
        {{{"a", -5}, {"b", 0}, {"c", 1'439'532'000'123}}, {"Ungrouped", "c", "b", "a"}},
        // One or two entries in all: nothing moves.
        {{{"a", 1}}, {"Ungrouped", "a"}},
    };
    for (const Case& c : cases) {
        SetConversations(c.entries);
        reader.SortConversations();
        EXPECT_EQ(Order(), c.expected);
    }
}

TEST_F(StoreTest, SortKeepsTheCatchAllFirstAndMovesKeysWithTheirEntries)
{
    CAndroidSms reader;
    SetConversations({{"a", 1}, {"b", 3}, {"c", 2}});
    g_store.conversations[0].recentTime = 1'000'000'000'000'000;
    reader.SortConversations();
    EXPECT_EQ(Order(), (std::vector<std::string>{"Ungrouped", "b", "c", "a"}));
    EXPECT_EQ(g_store.conversations[1].key, "kb");
    EXPECT_EQ(g_store.conversations[0].isCatchAll, 1);
}

TEST_F(StoreTest, AssignRecoveredPrefersTheEarliestEntryByKeyOrAddress)
{
    g_store.currentReader = CreateReader(DatabaseName::Iphone);
    CSms& reader = *g_store.currentReader;
    g_store.conversationCount = 4;
    g_store.conversations[0] = {"Unknown", 0, 0, 9, "", 1};
    g_store.conversations[1] = {"7", 100, 2, 9, "1", 0};   // address "7" equals entry 3's key
    g_store.conversations[2] = {"+1555", 500, 1, 9, "2", 0};
    g_store.conversations[3] = {"13800000000", 50, 1, 9, "7", 0};

    auto recovered = [](std::string address, std::int64_t time) {
        MessageRecord m;
        m.address = std::move(address);
        m.time = time;
        m.unassignedFlag = 7;
        return m;
    };
    reader.m_recovered = {recovered("7", 200), recovered("2", 400), recovered("nobody", 900),
                          recovered("", 10), recovered("1", 90)};
    reader.m_recoveredCount = 5;

    reader.AssignRecovered();

    EXPECT_EQ(g_store.conversations[1].recoveredCount, 2);  // "7" by address, "1" by key
    EXPECT_EQ(g_store.conversations[1].recentTime, 200);    // raised, never lowered by 90
    EXPECT_EQ(g_store.conversations[2].recoveredCount, 1);
    EXPECT_EQ(g_store.conversations[2].recentTime, 500);
    EXPECT_EQ(g_store.conversations[3].recoveredCount, 0);
    EXPECT_EQ(g_store.conversations[0].recoveredCount, 2);  // "nobody" and "" (its key)
    EXPECT_EQ(g_store.conversations[0].recentTime, 900);
    EXPECT_EQ(g_store.conversations[1].messageCount, 2);
    const std::vector<int> flags = {reader.m_recovered[0].unassignedFlag, reader.m_recovered[1].unassignedFlag,
                                    reader.m_recovered[2].unassignedFlag, reader.m_recovered[3].unassignedFlag,
                                    reader.m_recovered[4].unassignedFlag};
    EXPECT_EQ(flags, (std::vector<int>{0, 0, 1, 0, 0}));
}

}  // namespace
