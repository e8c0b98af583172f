// Generated databases for the benchmarks, built once into a cache folder outside the
// repository (KESTROW_BENCH_CACHE, default /tmp/kestrow-bench-cache) and reused.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace bench {

std::filesystem::path CacheFolder();

// A message text of mixed scripts and emoji, numbered `i`.
std::string Body(std::mt19937& random, int i);

// About `megabytes` MB of Android or iPhone messages with one in ten deleted.
std::filesystem::path SmallDatabase(bool iphone, int megabytes);

// `scale` x 70 MB: 200,000 x scale Android messages over 400 partners, one in ten deleted.
std::filesystem::path AndroidDatabase(int scale);

// About `megabytes` MB of live Android rows, 200,000 of them over 2,000 partners, with a few
// hundred deleted: nearly every find of a recovery is a copy of a live row.
std::filesystem::path LiveRowsDatabase(int megabytes);

// 22,000 Android messages over 200 partners with one in ten deleted: 20,000 live messages
// and the deleted ones for a recovery to find, as an export of 20,000 messages and more.
std::filesystem::path ExportDatabase();

}  // namespace bench
