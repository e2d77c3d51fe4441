// a5merge-cli against its yardsticks, on two generated inputs in the page
// cache: cat of the same files (with and without a sync of its output) and
// pstops placing the same two pages on one sheet. Every command runs in
// turns with its yardstick (A B A B ...), each run with its inputs read
// first and its output removed and flushed; the medians are compared.
//
// The sheet as PDF is timed on the sample pair against the PostScript
// output of the same pair and against ps2pdf of that sheet.
//
//   merge_bench --cli A5MERGE-CLI --samples FOLDER [--dir FOLDER] [--size MB] [--rounds N]

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;

// Writes PostScript-like lines of about 60 bytes with CR LF to `out`, until
// `bytes` are written; a few match the writer's filters. Written as they are
// made, so that this program stays small: a child it starts reports the
// parent's peak memory as its own.
void WriteBody(std::ostream& out, std::uintmax_t bytes, bool bottom) {
    std::string block;
    char line[128];
    std::uintmax_t written = 0;
    for (unsigned i = 0; written < bytes; ++i) {
        const int n =
            i % 5000 == 4999
                ? std::snprintf(line, sizeof line, "%s\r\n",
                                bottom ? "gsave showpage grestore % page end marker 0123456789"
                                       : "statusdict /setduplexmode known { 0 } if 0123456789")
                : std::snprintf(
                      line, sizeof line,
                      "%3u.%02u %3u.%02u lineto 0.%02u setgray 0.5 setlinewidth %% %08u\r\n",
                      i % 595, i % 100, (i * 7) % 420, (i * 3) % 100, i % 97, i);
        block.append(line, static_cast<std::size_t>(n));
        written += static_cast<std::uintmax_t>(n);
        if (block.size() > (1 << 20)) {
            out << block;
            block.clear();
        }
    }
    out << block << "showpage\r\n";
}

// The two inputs of `mib` MiB each (accepted by the check), and the same two
// pages as one document with page comments, which pstops needs.
struct Inputs {
    std::string top, bottom, pages;
};

Inputs Generate(const fs::path& dir, std::uintmax_t mib) {
    const std::string tag = std::to_string(mib);
    Inputs in{(dir / ("top-" + tag + ".ps")).string(), (dir / ("bottom-" + tag + ".ps")).string(),
              (dir / ("pages-" + tag + ".ps")).string()};
    if (fs::exists(in.pages)) return in;
    const char* head =
        "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%BoundingBox: 0 0 595 420\r\n"
        "%%TEXT723DUMMY\r\n";
    std::ofstream top(in.top, std::ios::binary | std::ios::trunc);
    std::ofstream bottom(in.bottom, std::ios::binary | std::ios::trunc);
    std::ofstream pages(in.pages + ".part", std::ios::binary | std::ios::trunc);
    top << head;
    bottom << head;
    WriteBody(top, mib << 20, false);
    WriteBody(bottom, mib << 20, true);
    pages << "%!PS-Adobe-3.0\r\n%%Pages: 2\r\n%%EndComments\r\n%%Page: 1 1\r\n";
    WriteBody(pages, mib << 20, true);
    pages << "%%Page: 2 2\r\n";
    WriteBody(pages, mib << 20, false);
    pages << "%%Trailer\r\n%%EOF\r\n";
    if (!top || !bottom || !pages.flush()) {
        std::fprintf(stderr, "cannot write the inputs in %s\n", dir.c_str());
        std::exit(2);
    }
    pages.close();
    fs::rename(in.pages + ".part", in.pages);  // complete only once it has its name
    return in;
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKiB = 0;
};

// Runs `args`, its standard output to `out`; with `sync`, then flushes
// `written` to the disk, as part of the time.
Run Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& written,
          bool sync) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(2);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (sync) {
        const int fd = open(written.c_str(), O_RDONLY);
        if (fd < 0 || fdatasync(fd) != 0) std::exit(2);
        close(fd);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(2);
    }
    const auto cpu = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {took.count(), cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss};
}

