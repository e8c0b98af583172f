// Read-only opening of evidence databases.
#include "readers/DatabaseOpen.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "recovery/FileImage.h"
#include "recovery/SqliteFiles.h"
#include "store/FileDescriptor.h"
#include "store/SqliteHeader.h"
#include "store/SqliteKit.h"

namespace {

namespace fs = std::filesystem;

bool NonEmptyFile(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) > 0 && !error;
}

// True when `path` is a rollback journal that still names a transaction (it starts with the
// journal's magic): a zeroed header, as a persisted journal keeps it, names none.
bool HasLiveJournal(const std::string& path)
{
    static constexpr unsigned char kMagic[8] = {0xD9, 0xD5, 0x05, 0xF9, 0x20, 0xA1, 0x63, 0xD7};
    std::ifstream file(path, std::ios::binary);
    unsigned char header[8] = {};
    return file.read(reinterpret_cast<char*>(header), sizeof header) && std::memcmp(header, kMagic, sizeof kMagic) == 0;
}

// True when the database header (bytes 18 and 19: read and write format versions) says the
// file is in write-ahead-log mode. A missing or short file is not.
bool HeaderSaysLogMode(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<char, 20> header{};
    if (!file.read(header.data(), header.size())) return false;
    static constexpr char kMagic[] = "SQLite format 3";  // followed by a zero byte
    for (std::size_t i = 0; i < sizeof kMagic; ++i) {
        if (header[i] != kMagic[i]) return false;
    }
    return header[18] == 2 && header[19] == 2;
}

// A main file read alone; a file cut short is read as far as it goes (SQLite otherwise
// refuses a file shorter than its header's page count), and a damaged schema does not stop it.
int OpenImmutable(const std::string& path, sqlite3** db)
{
    const int rc = sqlite3_open_v2(SqliteFileUri(path, "immutable=1").c_str(), db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return rc;
    return sqlite3_exec(*db, "PRAGMA writable_schema=ON; PRAGMA query_only=1;", nullptr, nullptr, nullptr);
}

// A private copy of database and log: read through the log with the log index in memory.
int OpenThroughLog(const std::string& path, sqlite3** db)
{
    // One thread uses the connection: no mutex needed.
    int rc = sqlite3_open_v2(SqliteFileUri(path, "").c_str(), db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return rc;
    int applied = 0;
    rc = sqlite3_db_config(*db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &applied);
    if (rc != SQLITE_OK || applied != 1) return rc != SQLITE_OK ? rc : SQLITE_ERROR;
    // Both pragmas must precede the first read: exclusive locking keeps the log index in
    // memory instead of a "-shm" file, and query_only refuses every write.
    rc = sqlite3_exec(*db, "PRAGMA locking_mode=EXCLUSIVE; PRAGMA query_only=1;", nullptr,
                      nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    // Read once now, so that a log SQLite cannot use shows here rather than as missing rows.
    return sqlite3_exec(*db, "SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
}

std::uint64_t QuarterOfMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return std::uint64_t{1} << 30;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) / 4;
}

// The database at `path` with its log's committed pages, in memory. Returns false with
// `problem` set when the log cannot be applied so; `tooLarge` when only the memory limit
// stands in the way; true with an empty `image` when the log commits nothing (the main file
// alone is then the database as it stands).
bool BuildLogImage(const std::string& path, std::uint64_t limit, std::unique_ptr<std::uint8_t[]>& image,
                   std::size_t& size, std::string& problem, bool& tooLarge)
{
    const FileImage log(path + "-wal");
    if (!log.Loaded()) {
        problem = log.Error();
        return false;
    }
    const ByteView logBytes(log.Data(), log.Size());
    const CommittedLog committed = ReadCommittedLog(logBytes);
    if (committed.databasePages == 0) return true;
    const std::uint64_t imageSize = std::uint64_t{committed.databasePages} * committed.pageSize;
    if (imageSize + log.Size() > limit || imageSize > SIZE_MAX / 2) {
        tooLarge = true;
        problem = "it needs " + std::to_string(imageSize >> 20) + " MiB of memory";
        return false;
    }
    const FileDescriptor main = FileDescriptor::OpenForReading(path);
    struct stat info {};
    if (!main.Valid() || ::fstat(main.Get(), &info) != 0) {
        problem = std::strerror(errno);
        return false;
    }
    size = static_cast<std::size_t>(imageSize);
    image = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const std::size_t fromMain = std::min<std::size_t>(size, static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)));
    if (!ReadFully(main.Get(), image.get(), fromMain, 0, problem)) {
        image.reset();
        return false;
    }
    std::memset(image.get() + fromMain, 0, size - fromMain);
    LayCommittedPages({image.get(), size}, logBytes, committed);
    return true;
}

}  // namespace


