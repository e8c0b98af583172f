// The facts a report states about its evidence: which program wrote it, from which database,
// each file that was read with its size, modification time and SHA-256 when it was opened
// and again when the report was written, the time zone, and the recovery that was run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "evidence/Sha256.h"
#include "store/Sms.h"

struct FileFacts {
    std::string path;
    FileRole role = FileRole::Database;
    std::int64_t size = -1;  // -1: the file could not be read
    std::string modified;    // ISO 8601 with offset
    std::string sha256;      // lower-case hex
    bool operator==(const FileFacts&) const = default;
};

// What the user opened: a database file, an iPhone backup or an Android extraction, with the
// source's own files that were read (the backup's Manifest and hashed files, the archive and
// its members) and their SHA-256.
struct SourceFacts {
    std::string path;
    std::string type = "database";  // "database", "iphone-backup" or "android-extraction"
    bool encrypted = false;
    std::string database;  // the database's name inside the source (a file: its name)
    std::string contacts;  // the contacts that named the conversations (inside, or a file); empty: none
    struct File {
        std::string path, inside;
        std::int64_t size = -1;
        std::string sha256;
    };
    std::vector<File> files;
};
class EvidenceSource;
// The facts of `source` as it is now (its files hashed).
SourceFacts TakeSourceFacts(const EvidenceSource& source);

// The files of the database at `path` (the database, its "-wal", a "-wal-undelete" an older
// program left, its "-journal"; those that exist), each hashed now.
struct EvidenceFacts {
    std::string databasePath;
    std::string kind;  // "android" or "iphone"
    std::vector<FileFacts> files;
    std::string takenAt;  // ISO 8601 with offset
    SourceFacts source{};  // filled by the caller that opened the source
};
EvidenceFacts TakeEvidenceFacts(const std::string& databasePath, DeviceKind kind);


struct ReportFacts {
    std::string program = "Kestrow";
    std::string version;
    EvidenceFacts atOpen;      // when the database was opened
    EvidenceFacts atReport;    // again, when the report is written
    bool unchanged = true;     // every file the same at both moments
    std::string warning;       // what changed, when something did; empty otherwise
    std::string timeZone;      // the time zone of every local time in the report
    std::string writtenAt;     // ISO 8601 with offset
    std::string recovery;      // "none", "default", "alternate" or "deep"
    std::int32_t recoveredCount = 0;
};

// The facts of a report written now about the database opened with `atOpen`: its files are
// hashed again and compared. The recovery is the current reader's.
ReportFacts CompleteReportFacts(const EvidenceFacts& atOpen, const std::string& version);

// Whether the file `atReport` (one of facts.atReport.files) is the same as when it was opened.
bool FileUnchanged(const ReportFacts& facts, const FileFacts& atReport);

// "database mmssms.db, 12345 bytes, modified 2026-…, SHA-256 …: unchanged" per file.
std::string FileFactsLine(const FileFacts& file, bool unchanged);