// One command to time: what it reads, where its standard output goes, the
// file it writes, if any (removed before and after each run), and whether
// the run includes flushing that file to the disk.
struct Job {
    std::vector<std::string> args;
    std::vector<std::string> inputs;
    std::string stdoutTo;
    std::string written;
    bool sync = false;
    std::vector<Run> runs = {};
};

// Reads `paths` whole, so that every run starts with its inputs in memory.
void Warm(const std::vector<std::string>& paths) {
    static std::vector<char> buffer(1 << 20);
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
        }
    }
}

// Waits until the disk behind `path` has no request in flight: the blocks of
// a file removed are freed (with `discard`, slowly) after the next commit,
// and that belongs to no run.
void WaitForQuietDisk(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    const std::string inflight = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                                 std::to_string(minor(st.st_dev)) + "/inflight";
    for (int tries = 0; tries < 1000; ++tries) {
        std::ifstream in(inflight);
        long reads = -1, writes = -1;
        if (!(in >> reads >> writes) || (reads == 0 && writes == 0)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Runs every job once a round, each run with its inputs just read, its
// output removed before and after it, and the disk quiet. The order turns
// round every round (A B, B A, ...): on a virtual machine the first write
// after a pause is slower, and neither side should always be the one after it.
void TimeInTurns(int rounds, std::vector<Job*> jobs, const std::string& folder) {
    for (int i = 0; i < rounds; ++i) {
        std::reverse(jobs.begin(), jobs.end());
        for (Job* job : jobs) {
            if (!job->written.empty()) fs::remove(job->written);
            ::sync();
            WaitForQuietDisk(folder);
            Warm(job->inputs);
            job->runs.push_back(Spawn(job->args, job->stdoutTo, job->written, job->sync));
            if (!job->written.empty()) fs::remove(job->written);
        }
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MedianTime(const Job& job) {
    std::vector<double> times;
    for (const Run& run : job.runs) times.push_back(run.seconds);
    return Median(times);
}

double MedianCpu(const Job& job) {
    std::vector<double> times;
    for (const Run& run : job.runs) times.push_back(run.cpuSeconds);
    return Median(times);
}

long PeakKiB(const Job& job) {
    long peak = 0;
    for (const Run& run : job.runs) peak = std::max(peak, run.maxRssKiB);
    return peak;
}

// Prints one row: `name` against its yardstick, in throughput, and whether
// the bar (a ratio of at least `bar`; none when 0) is met.
void Row(const char* name, const Job& ours, const char* yardstickName, const Job& yardstick,
         double bytes, double bar) {
    const double time = MedianTime(ours);
    const double yardTime = MedianTime(yardstick);
    const double ratio = yardTime / time;
    std::printf("%-52s %7.3f s %6.0f MiB/s | %-28s %7.3f s | ratio %.2f", name, time,
                bytes / time / kMiB, yardstickName, yardTime, ratio);
    if (bar > 0) std::printf(" (bar %.2f %s)", bar, ratio >= bar ? "met" : "NOT met");
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    fs::path dir = "bench-data";
    std::string cli;
    fs::path samples;
    std::uintmax_t sizeMiB = 256;
    int rounds = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (std::strcmp(argv[i], "--size") == 0) sizeMiB = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--cli") == 0) cli = argv[i + 1];
        if (std::strcmp(argv[i], "--samples") == 0) samples = argv[i + 1];
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    }
    if (cli.empty() || samples.empty()) {
        std::fprintf(stderr,
                     "usage: %s --cli A5MERGE-CLI --samples FOLDER [--dir FOLDER] [--size MB] "
                     "[--rounds N]\n",
                     argv[0]);
        return 2;
    }
    fs::create_directories(dir);
    const std::uintmax_t smallMiB = std::max<std::uintmax_t>(sizeMiB / 16, 1);
    const Inputs large = Generate(dir, sizeMiB);
    const Inputs small = Generate(dir, smallMiB);
    const double bytes =
        static_cast<double>(fs::file_size(large.top) + fs::file_size(large.bottom));
    const std::string file = (dir / "out.PS").string();
    const std::vector<std::string> inputs{large.top, large.bottom};

    const std::string none = "/dev/null";
    Job cat{{"cat", large.bottom, large.top}, inputs, file, file};
    Job catSynced{{"cat", large.bottom, large.top}, inputs, file, file, true};
    Job durable{{cli, "--force", "--output", file, large.top, large.bottom}, inputs, none, file};
    Job redirected{{cli, "--output", "-", large.top, large.bottom}, inputs, file, file};
    Job toNull{{cli, "--output", "-", large.top, large.bottom}, inputs, none, ""};
    Job pstops{{"pstops", "-q", "2:0+1(0,405)", large.pages}, {large.pages}, none, ""};
    const std::string smallFile = (dir / "small.PS").string();
    Job smallRedirected{{cli, "--output", "-", small.top, small.bottom},
                        {small.top, small.bottom},
                        smallFile,
                        smallFile};

    // The sample pair as PDF, as PostScript, and the PostScript through ps2pdf.
    const std::string sampleTop = (samples / "top.ps").string();
    const std::string sampleBottom = (samples / "bottom.ps").string();
    const std::string sheet = (dir / "sample.PS").string();
    Spawn({cli, "--force", "--output", sheet, sampleTop, sampleBottom}, none, sheet, false);
    const std::string pdfFile = (dir / "sample.pdf").string();
    Job pdf{{cli, "--pdf", "--force", "--output", pdfFile, sampleTop, sampleBottom},
            {sampleTop, sampleBottom},
            none,
            pdfFile};
    Job postScript{{cli, "--force", "--output", file, sampleTop, sampleBottom},
                   {sampleTop, sampleBottom},
                   none,
                   file};
    Job ps2pdf{{"ps2pdf", sheet, pdfFile}, {sheet}, none, pdfFile};
    TimeInTurns(3 * rounds, {&pdf, &postScript, &ps2pdf}, dir.string());

    TimeInTurns(rounds, {&durable, &catSynced}, dir.string());
    TimeInTurns(rounds, {&redirected, &cat}, dir.string());
    TimeInTurns(rounds, {&toNull, &pstops}, dir.string());
    TimeInTurns(rounds, {&smallRedirected}, dir.string());

    Row("a5merge-cli --force --output F (durable)", durable, "cat B T > F && sync F", catSynced,
        bytes, 0.8);
    Row("a5merge-cli --output - > F", redirected, "cat B T > F", cat, bytes, 0.8);
    Row("a5merge-cli --output - > /dev/null", toNull, "pstops, same two pages", pstops, bytes, 0);
    std::printf("%-52s %7.3f s | %-28s %7.3f s | %.1f times cat's\n", "CPU time of a5merge-cli > F",
                MedianCpu(redirected), "CPU time of cat", MedianCpu(cat),
                MedianCpu(redirected) / MedianCpu(cat));
    std::printf("%-52s %7.3f s | %-28s %7.3f s | %.1f times\n",
                "a5merge-cli --pdf, the sample pair", MedianTime(pdf), "the same as PostScript",
                MedianTime(postScript), MedianTime(pdf) / MedianTime(postScript));
    std::printf("%-52s %7.3f s | %-28s %7.3f s | %.2f times\n", "", MedianTime(pdf),
                "ps2pdf of the sheet", MedianTime(ps2pdf), MedianTime(pdf) / MedianTime(ps2pdf));
    const double peak = PeakKiB(redirected) / 1024.0;
    const double smallPeak = PeakKiB(smallRedirected) / 1024.0;
    const bool flat = peak - smallPeak < 2.0;
    std::printf(
        "peak memory of a5merge-cli: %.1f MiB at %ju MiB of input, %.1f MiB at %ju MiB (%s)\n",
        peak, 2 * sizeMiB, smallPeak, 2 * smallMiB, flat ? "flat" : "GROWS");
    return 0;  // the lines say whether each bar is met; a timing decides nothing else
}
