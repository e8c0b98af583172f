// Fuzz target for the archive reader of Android extractions: arbitrary bytes as a .tgz/.zip,
// extracted into a scratch folder. Checks that nothing is written outside that folder and that
// every database taken lies inside it.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "FuzzTargets.h"
#include "evidence/ArchiveExtraction.h"

namespace fuzz {

int FuzzArchive(const std::uint8_t* data, std::size_t size)
{
    namespace fs = std::filesystem;
    static const fs::path scratch = fs::temp_directory_path() / ("kestrow-fuzz-archive-" + std::to_string(::getpid()));
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    fs::create_directories(scratch / "out");
    const fs::path archive = scratch / "input.tgz";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::string error;
    for (const ArchivedFile& file : ExtractAndroidDatabases(archive, scratch / "out", error)) {
        Check(file.path.string().starts_with((scratch / "out").string()), "a database lies in the folder");
    }
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(scratch)) entries += entry.path().filename() == "out" || entry.path() == archive ? 0 : 1;
    Check(entries == 0, "nothing is written beside the output folder");
    fs::remove_all(scratch, ignored);
    return 0;
}

}  // namespace fuzz
