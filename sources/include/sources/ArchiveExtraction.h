// Taking an Android extraction's messages databases out of a .tar, .tar.gz/.tgz or .zip
// archive, safely: only the telephony provider's mmssms.db and its -wal and -journal are
// written, under names of our own in a private folder (a member's path is never used as one),
// links and other special members are skipped, and members that expand past the limits are
// refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct ExtractionLimits {
    std::uint64_t totalBytes = std::uint64_t{8} << 30;  // everything written, at most
    std::uint64_t ratio = 1000;                         // written per byte read, past the first 64 MiB
};

struct ArchivedDatabase {
    int user = 0;
    bool deviceProtected = false;     // under user_de
    std::filesystem::path database;   // <folder>/<user>[-legacy]/mmssms.db (its -wal/-journal beside)
    std::string inside;               // the member's path in the archive
};

// Whether `path` names an archive by its ending (.tar, .tar.gz, .tgz, .zip; any case).
bool LooksLikeArchive(const std::filesystem::path& path);

// Extracts the messages databases of every user into `folder`; on failure returns nothing
// useful and sets `error` (a truncated or damaged archive names the archive and the reason; a
// member past the limits says which limit).
std::vector<ArchivedDatabase> ExtractAndroidDatabases(const std::filesystem::path& archive,
                                                      const std::filesystem::path& folder, std::string& error,
                                                      const ExtractionLimits& limits = {});
