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

void RestartWithHugePageHeap(char** argv)
{
    const char* current = std::getenv("GLIBC_TUNABLES");
    std::string tunables = current != nullptr ? current : "";
    // Set already (by this restart, or by the user, whose choice stands).
    if (tunables.find("glibc.malloc.hugetlb") != std::string::npos || !KernelGivesHugePages()) return;
    tunables += (tunables.empty() ? "" : ":") + std::string("glibc.malloc.hugetlb=1");
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0) return;
    ::execv("/proc/self/exe", argv);
    // The program could not be run again: it goes on with ordinary pages.
}
