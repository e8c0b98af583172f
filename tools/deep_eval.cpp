// Measures the deep recovery on generated databases of every kind: how many of the deleted
// messages whose text is still in the files it finds, how many of its finds are real
// messages, whether it reports live ones, whether every place holds the message, and how long
// it takes per 100 MB of files. Then the default recovery of the same file: its finds, how many
// are live messages and how many lie past the file's newest time (both must be none).
// KESTROW_EVAL_LIVE=1 lists the deep finds that are live or were never written.
//   kestrow-deep-eval [MESSAGES]   (default 5000 per database)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "fixtures/DeepCases.h"
#include "fixtures/PhoneDb.h"
#include "readers/CreateReader.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"
#include "store/MessageStore.h"

namespace {

// The messages written with the tag ("#index ") a find's text starts with.
void PrintWritten(const fixtures::DeepCase& truth, const MessageRecord& r)
{
    const std::string tag = r.body.substr(0, r.body.find(' ') + 1);
    for (const auto& w : truth.messages) {
        if (tag.empty() || !w.body.starts_with(tag)) continue;
        std::printf("    written: [%s] time %lld address %s deleted %d\n", w.body.c_str(), static_cast<long long>(w.time),
                    w.address.c_str(), w.deleted ? 1 : 0);
    }
}

// The finds that carry a live message's text, and those no message written was.
void PrintSuspectFinds(const fixtures::DeepCase& truth, const std::vector<MessageRecord>& finds)
{
    for (const MessageRecord& r : finds) {
        const bool written = std::any_of(truth.messages.begin(), truth.messages.end(), [&](const auto& w) {
            return w.time == r.time && (w.body == r.body || w.body.starts_with(r.body));
        });
        const bool live = std::any_of(truth.messages.begin(), truth.messages.end(),
                                      [&](const auto& w) { return !w.deleted && !r.body.empty() && w.body == r.body; });
        if (written && !live) continue;
        std::printf("  %s: [%s] time %lld address %s truncated %d rowid %lld %s\n", live ? "live" : "not written",
                    r.body.c_str(), static_cast<long long>(r.time), r.address.c_str(), r.truncated,
                    static_cast<long long>(r.rowId), r.places.empty() ? "" : PlaceText(r.places[0].where));
        PrintWritten(truth, r);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int messages = argc > 1 ? std::atoi(argv[1]) : 5000;
    if (argc > 2 || messages <= 0) {
        std::fprintf(stderr, "usage: kestrow-deep-eval [MESSAGES]   (messages per database, default 5000)\n");
        return 2;
    }
    fixtures::TempDir folder;
    std::printf("%-18s %8s %8s %8s %7s %7s %7s %7s %5s %6s %9s | %7s %5s %5s\n", "case", "deleted", "complete", "found",
                "recall", "whole", "finds", "precis.", "live", "places", "s/100MB", "default", "live", "late");
    int failures = 0;
    for (const fixtures::DeepCaseKind kind : fixtures::kAllDeepCases) {
        const fixtures::DeepCase truth =
            fixtures::MakeDeepCase(kind, folder / std::to_string(static_cast<int>(kind)), messages, 7);
        std::uint64_t bytes = 0;
        for (const char* suffix : {"", "-wal", "-journal"}) {
            std::error_code ignored;
            const auto size = std::filesystem::file_size(truth.database.string() + suffix, ignored);
            if (!ignored) bytes += size;
        }
        g_store.RestoreProgramStart();
        ReplaceReaderAndLoad(CreateReader(DetectDatabaseKind(truth.database.string())), truth.database.string());
        const auto start = std::chrono::steady_clock::now();
        RunDeepRecoverySteps(truth.database.string());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const CSms& reader = *g_store.currentReader;
        const fixtures::DeepScore s = fixtures::ScoreDeepRecovery(truth, reader.m_recovered);
        const std::vector<MessageRecord> deep = reader.m_recovered;
        RunRecoverySteps(truth.database.string());
        const fixtures::DeepScore d = fixtures::ScoreDeepRecovery(truth, reader.m_recovered);
        std::int64_t newest = 0;
        for (const auto& w : truth.messages) newest = std::max(newest, w.time);
        const auto late = std::count_if(reader.m_recovered.begin(), reader.m_recovered.end(),
                                         [&](const MessageRecord& r) { return r.time > newest; });
        std::printf("%-18s %8d %8d %8d %6.1f%% %7d %7d %6.1f%% %5d %6d %9.3f | %7d %5d %5ld\n", truth.name.c_str(), s.deleted,
                    s.complete, s.found, s.Recall() * 100, s.foundWhole, s.finds, s.Precision() * 100, s.live,
                    s.badPlaces, seconds * 1e8 / static_cast<double>(bytes), d.finds, d.live, static_cast<long>(late));
        if (d.live != 0 || late != 0) ++failures;
        if (s.mmsComplete > 0) std::printf("  MMS with their texts joined: %d of %d\n", s.mmsJoined, s.mmsComplete);
        if (s.duplicates != 0) std::printf("  found twice: %d\n", s.duplicates);
        if (s.Recall() < 0.99 || s.Precision() < 0.98 || s.live != 0 || s.badPlaces != 0 || s.duplicates != 0) ++failures;
        if (std::getenv("KESTROW_EVAL_LIVE") != nullptr) PrintSuspectFinds(truth, deep);
    }
    return failures == 0 ? 0 : 1;
}
