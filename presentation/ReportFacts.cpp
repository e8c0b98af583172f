// Hashing the evidence and comparing it between opening and reporting.
#include "presentation/ReportFacts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <vector>

#include "evidence/EvidenceSource.h"
#include "evidence/Sha256.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

std::string Now() { return FormatIsoUnixTime(static_cast<std::int64_t>(std::time(nullptr))); }

}  // namespace

EvidenceFacts TakeEvidenceFacts(const std::string& databasePath, DeviceKind kind)
{
    EvidenceFacts facts;
    facts.databasePath = databasePath;
    facts.kind = kind == kDeviceIphone ? "iphone" : "android";
    facts.takenAt = Now();
    const std::pair<const char*, FileRole> files[] = {
        {"", FileRole::Database}, {"-wal", FileRole::Log}, {"-wal-undelete", FileRole::Log}, {"-journal", FileRole::Journal}};
    for (const auto& [suffix, role] : files) {
        const std::string path = databasePath + suffix;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            if (role == FileRole::Database) facts.files.push_back({path, role, -1, "", ""});
            continue;
        }
        FileFacts file{path, role, static_cast<std::int64_t>(info.st_size),
                       FormatIsoUnixTime(static_cast<std::int64_t>(info.st_mtim.tv_sec)), Sha256OfFile(path)};
        if (file.sha256.empty()) file.size = -1;
        facts.files.push_back(std::move(file));
    }
    return facts;
}

SourceFacts TakeSourceFacts(const EvidenceSource& source)
{
    SourceFacts facts;
    facts.path = source.Path();
    facts.type = source.Type() == SourceType::IphoneBackup        ? "iphone-backup"
                 : source.Type() == SourceType::AndroidExtraction ? "android-extraction"
                                                                  : "database";
    facts.encrypted = source.Encrypted();
    facts.database = source.Type() == SourceType::Database ? std::filesystem::path(source.Path()).filename().string()
                                                           : source.DatabaseName();
    for (const SourceFile& file : source.Files()) {
        SourceFacts::File taken{file.path, file.inside, file.size, file.sha256};
        if (taken.sha256.empty()) {
            struct stat info {};
            taken.sha256 = Sha256OfFile(file.path);
            taken.size = !taken.sha256.empty() && ::stat(file.path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
        }
        facts.files.push_back(std::move(taken));
    }
    return facts;
}

ReportFacts CompleteReportFacts(const EvidenceFacts& atOpen, const std::string& version)
{
    ReportFacts facts;
    facts.version = version;
    facts.atOpen = atOpen;
    const CSms* reader = g_store.currentReader.get();
    facts.atReport =
        TakeEvidenceFacts(atOpen.databasePath, reader != nullptr ? static_cast<DeviceKind>(reader->m_deviceKind) : kDeviceAndroid);
    facts.atReport.kind = atOpen.kind;
    facts.unchanged = facts.atReport.files == atOpen.files;
    if (!facts.unchanged) {
        facts.warning = "Warning: the files changed between the opening of the database (" + atOpen.takenAt +
                        ") and this report: the report may not describe the files as they are now.";
    }
    facts.timeZone = TimeZoneText();
    facts.writtenAt = facts.atReport.takenAt;
    facts.recovery = "none";
    if (reader != nullptr) {
        switch (reader->m_lastRecovery) {
        case RecoveryMode::None: break;
        case RecoveryMode::Default: facts.recovery = "default"; break;
        case RecoveryMode::Alternate: facts.recovery = "alternate"; break;
        case RecoveryMode::Deep: facts.recovery = "deep"; break;
        }
        facts.recoveredCount = reader->m_recoveredCount;
    }
    return facts;
}

std::string FileFactsLine(const FileFacts& file, bool unchanged)
{
    const std::string name = std::filesystem::path(file.path).filename().string();
    if (file.size < 0) return FileRoleText(file.role) + (" " + name) + ": could not be read";
    return FileRoleText(file.role) + (" " + name) + ", " + std::to_string(file.size) + " bytes, modified " + file.modified +
           ", SHA-256 " + file.sha256 + (unchanged ? ", unchanged" : ", CHANGED");
}

bool FileUnchanged(const ReportFacts& facts, const FileFacts& atReport)
{
    for (const FileFacts& before : facts.atOpen.files) {
        if (before.path == atReport.path) return before == atReport;
    }
    return false;  // a file that appeared since
}
