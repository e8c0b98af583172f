// Opening a phone database for reading so that nothing on disk changes: not the database,
// not its logs, and no file is created or deleted beside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recovery/SqliteFiles.h"
#include "store/Sms.h"
#include "store/SqliteUri.h"

struct sqlite3;

// How a database was opened.
enum class OpenedAs {
    Failed,        // the file could not be opened at all
    MainFileOnly,  // immutable: no lock taken, no log or journal looked at, nothing created
    InMemory,      // an image in memory: the main file with its log's committed pages laid over it
    PrivateCopy,   // a copy of the file and its "-wal" in a private temporary folder
};

// Opens the main file at `path` alone, immutable: SQLite takes no lock, looks at no log or
// journal and creates nothing (a hot journal is never rolled back). A file shorter than its
// header says is read as far as it goes. Fills `*db` even on failure (the caller closes it in
// every case) and returns SQLite's result code.
int OpenMainFileForReading(const std::string& path, sqlite3** db);

// Whether the database at `path` has a log whose committed rows a phone would see: a
// non-empty "-wal" beside a file whose header says log mode, and no "-journal" that still names
// a transaction (a persisted journal's zeroed header does not).
bool HasCommittedLog(const std::string& path);

// Pages present against pages the header announces, for a file cut short; nothing when the
// file is whole or its header does not say.
struct PagesPresent {
    std::uint64_t present = 0, expected = 0;
};
std::optional<PagesPresent> MissingPages(const std::string& path);

// A connection to an evidence database for the length of one load, as the database stands
// (its committed log applied). The log's committed frames are laid over the main file in an
// image in memory, which SQLite reads through sqlite3_deserialize: nothing is written anywhere
// and nothing needs a writable place. An image larger than the memory limit (a quarter of the
// machine's memory unless given) is read from a private copy (0600 files in a 0700 folder,
// removed when the reading ends) instead; where neither works the main file is read alone and
// Warnings() says so. `db` is the caller's handle member: it holds the connection while this
// object lives and is closed and cleared when it goes.
class DatabaseReading {
public:
    enum class LogPolicy {
        InMemoryWhereItFits,  // the image in memory, a private copy when it is too large
        AlwaysPrivateCopy,    // copy whenever there is a log to apply (tests of the copy)
    };
    DatabaseReading(const std::string& path, sqlite3*& db, LogPolicy policy = LogPolicy::InMemoryWhereItFits,
                    std::uint64_t memoryLimit = 0);
    ~DatabaseReading();
    DatabaseReading(const DatabaseReading&) = delete;
    DatabaseReading& operator=(const DatabaseReading&) = delete;

    bool Opened() const { return m_result == 0; }
    OpenedAs How() const { return m_how; }
    // Whether OpenAnother can give a second connection to the same state.
    bool CanOpenAnother() const { return m_how == OpenedAs::MainFileOnly || m_how == OpenedAs::InMemory; }
    // A second, independent connection to the same state (for reading on another thread); the
    // caller closes it. Returns SQLite's result code.
    int OpenAnother(sqlite3** other) const;
    // Records the end of a read: a result that says the file is damaged is reported.
    void NoteReadResult(int resultCode);
    // Whether a read failed on damage or the file is shorter than its header says.
    bool Damaged() const { return m_damaged || FileDamage().missing.has_value() || FileDamage().schemaPage; }
    // The bytes SQLite reads when they are in memory (the image with the log applied); empty
    // otherwise.
    ByteView Image() const { return m_image ? ByteView(m_image.get(), m_imageSize) : ByteView(); }
    const std::string& Path() const { return m_path; }
    // What the user must know about this reading: a log that could not be applied, a file that
    // is damaged or truncated.
    std::vector<LoadWarning> Warnings() const;

private:
    int OpenImage(sqlite3** db) const;
    // Reads a file whose header's page size field is damaged, while its page count tells the
    // page size, from an image with the field mended; false when there is no such damage.
    bool OpenMended(const std::string& path);
    // What the file's own first pages say: pages missing, or a schema page that is no b-tree
    // page. Read once, on first use (the readers ask several times).
    struct FileDamageFacts {
        std::optional<PagesPresent> missing;
        bool schemaPage = false;
    };
    const FileDamageFacts& FileDamage() const;
    bool SchemaPageDamaged() const;
    mutable std::optional<FileDamageFacts> m_fileDamage;

    std::string m_path;
    sqlite3*& m_db;
    int m_result = 0;
    OpenedAs m_how = OpenedAs::Failed;
    std::filesystem::path m_privateFolder;  // empty unless a copy was read
    std::unique_ptr<std::uint8_t[]> m_image;  // the in-memory image, when read so
    std::size_t m_imageSize = 0;
    std::string m_logProblem;  // why the log was not applied
    std::string m_mended;      // what of the header was mended in the image; empty: nothing
    bool m_damaged = false;
};
