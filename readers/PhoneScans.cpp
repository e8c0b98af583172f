// RecoverDeleted of the two readers: which file is scanned, and how its pages are walked.
#include <filesystem>

#include "recovery/DeepScan.h"
#include "recovery/RecoveryScan.h"
#include "readers/AndroidSms.h"
#include "readers/IphoneSms.h"
#include "store/MessageStore.h"

namespace {

// Android: no candidate in the last n + 5 bytes of a database page (none at all is reserved in
// a log block) nor in the last n + 20 bytes of the last page; an accepted candidate hides the
// next n positions.
PageLayout AndroidLayout(std::int32_t pageSize, bool logMode, std::int32_t columnCount)
{
    return {pageSize, logMode ? 0 : columnCount + 5, columnCount + 20, columnCount + 1};
}

// iPhone: fixed margins of 48 and 69 bytes and a skip of 52.
PageLayout IphoneLayout(std::int32_t pageSize, bool /*logMode*/, std::int32_t /*columnCount*/)
{
    return {pageSize, 48, 69, 52};
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::string CAndroidSms::ScanTarget(const std::string& path, bool& logMode)
{
    logMode = true;
    // A log that an earlier program renamed out of SQLite's way holds the older bytes.
    if (const std::string setAside = path + "-wal-undelete"; Exists(setAside)) return setAside;
    if (const std::string log = path + "-wal"; Exists(log)) return log;
    logMode = false;
    return path;
}

void CAndroidSms::RecoverDeleted(std::string path, std::int32_t& count)
{
    RecoveryPassPlan plan;
    plan.file = ScanTarget(path, plan.logMode);
    plan.carverKind = g_store.alternateCarving != 0 ? RecordCarver::Kind::AndroidWithHeader
                                                     : RecordCarver::Kind::Android;
    plan.layoutFor = AndroidLayout;
    RunRecoveryPass(*this, plan, count);
}

void CAndroidSms::RecoverDeep(std::string path) { RunDeepRecovery(*this, path); }

void CIphoneSms::RecoverDeep(std::string path) { RunDeepRecovery(*this, path); }

void CIphoneSms::RecoverDeleted(std::string path, std::int32_t& count)
{
    RecoveryPassPlan plan;
    plan.file = std::move(path);
    plan.carverKind = RecordCarver::Kind::Iphone;
    plan.layoutFor = IphoneLayout;
    RunRecoveryPass(*this, plan, count);
}
