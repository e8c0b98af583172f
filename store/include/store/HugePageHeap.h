// Asking the C library's allocator for transparent huge pages, for the whole process.
#pragma once

#include <optional>
#include <string>

// A large database makes the program allocate hundreds of megabytes in small pieces; with
// 4 KiB pages every first touch of one is a page fault, and those faults cost more than the
// reading itself. glibc's allocator asks the kernel for huge pages when its tunable
// glibc.malloc.hugetlb=1 is set, which it reads only when a program starts: so this runs the
// program again, once, with the tunable added to GLIBC_TUNABLES, where the kernel gives huge
// pages on request and the variable does not already name the tunable. Returns only when it
// did not restart the program (already set, no huge pages, or the restart failed).
void RestartWithHugePageHeap(char** argv);

// The GLIBC_TUNABLES value to restart with, from the current one (null when unset): the
// tunable added after the others; nothing when it names glibc.malloc.hugetlb already (the
// restart's own, or the user's choice, which stands).
std::optional<std::string> TunablesWithHugePages(const char* current);
