// Fuzz targets over the parsers of untrusted bytes. Each returns 0 and aborts (through a
// failed check) when a property of the parser does not hold for the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// Aborts, so that the fuzzer records the input, when a property does not hold.
inline void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

// MMS texts in the phones' character sets, and an iPhone edit history (a property list of
// archived strings): the first byte picks the character set.
int FuzzMms(const std::uint8_t* data, std::size_t size);

// Database text and numbers: the UTF-8 check, decimal parsing and the time display.
int FuzzText(const std::uint8_t* data, std::size_t size);

// The three record carvers at every offset of arbitrary bytes, under a schema from the input.
int FuzzCarvers(const std::uint8_t* data, std::size_t size);

// A whole counting and filling walk of arbitrary bytes, under a schema from the input.
int FuzzScan(const std::uint8_t* data, std::size_t size);

// The text reader of archived attributed strings (iPhone attributedBody blobs).
int FuzzAttributed(const std::uint8_t* data, std::size_t size);

// The deep recovery's page, log and journal parsers and its record decoder.
int FuzzDeep(const std::uint8_t* data, std::size_t size);

// The write-ahead log's committed frames laid over a main file, and the image read by SQLite.
int FuzzWal(const std::uint8_t* data, std::size_t size);

// The keybag, Manifest.plist and file-record readers of iPhone backups.
int FuzzBackup(const std::uint8_t* data, std::size_t size);

// The archive reader of Android extractions.
int FuzzArchive(const std::uint8_t* data, std::size_t size);

struct Target {
    std::string_view name;  // also the folder of its corpus under tests/corpus
    int (*run)(const std::uint8_t*, std::size_t);
};

inline constexpr Target kTargets[] = {
    {"text", FuzzText},
    {"carvers", FuzzCarvers},
    {"scan", FuzzScan},
    {"attributed", FuzzAttributed},
    {"deep", FuzzDeep},
    {"wal", FuzzWal},
    {"backup", FuzzBackup},
    {"archive", FuzzArchive},
    {"mms", FuzzMms},
};

}  // namespace fuzz