bool HasCommittedLog(const std::string& path)
{
    return NonEmptyFile(path + "-wal") && !HasLiveJournal(path + "-journal") && HeaderSaysLogMode(path);
}

int OpenMainFileForReading(const std::string& path, sqlite3** db)
{
    *db = nullptr;
    return OpenImmutable(path, db);
}

namespace {

// The first bytes of the file at `path` (up to `wanted`, fewer for a shorter file) and its size.
struct FileStart {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
};
std::optional<FileStart> ReadFileStart(const std::string& path, std::size_t wanted)
{
    const FileDescriptor file = FileDescriptor::OpenForReading(path);
    struct stat info {};
    if (!file.Valid() || ::fstat(file.Get(), &info) != 0) return std::nullopt;
    FileStart start;
    start.size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
    start.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, start.size)));
    std::string ignored;
    if (!ReadFully(file.Get(), start.bytes.data(), start.bytes.size(), 0, ignored)) return std::nullopt;
    return start;
}

// Whether the file at `path` starts with a database header.
bool IsDatabaseFile(const std::string& path)
{
    const std::optional<FileStart> start = ReadFileStart(path, 100);
    return start && ReadDatabaseHeader(ByteView(start->bytes.data(), start->bytes.size())).has_value();
}

}  // namespace

std::optional<PagesPresent> MissingPages(const std::string& path)
{
    const std::optional<FileStart> start = ReadFileStart(path, 100);
    if (!start) return std::nullopt;
    const ByteView header(start->bytes.data(), start->bytes.size());
    const auto database = ReadDatabaseHeader(header);
    // The page count is trusted only while its "valid for" number matches the change counter.
    if (!database || header.U32(24) != header.U32(92)) return std::nullopt;
    const std::uint64_t present = start->size / database->pageSize;
    if (present >= database->pageCount) return std::nullopt;
    return PagesPresent{present, database->pageCount};
}

