// The reader calls of a recovery run, shared by the window and the companion.
#include "recovery/RecoveryRun.h"

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
