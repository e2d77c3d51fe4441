// Throughput and peak memory of WriteMerged against cat on the same files.
//
//   merge_bench [--dir FOLDER] [--size MB] [--cli A5MERGE-CLI]
//   merge_bench --merge BOTTOM TOP OUT     (one merge, used as a child process)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "merge/writer.h"
#include "platform/runtime_error.h"
#include "platform/text_files.h"
#include "state/merge_state.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;

// PostScript-like lines of about 60 bytes with CR LF; a few match the filters.
void Generate(const fs::path& path, std::uintmax_t bytes, bool bottom) {
    if (fs::exists(path) && fs::file_size(path) >= bytes && fs::file_size(path) < bytes + 4096) {
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%BoundingBox: 0 0 595 420\r\n"
        << "%%TEXT723DUMMY\r\n";
    std::string block;
    std::uintmax_t written = 0;
    char line[128];
    for (unsigned i = 0; written < bytes; ++i) {
        int n;
        if (i % 5000 == 4999) {
            n = std::snprintf(line, sizeof line, "%s\r\n",
                              bottom ? "gsave showpage grestore % page end marker 0123456789"
                                     : "statusdict /setduplexmode known { 0 } if 0123456789");
        } else {
            n = std::snprintf(
                line, sizeof line,
                "%3u.%02u %3u.%02u lineto 0.%02u setgray 0.5 setlinewidth %% %08u\r\n", i % 595,
                i % 100, (i * 7) % 420, (i * 3) % 100, i % 97, i);
        }
        block.append(line, n);
        written += n;
        if (block.size() > (1 << 20)) {
            out << block;
            block.clear();
        }
    }
    out << block << "showpage\r\n";
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(2);
    }
}

struct Run {
    double seconds;
    long maxRssKiB;
};

// Runs argv as a child process, its standard output to `out` when given.
Run Spawn(const std::vector<std::string>& args, const char* out = nullptr) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out != nullptr) {
        posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(2);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(2);
    }
    return {took.count(), usage.ru_maxrss};
}

// Flushes `path` to the disk, as the writer does before it puts its output in place.
double Sync(const char* path) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(path, O_RDONLY);
    if (fd < 0 || fdatasync(fd) != 0) {
        std::fprintf(stderr, "cannot sync %s\n", path);
        std::exit(2);
    }
    close(fd);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

// One command to time: its output file, whether its standard output is that
// file, and whether the file is flushed to the disk as part of the run.
struct Job {
    std::vector<std::string> args;
    std::string out;
    bool redirect = false;
    bool sync = false;
    Run best{1e30, 0};
};

// Runs every job once a round, in turn, so that all see the same conditions;
// keeps each one's best time and highest peak memory. Each run starts with
// nothing left to write back and with its output removed.
void TimeInTurns(int rounds, std::vector<Job*> jobs) {
    for (int i = 0; i < rounds; ++i) {
        for (Job* job : jobs) {
            fs::remove(job->out);
            ::sync();
            Run r = Spawn(job->args, job->redirect ? job->out.c_str() : "/dev/null");
            if (job->sync) r.seconds += Sync(job->out.c_str());
            job->best.seconds = std::min(job->best.seconds, r.seconds);
            job->best.maxRssKiB = std::max(job->best.maxRssKiB, r.maxRssKiB);
            fs::remove(job->out);
        }
    }
}

// What a run is measured against: cat of the same inputs, bare and followed by
// fdatasync of its output, and the two input sizes (MiB) the runs used.
struct Throughput {
    double inputBytes;
    double catRate;
    double catSyncedRate;
    std::uintmax_t largeMiB;
    std::uintmax_t smallMiB;
};

