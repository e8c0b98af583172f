// Opening a chosen database file: recognising its kind and replacing the reader.
#include "readers/OpenDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <set>

#include "readers/AttachmentFiles.h"
#include "readers/CreateReader.h"
#include "readers/DatabaseOpen.h"
#include "store/MessageStore.h"

namespace {

bool LooksLikeSqlite(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char header[16] = {};
    return file.read(header, sizeof header) && std::memcmp(header, "SQLite format 3", 16) == 0;
}

// Whether the file's first bytes look random, as an encrypted file's do (a file of an
// encrypted backup, an encrypted database): nearly every byte value occurs in its first 4 KiB
// and no run of zeros does. Text, zeros and short files do not.
bool LooksEncrypted(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 4096> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    if (file.gcount() < static_cast<std::streamsize>(bytes.size())) return false;
    std::array<int, 256> seen{};
    int run = 0;
    for (const unsigned char b : bytes) {
        ++seen[b];
        run = b == 0 ? run + 1 : 0;
        if (run >= 8) return false;
    }
    const auto distinct = std::count_if(seen.begin(), seen.end(), [](int n) { return n > 0; });
    return distinct >= 240;
}

// The names of the tables of the database at `path`, lower-cased, as it stands (its
// committed log applied); empty when it cannot be read.
std::set<std::string> TableNames(const std::string& path)
{
    std::set<std::string> names;
    if (!LooksLikeSqlite(path)) return names;
    sqlite3* db = nullptr;
    const DatabaseReading reading(path, db);
    if (!reading.Opened()) return names;
    sqlite3_exec(
        db, "SELECT lower(name) FROM sqlite_master WHERE type = 'table';",
        [](void* found, int, char** values, char**) {
            if (values[0] != nullptr) static_cast<std::set<std::string>*>(found)->insert(values[0]);
            return 0;
        },
        &names, nullptr);
    return names;
}

bool HasAndroidTables(const std::set<std::string>& tables)
{
    return tables.contains("sms") && tables.contains("canonical_addresses");
}

bool HasIphoneTables(const std::set<std::string>& tables)
{
    // iOS 5 and earlier keep their conversations in msg_group instead of handle.
    return tables.contains("message") && (tables.contains("handle") || tables.contains("msg_group"));
}

}  // namespace

DatabaseName DetectDatabaseKind(const std::string& path)
{
    const DatabaseName byName = ClassifyDatabasePath(path);
    if (byName != DatabaseName::Other) return byName;
    const std::set<std::string> tables = TableNames(path);
    if (HasAndroidTables(tables)) return DatabaseName::Android;
    if (HasIphoneTables(tables)) return DatabaseName::Iphone;
    return DatabaseName::Other;
}

OpenProblem DiagnoseDatabase(const std::string& path, DatabaseName kind)
{
    if (!LooksLikeSqlite(path)) return LooksEncrypted(path) ? OpenProblem::Encrypted : OpenProblem::NotSqlite;
    const std::set<std::string> tables = TableNames(path);
    if (kind == DatabaseName::Android && !HasAndroidTables(tables)) return OpenProblem::NoAndroidTables;
    if (kind == DatabaseName::Iphone && !HasIphoneTables(tables)) return OpenProblem::NoIphoneTables;
    return OpenProblem::None;
}

bool IsAlternateRecoveryPath(const std::string& path)
{
    return path.size() >= 5 && (path.ends_with("/sms2") || path.ends_with("\\sms2"));
}

OpenResult OpenDatabaseFile(const std::string& path)
{
    DatabaseName kind = ClassifyDatabasePath(path);
    if (kind == DatabaseName::Other) {
        const CSms* reader = g_store.currentReader.get();
        if (IsAlternateRecoveryPath(path) && reader != nullptr && reader->m_deviceKind == kDeviceAndroid) {
            return {OpenOutcome::AlternateRecovery};
        }
        kind = DetectDatabaseKind(path);
        if (kind == DatabaseName::Other) return {OpenOutcome::WrongFile};
    }
    ReplaceReaderAndLoad(CreateReader(kind), path);
    AttachmentsBeside beside(path);
    MarkAttachmentsPresent([&beside](const std::string& phonePath) { return beside.Find(phonePath); });
    OpenResult result{kind == DatabaseName::Android ? OpenOutcome::OpenedAndroid : OpenOutcome::OpenedIphone};
    // Only a load that found nothing at all needs a reason.
    if (g_store.liveMessageCount == 0 && g_store.conversationCount == 1) result.problem = DiagnoseDatabase(path, kind);
    return result;
}
