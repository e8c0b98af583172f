// The benchmark matrix: every shape of file, the companion's conversations, recover and
// recover --deep (--json, output thrown away) against SQLite's own shell printing the message
// tables of the same file, in one run. Each figure is the median of several runs with the
// spread (lowest and highest); peak memory is the largest resident size a run reached. The
// floors are measured inside this process on the same file: reading it into memory, one pass
// over its bytes there, loading the live rows, and writing the recovery's JSON. The memory
// target is 1.5 times the file's size (with its log or journal) plus the live messages' own
// size: what the loaded live messages hold in the program (each record, its texts and its
// attachments' names and paths).
// Run: build/main/bench/kestrow-bench-matrix [--runs N] [--shape NAME]... [--no-growth]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BenchDatabases.h"
#include "presentation/CliReport.h"
#include "presentation/JsonWriter.h"
#include "readers/CreateReader.h"
#include "recovery/FileImage.h"
#include "recovery/RecoveryRun.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
struct Figures {
    std::vector<double> seconds;
    double peakMegabytes = 0;
    void Add(const bench::Run& run)
    {
        seconds.push_back(run.seconds);
        peakMegabytes = std::max(peakMegabytes, run.peakMegabytes);
    }
    double Median() const
    {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n == 0 ? 0 : n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double Low() const { return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end()); }
    double High() const { return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end()); }
};

