// Taking an Android extraction's messages and contacts databases out of a .tar, .tar.gz/.tgz
// or .zip archive, safely: only the telephony provider's mmssms.db, the contacts provider's
// contacts2.db and their -wal and -journal are written, under names of our own in a private folder (a member's path is never used as one),
// links and other special members are skipped, and members that expand past the limits are
// refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct ExtractionLimits {
    std::uint64_t totalBytes = std::uint64_t{8} << 30;  // everything written, at most
    std::uint64_t ratio = 1000;                         // written per byte read, past the first 64 MiB
};

// One member taken out of the archive.
struct ArchivedFile {
    int user = 0;
    bool deviceProtected = false;  // under user_de
    bool contacts = false;         // contacts2.db or its log (else mmssms.db or its log)
    bool main = false;             // the database itself, not its -wal or -journal
    std::filesystem::path path;    // <folder>/<user>[-legacy]/<file name>
    std::string inside;            // the member's path in the archive
    std::uint64_t size = 0;
    std::string sha256;            // of the member's bytes
};

// Whether `path` names an archive by its ending (.tar, .tar.gz, .tgz, .zip; any case).
bool LooksLikeArchive(const std::filesystem::path& path);

// Extracts the messages and contacts databases of every user into `folder`; on failure returns
// nothing useful and sets `error` (a truncated or damaged archive names the archive and the
// reason; a member past the limits says which limit).
// `parts` (when given) gets the attachment files the archive holds, left in it: the phone's
// path after "/data/" ("user_de/0/com.android.providers.telephony/app_parts/PART_…") and the
// member's name.
std::vector<ArchivedFile> ExtractAndroidDatabases(const std::filesystem::path& archive,
                                                      const std::filesystem::path& folder, std::string& error,
                                                      const ExtractionLimits& limits = {},
                                                      std::map<std::string, std::string>* parts = nullptr);

// Takes the one member `member` out of the archive into `target` (a regular member only, within
// the limits); false with `error` set otherwise.
bool ExtractArchiveMember(const std::filesystem::path& archive, const std::string& member,
                          const std::filesystem::path& target, std::string& error, const ExtractionLimits& limits = {});
