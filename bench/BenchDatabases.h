// Generated databases for the benchmarks (and the running of programs on them), built once into a cache folder outside the
// repository (KESTROW_BENCH_CACHE, default /tmp/kestrow-bench-cache) and reused.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace bench {

// A program run with its output thrown away: its wall time and its peak resident size.
struct Run {
    double seconds = 0;
    double peakMegabytes = 0;
};
Run RunProgram(std::string program, const std::vector<std::string>& args);

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

// The shapes of file the benchmark matrix measures, each as a phone writes it (indexes,
// triggers, the phone's own tables), with one message in ten deleted:
//   AndroidShort   200,000 SMS of 146 characters on average; a quarter of the pages free
//   AndroidLong    25,000 SMS of 500 to 3,500 characters, many on overflow pages
//   AndroidMms     200,000 messages, a third of them MMS (pdu, part and addr rows)
//   IphoneCurrent  200,000 messages in the 84-column table, dates in nanoseconds, every text
//                  also archived in attributedBody and half of them only there
//   IphoneLog      the same kind of file, 194,000 messages checkpointed and the last 6,000 in
//                  about 30 MB of log, in six commits and one that deletes
// `scale` multiplies the number of messages (the 10x file of the growth measurement).
enum class Shape { AndroidShort, AndroidLong, AndroidMms, IphoneCurrent, IphoneLog };
inline constexpr Shape kAllShapes[] = {Shape::AndroidShort, Shape::AndroidLong, Shape::AndroidMms, Shape::IphoneCurrent,
                                       Shape::IphoneLog};
const char* ShapeName(Shape shape);
bool ShapeIsIphone(Shape shape);
std::filesystem::path ShapeDatabase(Shape shape, int scale = 1);

}  // namespace bench