double Timed(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What SQLite's shell prints for the same file: every message table the companion reads.
std::string ShellQuery(bench::Shape shape)
{
    switch (shape) {
    case bench::Shape::AndroidMms:
        return "SELECT * FROM sms ORDER BY date; SELECT * FROM pdu ORDER BY date; SELECT * FROM part; SELECT * FROM addr;";
    case bench::Shape::IphoneCurrent:
    case bench::Shape::IphoneLog: return "SELECT * FROM message ORDER BY date;";
    default: return "SELECT * FROM sms ORDER BY date;";
    }
}

std::uint64_t FilesSize(const fs::path& database)
{
    std::uint64_t size = fs::file_size(database);
    for (const char* suffix : {"-wal", "-journal"}) {
        const fs::path beside = database.string() + suffix;
        if (fs::exists(beside)) size += fs::file_size(beside);
    }
    return size;
}

constexpr const char* kCommands[] = {"shell", "conversations", "recover", "deep"};

struct ShapeResult {
    std::string name;
    double megabytes = 0, liveMegabytes = 0;
    double liveHeld = 0;  // MB the live messages take in the program once loaded: their own size
    std::map<std::string, Figures> commands;
    Figures read, pass, load, scan, deep, json;
};

// The companion's three commands and the shell, interleaved run by run.
void MeasureCommands(ShapeResult& result, bench::Shape shape, const fs::path& database, int runs)
{
    const std::string path = database.string();
    for (int r = 0; r < runs; ++r) {
        result.commands["shell"].Add(bench::RunProgram("/usr/bin/sqlite3", {"-readonly", path, ShellQuery(shape)}));
        result.commands["conversations"].Add(bench::RunProgram(KESTROW_CLI_PATH, {"conversations", "--json", path}));
        result.commands["recover"].Add(bench::RunProgram(KESTROW_CLI_PATH, {"recover", "--json", path}));
        result.commands["deep"].Add(bench::RunProgram(KESTROW_CLI_PATH, {"recover", "--deep", "--json", path}));
        std::fprintf(stderr, ".");
    }
}

// The bytes a text keeps on the heap (none when it fits in the string itself).
std::size_t HeapBytes(const std::string& text) { return text.capacity() > 15 ? text.capacity() + 1 : 0; }

// The floors, in this process: the file into memory, one pass over its bytes, the live rows
// loaded, and the default recovery's JSON written to /dev/null.
void MeasureFloors(ShapeResult& result, bench::Shape shape, const fs::path& database, int runs)
{
    const std::string path = database.string();
    const DatabaseName kind = bench::ShapeIsIphone(shape) ? DatabaseName::Iphone : DatabaseName::Android;
    std::FILE* null = std::fopen("/dev/null", "w");
    for (int r = 0; r < runs; ++r) {
        std::uint64_t sum = 0;
        result.read.seconds.push_back(Timed([&] {
            const FileImage image(path);
            result.pass.seconds.push_back(Timed([&] {
                for (std::size_t at = 0; at + 8 <= image.Size(); at += 8) {
                    std::uint64_t word = 0;
                    std::memcpy(&word, image.Data() + at, 8);
                    sum += word;
                }
            }));
        }));
        if (sum == 42) std::fprintf(stderr, " ");
        result.read.seconds.back() -= result.pass.seconds.back();
        g_store.RestoreProgramStart();
        result.load.seconds.push_back(Timed([&] { ReplaceReaderAndLoad(CreateReader(kind), path); }));
        RecoveryRunCounts counts;
        result.scan.seconds.push_back(Timed([&] { counts = RunRecoverySteps(path); }));
        result.json.seconds.push_back(Timed([&] {
            JsonWriter json(null);
            WriteRecoveryJson(json, path, counts.countingFound, counts.fillingFound);
        }));
        result.deep.seconds.push_back(Timed([&] { RunDeepRecoverySteps(path); }));
    }
    double live = 0, held = 0;
    for (std::int32_t i = 0; i < g_store.liveMessageCount; ++i) {
        const MessageRecord& m = g_store.liveMessages[i];
        live += static_cast<double>(m.body.size() + m.address.size());
        held += static_cast<double>(sizeof m + HeapBytes(m.body) + HeapBytes(m.address));
        if (m.details->attachments.empty() && m.details->subject.empty()) continue;
        held += sizeof(MessageDetails) + static_cast<double>(HeapBytes(m.details->subject));
        for (const Attachment& a : m.details->attachments) {
            held += static_cast<double>(sizeof a + HeapBytes(a.name) + HeapBytes(a.mime) + HeapBytes(a.file) + HeapBytes(a.at));
        }
    }
    result.liveMegabytes = live / 1e6;
    result.liveHeld = held / 1e6;
    std::fclose(null);
}

// The floors in a child process, so that what they load never counts in this process's size,
// which each spawned command's peak would otherwise include until it starts its program.
void MeasureFloorsApart(ShapeResult& result, bench::Shape shape, const fs::path& database, int runs)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        ShapeResult inner;
        MeasureFloors(inner, shape, database, runs);
        std::vector<double> out;
        for (const Figures* f : {&inner.read, &inner.pass, &inner.load, &inner.scan, &inner.deep, &inner.json}) {
            out.insert(out.end(), f->seconds.begin(), f->seconds.end());
        }
        out.push_back(inner.liveMegabytes);
        out.push_back(inner.liveHeld);
        const ssize_t wanted = static_cast<ssize_t>(out.size() * sizeof(double));
        const bool whole = ::write(pipeEnds[1], out.data(), static_cast<std::size_t>(wanted)) == wanted;
        ::_exit(whole ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    std::vector<double> in(static_cast<std::size_t>(6 * runs + 2));
    std::size_t got = 0;
    while (got < in.size() * sizeof(double)) {
        const ssize_t n = ::read(pipeEnds[0], reinterpret_cast<char*>(in.data()) + got, in.size() * sizeof(double) - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    if (got != in.size() * sizeof(double)) return;
    std::size_t at = 0;
    for (Figures* f : {&result.read, &result.pass, &result.load, &result.scan, &result.deep, &result.json}) {
        f->seconds.assign(in.begin() + static_cast<std::ptrdiff_t>(at), in.begin() + static_cast<std::ptrdiff_t>(at + runs));
        at += static_cast<std::size_t>(runs);
    }
    result.liveMegabytes = in[at];
    result.liveHeld = in[at + 1];
}

void PrintSpread(const Figures& f) { std::printf("%.3f (%.3f–%.3f)", f.Median(), f.Low(), f.High()); }

void PrintShape(const ShapeResult& r)
{
    const double shell = r.commands.at("shell").Median();
    const double allowed = 1.5 * r.megabytes + r.liveHeld;
    std::printf("\n### %s — %.1f MB (with log or journal); live messages %.1f MB in the program (texts %.1f MB)\n\n",
                r.name.c_str(), r.megabytes, r.liveHeld, r.liveMegabytes);
    std::printf("| command | median s (low–high) | × shell (low–high) | peak MB | target |\n|---|---|---|---|---|\n");
    for (const char* command : kCommands) {
        const Figures& f = r.commands.at(command);
        std::printf("| %s | ", command);
        PrintSpread(f);
        // The spread of the ratio: each run against the shell's run of the same round.
        std::vector<double> ratios;
        for (std::size_t i = 0; i < f.seconds.size(); ++i) ratios.push_back(f.seconds[i] / r.commands.at("shell").seconds[i]);
        std::printf(" | %.2f (%.2f–%.2f) | %.0f | ", f.Median() / shell, *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), f.peakMegabytes);
        const double limit = std::strcmp(command, "recover") == 0 ? 1.2 : std::strcmp(command, "deep") == 0 ? 1.5 : 0;
        if (limit > 0) {
            const bool met = f.Median() / shell <= limit && f.peakMegabytes <= allowed;
            std::printf("≤ %.1f×, ≤ %.0f MB: %s |\n", limit, allowed, met ? "met" : "MISSED");
        } else {
            std::printf("|\n");
        }
    }
    const std::pair<const char*, const Figures*> floors[] = {
        {"read into memory", &r.read},   {"one pass over the bytes", &r.pass}, {"load of the live rows", &r.load},
        {"JSON of the recovery", &r.json}, {"default recovery after the load", &r.scan},
        {"deep recovery after the load", &r.deep}};
    std::printf("\nFloors in one process (median, low–high, s):");
    for (const auto& [label, figures] : floors) {
        std::printf(" %s ", label);
        PrintSpread(*figures);
        std::printf(";");
    }
    std::printf("\n");
}

ShapeResult MeasureShape(bench::Shape shape, int scale, int runs)
{
    ShapeResult result;
    result.name = std::string(bench::ShapeName(shape)) + (scale > 1 ? " x" + std::to_string(scale) : "");
    std::fprintf(stderr, "%s: preparing", result.name.c_str());
    const fs::path database = bench::ShapeDatabase(shape, scale);
    result.megabytes = static_cast<double>(FilesSize(database)) / 1e6;
    std::fprintf(stderr, " measuring");
    MeasureCommands(result, shape, database, runs);
    MeasureFloorsApart(result, shape, database, runs);
    std::fprintf(stderr, " done\n");
    PrintShape(result);
    return result;
}

void PrintGrowth(const ShapeResult& one, const ShapeResult& ten)
{
    const double size = ten.megabytes / one.megabytes;
    std::printf("\n### growth from %s to %s (%.1f× the bytes)\n\n| command | time × | of linear | target |\n|---|---|---|---|\n",
                one.name.c_str(), ten.name.c_str(), size);
    for (const char* command : kCommands) {
        const double times = ten.commands.at(command).Median() / one.commands.at(command).Median();
        const bool target = std::strcmp(command, "recover") == 0;
        std::printf("| %s | %.2f | %.2f | %s |\n", command, times, times / size,
                    target ? (times / size <= 1.1 ? "≤ 1.1: met" : "≤ 1.1: MISSED") : "");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    bool growth = true;
    std::vector<bench::Shape> shapes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--no-growth") {
            growth = false;
        } else if (arg == "--shape" && i + 1 < argc) {
            const std::string name = argv[++i];
            for (const bench::Shape shape : bench::kAllShapes) {
                if (name == bench::ShapeName(shape)) shapes.push_back(shape);
            }
        } else {
            std::fprintf(stderr,
                         "usage: kestrow-bench-matrix [--runs N] [--shape NAME]... [--no-growth]\n"
                         "  shapes: android-short android-long android-mms iphone-current iphone-log\n"
                         "  files are built once into KESTROW_BENCH_CACHE (default /tmp/kestrow-bench-cache)\n");
            return arg == "--help" ? 0 : 2;
        }
    }
    if (shapes.empty()) shapes.assign(std::begin(bench::kAllShapes), std::end(bench::kAllShapes));
    std::printf("## Benchmark matrix: %d runs per figure, page cache warm\n", runs);
    std::vector<ShapeResult> results;
    for (const bench::Shape shape : shapes) results.push_back(MeasureShape(shape, 1, runs));
    const auto one = std::find(shapes.begin(), shapes.end(), bench::Shape::AndroidShort);
    if (growth && one != shapes.end()) {
        const ShapeResult ten = MeasureShape(bench::Shape::AndroidShort, 10, runs);
        PrintGrowth(results[static_cast<std::size_t>(one - shapes.begin())], ten);
    }
    return 0;
}
