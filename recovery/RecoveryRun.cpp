// The reader calls of a recovery run, shared by the window and the companion.
#include "recovery/RecoveryRun.h"

#include <algorithm>

#include "store/MessageStore.h"

RecoveryRunCounts RunRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    RecoveryRunCounts counts;
    std::int32_t n = 0;
    reader.m_recoveredCount = 0;
    reader.RecoverDeleted(path, n);
    counts.countingFound = n;
    reader.RecoverDeleted(path, n);
    counts.fillingFound = n;
    reader.AssignRecovered();
    reader.SortConversations();
    reader.m_lastRecovery = g_store.alternateCarving != 0 ? RecoveryMode::Alternate : RecoveryMode::Default;
    return counts;
}

void RunDeepRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    reader.m_recoveredCount = 0;
    reader.RecoverDeep(path);
    reader.AssignRecovered();
    reader.SortConversations();
    reader.m_lastRecovery = RecoveryMode::Deep;
}

RecoveryUndo::RecoveryUndo()
{
    const CSms& reader = *g_store.currentReader;
    m_recovered = reader.m_recovered;
    m_recoveredCount = reader.m_recoveredCount;
    m_lastScan = reader.m_lastScan;
    m_lastRecovery = reader.m_lastRecovery;
    m_conversations.assign(g_store.conversations.begin(), g_store.conversations.begin() + g_store.conversationCount);
}

void RecoveryUndo::Restore()
{
    CSms& reader = *g_store.currentReader;
    reader.m_recovered = std::move(m_recovered);
    reader.m_recoveredCount = m_recoveredCount;
    reader.m_lastScan = std::move(m_lastScan);
    reader.m_lastRecovery = m_lastRecovery;
    std::copy(m_conversations.begin(), m_conversations.end(), g_store.conversations.begin());
    g_store.conversationCount = static_cast<std::int32_t>(m_conversations.size());
}