namespace {

// A new private folder for a copy, or an empty path when none can be made.
fs::path MakePrivateFolder()
{
    std::error_code error;
    // The process id in the name tells a later start whether its owner is still running.
    std::string pattern =
        (fs::temp_directory_path(error) / ("kestrow-read-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (error || ::mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

// Copies database and log into `folder`, writable by their owner whatever the originals'
// modes (a read-only copy would keep SQLite from using the log). Returns the copy's path, or
// an empty one with `problem` set.
std::string CopyWithLog(const std::string& path, const fs::path& folder, std::string& problem)
{
    const fs::path copy = folder / "database";
    std::error_code error;
    for (const auto& [from, to] : {std::pair{path, copy.string()}, std::pair{path + "-wal", copy.string() + "-wal"}}) {
        fs::copy_file(from, to, error);
        if (!error) fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, error);
        if (error) {
            problem = error.message();
            return "";
        }
    }
    return copy.string();
}

}  // namespace


bool DatabaseReading::OpenMended(const std::string& path)
{
    const std::optional<FileStart> start = ReadFileStart(path, 65536);
    if (!start || start->size > QuarterOfMemory()) return false;
    const HeaderMends mends = FindHeaderMends(start->bytes, start->size);
    if (!mends.Any()) return false;
    const std::optional<FileStart> whole = ReadFileStart(path, start->size);
    if (!whole) return false;
    m_imageSize = whole->bytes.size();
    m_image = std::make_unique_for_overwrite<std::uint8_t[]>(m_imageSize);
    std::memcpy(m_image.get(), whole->bytes.data(), m_imageSize);
    // A rollback header too: no log is laid over it.
    ApplyHeaderMends(std::span(m_image.get(), m_imageSize), mends);
    SqliteHandle attempt;
    m_result = OpenImage(attempt.Out());
    if (m_result != SQLITE_OK) {
        m_image.reset();
        m_imageSize = 0;
        return false;
    }
    m_db = attempt.Release();
    m_how = OpenedAs::InMemory;
    m_mended = mends.Note(start->size);
    return true;
}

DatabaseReading::DatabaseReading(const std::string& path, sqlite3*& db, LogPolicy policy, std::uint64_t memoryLimit)
    : m_path(path), m_db(db)
{
    m_db = nullptr;
    if (OpenMended(path)) return;
    if (HasCommittedLog(path)) {
        bool tooLarge = false;
        const std::uint64_t limit = policy == LogPolicy::AlwaysPrivateCopy ? 0 : memoryLimit != 0 ? memoryLimit : QuarterOfMemory();
        const bool built = BuildLogImage(path, limit, m_image, m_imageSize, m_logProblem, tooLarge);
        if (built && m_image) {
            SqliteHandle attempt;  // closed unless it is kept
            m_result = OpenImage(attempt.Out());
            if (m_result == SQLITE_OK) {
                m_db = attempt.Release();
                m_how = OpenedAs::InMemory;
                return;
            }
            m_logProblem = sqlite3_errstr(m_result);
            m_image.reset();
        } else if (tooLarge) {
            m_privateFolder = MakePrivateFolder();
            const std::string copy = m_privateFolder.empty() ? "" : CopyWithLog(path, m_privateFolder, m_logProblem);
            if (m_privateFolder.empty()) m_logProblem += "; no private folder could be made for a copy";
            if (!copy.empty()) {
                SqliteHandle attempt;
                m_result = OpenThroughLog(copy, attempt.Out());
                if (m_result == SQLITE_OK) {
                    m_db = attempt.Release();
                    m_logProblem.clear();
                    m_how = OpenedAs::PrivateCopy;
                    return;
                }
                m_logProblem = sqlite3_errstr(m_result);
            }
        }
    }
    m_result = OpenImmutable(path, &m_db);
    m_how = m_result == SQLITE_OK ? OpenedAs::MainFileOnly : OpenedAs::Failed;
}

int DatabaseReading::OpenImage(sqlite3** db) const
{
    int rc = sqlite3_open_v2(":memory:", db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return rc;
    // SQLite reads the caller's bytes in place and never writes or frees them.
    rc = sqlite3_deserialize(*db, "main", m_image.get(), static_cast<sqlite3_int64>(m_imageSize),
                             static_cast<sqlite3_int64>(m_imageSize), SQLITE_DESERIALIZE_READONLY);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_exec(*db, "PRAGMA writable_schema=ON; PRAGMA query_only=1;", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    return sqlite3_exec(*db, "SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
}

int DatabaseReading::OpenAnother(sqlite3** other) const
{
    *other = nullptr;
    if (m_how == OpenedAs::InMemory) return OpenImage(other);
    if (m_how == OpenedAs::MainFileOnly) return OpenImmutable(m_path, other);
    return SQLITE_MISUSE;
}

const DatabaseReading::FileDamageFacts& DatabaseReading::FileDamage() const
{
    if (!m_fileDamage) m_fileDamage = FileDamageFacts{MissingPages(m_path), SchemaPageDamaged()};
    return *m_fileDamage;
}

bool DatabaseReading::SchemaPageDamaged() const
{
    std::optional<FileStart> start;
    ByteView bytes = Image();
    if (bytes.Size() == 0) {
        start = ReadFileStart(m_path, 65536);
        if (!start) return false;
        bytes = ByteView(start->bytes.data(), start->bytes.size());
    }
    const std::optional<DatabaseHeader> header = ReadDatabaseHeader(bytes);
    if (!header) return false;  // no database at all: said elsewhere
    return !ReadBtreePage(bytes.Sub(0, header->pageSize), 1, header->usableSize).has_value();
}

void DatabaseReading::NoteReadResult(int resultCode)
{
    const int primary = resultCode & 0xFF;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR) m_damaged = true;
}

std::vector<LoadWarning> DatabaseReading::Warnings() const
{
    std::vector<LoadWarning> warnings;
    if (!m_mended.empty()) warnings.push_back({LoadWarning::Kind::HeaderMended, m_path, m_mended});
    if (!m_logProblem.empty()) {
        warnings.push_back({LoadWarning::Kind::LogNotApplied, m_path + "-wal", m_logProblem});
    }
    if (const auto& pages = FileDamage().missing) {
        warnings.push_back({LoadWarning::Kind::Truncated, m_path, "", pages->present, pages->expected});
    } else if (FileDamage().schemaPage || (m_damaged && IsDatabaseFile(m_path))) {  // no database at all: said elsewhere
        warnings.push_back({LoadWarning::Kind::Damaged, m_path, ""});
    }
    return warnings;
}

DatabaseReading::~DatabaseReading()
{
    sqlite3_close(m_db);
    m_db = nullptr;
    if (!m_privateFolder.empty()) {
        std::error_code ignored;
        fs::remove_all(m_privateFolder, ignored);
    }
}