// Prints one line for `name`: its throughput against cat, and its peak memory
// at both sizes. The writer flushes its output to the disk before it
// replaces the target, so the bar of half the throughput is taken against
// cat doing the same. Returns whether the bars are met.
bool Report(const char* name, const Run& large, const Run& small, const Throughput& yardstick) {
    const double rate = yardstick.inputBytes / large.seconds / kMiB;
    const double ratio = rate / yardstick.catSyncedRate;
    const double peak = large.maxRssKiB / 1024.0;
    const double smallPeak = small.maxRssKiB / 1024.0;
    const bool fast = ratio >= 0.5;
    const bool flat = peak < 32.0 && peak - smallPeak < 2.0;
    std::printf(
        "%s %.0f MiB/s; ratio %.2f to cat+fdatasync (bar 0.50 %s), %.2f to bare cat; peak memory "
        "%.1f MiB at %ju MiB input, %.1f MiB at %ju MiB (bar 32 MiB, no growth: %s)\n",
        name, rate, ratio, fast ? "met" : "NOT met", rate / yardstick.catRate, peak,
        yardstick.largeMiB, smallPeak, yardstick.smallMiB, flat ? "met" : "NOT met");
    return fast && flat;
}

int MergeOnce(const char* bottom, const char* top, const char* out) {
    a5merge::MergeState state;
    state.bottomFile = bottom;
    state.topFile = top;
    state.outFile = out;
    a5merge::TextFiles files;
    try {
        a5merge::WriteMerged(state, files);
    } catch (const a5merge::RuntimeError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--merge") == 0)
        return MergeOnce(argv[2], argv[3], argv[4]);

    fs::path dir = "bench-data";
    std::string cli;
    std::uintmax_t sizeMiB = 256;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (std::strcmp(argv[i], "--size") == 0) sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--cli") == 0) cli = argv[i + 1];
    }
    fs::create_directories(dir);
    const std::string self = fs::canonical("/proc/self/exe");
    const std::uintmax_t small = std::max<std::uintmax_t>(sizeMiB / 16, 1);

    const auto file = [&](const char* name) { return (dir / name).string(); };
    Generate(file("bottom.ps"), sizeMiB << 20, true);
    Generate(file("top.ps"), sizeMiB << 20, false);
    Generate(file("small-bottom.ps"), small << 20, true);
    Generate(file("small-top.ps"), small << 20, false);
    const double inputBytes =
        static_cast<double>(fs::file_size(file("bottom.ps")) + fs::file_size(file("top.ps")));

    // Warm the page cache, then time everything in turns.
    Spawn({"cat", file("bottom.ps"), file("top.ps")}, "/dev/null");
    const std::vector<std::string> catArgs = {"cat", file("bottom.ps"), file("top.ps")};
    Job catJob{catArgs, file("cat.out"), true, false};
    Job catSyncedJob{catArgs, file("cat.out"), true, true};
    Job mergeJob{{self, "--merge", file("bottom.ps"), file("top.ps"), file("merged.PS")},
                 file("merged.PS")};
    Job smallMergeJob{
        {self, "--merge", file("small-bottom.ps"), file("small-top.ps"), file("small.PS")},
        file("small.PS")};
    Job cliJob{{cli, "--force", "-o", file("cli.PS"), file("top.ps"), file("bottom.ps")},
               file("cli.PS")};
    Job smallCliJob{
        {cli, "--force", "-o", file("small-cli.PS"), file("small-top.ps"), file("small-bottom.ps")},
        file("small-cli.PS")};
    std::vector<Job*> jobs = {&catJob, &catSyncedJob, &mergeJob};
    if (!cli.empty()) jobs.push_back(&cliJob);
    TimeInTurns(5, jobs);
    TimeInTurns(1, cli.empty() ? std::vector<Job*>{&smallMergeJob}
                               : std::vector<Job*>{&smallMergeJob, &smallCliJob});
    const double catRate = inputBytes / catJob.best.seconds / kMiB;
    const double catSyncedRate = inputBytes / catSyncedJob.best.seconds / kMiB;
    std::printf("cat %.0f MiB/s, cat+fdatasync %.0f MiB/s\n", catRate, catSyncedRate);
    const Throughput yardstick{inputBytes, catRate, catSyncedRate, 2 * sizeMiB, 2 * small};
    bool met = Report("WriteMerged", mergeJob.best, smallMergeJob.best, yardstick);
    if (!cli.empty()) met = Report("a5merge-cli", cliJob.best, smallCliJob.best, yardstick) && met;
    return met ? 0 : 1;
}
