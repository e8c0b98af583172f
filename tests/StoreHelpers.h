// Shared helpers for tests that work on the process-wide store.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fixtures/PhoneDb.h"
#include "readers/CreateReader.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"
#include "store/ProgressChannel.h"

#include <vector>

// Registers itself as the progress window and records every notification.
class ProgressRecorder : public ProgressListener {
public:
    ProgressRecorder() { g_progress.window = this; }
    ~ProgressRecorder() { g_progress.window = nullptr; }
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;
    void OnProgress() override { seen.push_back(g_progress.percent); }
    std::vector<std::int32_t> seen;
};

// A message record with the fields tests vary most.
inline MessageRecord MessageOf(std::string address, std::int64_t time, int fromMe, std::string body, int spill = 0,
                               int unassigned = 0)
{
    MessageRecord m;
    m.address = std::move(address);
    m.time = time;
    m.fromMe = fromMe;
    m.body = std::move(body);
    m.spillFlag = spill;
    m.unassignedFlag = unassigned;
    return m;
}

// Starts every test from the store as it is at program start.
class FreshStore : public ::testing::Test {
protected:
    void SetUp() override { g_store.RestoreProgramStart(); }
    void TearDown() override { g_store.RestoreProgramStart(); }

    // Loads `path` with the reader its name selects, as the Open command does.
    static void Load(const std::filesystem::path& path)
    {
        const DatabaseName kind = ClassifyDatabasePath(path.string());
        ASSERT_NE(kind, DatabaseName::Other) << path;
        ReplaceReaderAndLoad(CreateReader(kind), path.string());
    }

    // Stands for a recovery run that found `found`: the finds are attributed as a run's are.
    static void SetRecovered(std::vector<MessageRecord> found, RecoveryMode mode = RecoveryMode::Default)
    {
        CSms& reader = *g_store.currentReader;
        reader.m_recoveredCount = static_cast<std::int32_t>(found.size());
        reader.m_recovered = std::move(found);
        reader.m_lastRecovery = mode;
        reader.AssignRecovered();
    }

    // Index of the first conversation with this address, or -1.
    static int FindConversation(const std::string& address)
    {
        for (int i = 0; i < g_store.conversationCount; ++i) {
            if (g_store.conversations[i].address == address) return i;
        }
        return -1;
    }

    fixtures::TempDir m_dir;
};
