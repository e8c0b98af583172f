// Restarting the program once with glibc's allocator asked for transparent huge pages.
#include "store/HugePageHeap.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The kernel's setting names the mode in use in brackets: "always [madvise] never".
bool KernelGivesHugePages()
{
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(setting, modes);
    return modes.find("[always]") != std::string::npos || modes.find("[madvise]") != std::string::npos;
}

}  // namespace

std::optional<std::string> TunablesWithHugePages(const char* current)
{
    const std::string tunables = current != nullptr ? current : "";
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) return std::nullopt;
    return tunables + (tunables.empty() ? "" : ":") + "glibc.malloc.hugetlb=1";
}

void RestartWithHugePageHeap(char** argv)
{
    const std::optional<std::string> tunables = TunablesWithHugePages(std::getenv("GLIBC_TUNABLES"));
    if (!tunables || !KernelGivesHugePages()) return;
    if (::setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
    ::execv("/proc/self/exe", argv);
    // The program could not be run again: it goes on with ordinary pages.
}
