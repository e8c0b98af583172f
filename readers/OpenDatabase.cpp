// Opening a chosen database file: the log set-aside and the reader replacement.
#include "OpenDatabase.h"

#include <filesystem>

#include "CreateReader.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"

LogSetAside SetAsideLog(const std::string& databasePath)
{
    namespace fs = std::filesystem;
    const std::string log = databasePath + "-wal";
    const std::string setAside = log + "-undelete";
    std::error_code error;
    if (!fs::exists(log, error)) return LogSetAside::NoLog;
    if (fs::exists(setAside, error)) {
        // remove() fails on a file another program holds only where locks are mandatory; a
        // folder of that name that is not empty fails everywhere.
        if (!fs::remove(setAside, error) || error) return LogSetAside::DeleteFailed;
    }
    fs::rename(log, setAside, error);
    return LogSetAside::Renamed;
}

bool IsAlternateRecoveryPath(const std::string& path)
{
    return path.size() >= 5 && (path.ends_with("/sms2") || path.ends_with("\\sms2"));
}

OpenOutcome OpenDatabaseFile(const std::string& path)
{
    const DatabaseName kind = ClassifyDatabasePath(path);
    if (kind == DatabaseName::Other) {
        const CSms* reader = g_store.currentReader.get();
        if (IsAlternateRecoveryPath(path) && reader != nullptr && reader->m_deviceKind == kDeviceAndroid) {
            return OpenOutcome::AlternateRecovery;
        }
        return OpenOutcome::WrongFile;
    }
    if (kind == DatabaseName::Android && SetAsideLog(path) == LogSetAside::DeleteFailed) {
        return OpenOutcome::LogLocked;
    }
    ReplaceReaderAndLoad(CreateReader(kind), path);
    return kind == DatabaseName::Android ? OpenOutcome::OpenedAndroid : OpenOutcome::OpenedIphone;
}
