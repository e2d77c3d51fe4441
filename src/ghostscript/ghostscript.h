#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace a5merge {

struct ChildResult;

// How Ghostscript is run. It is always a program of its own, never linked.
struct GhostscriptSettings {
    std::string program;  // its full path; empty: where this system keeps it (FindGhostscript)
    bool sandbox = true;  // in bubblewrap, where it is installed and works
    std::chrono::seconds timeLimit{60};
    std::uint64_t memoryLimit = std::uint64_t{1} << 30;  // address space

    // The defaults, with A5MERGE_GHOSTSCRIPT_SECONDS (whole seconds) as the
    // time limit when it is set.
    static GhostscriptSettings FromEnvironment();
};

// Every run's arguments, whatever it makes: -dSAFER and batch mode, PostScript
// `print` output sent to standard error so that it never mixes into the
// result, and an A4 page that no document can change.
std::vector<std::string> GhostscriptSafetyArguments();

// The arguments after the program's name: the safety ones, `device` (the
// output device and its settings), then the result to standard output and
// the document from standard input.
std::vector<std::string> GhostscriptArguments(const std::vector<std::string>& device);

// Devices. A PDF of vectors with fonts embedded, pages never turned, and the
// same bytes for the same document (no date, ID or XMP).
std::vector<std::string> PdfDevice();
// Binary PGM, one image a page, without smoothing: for telling where ink is.
std::vector<std::string> GrayRasterDevice(int dotsPerInch);
// Binary PPM with smoothed text and lines: for showing.
std::vector<std::string> ColourRasterDevice(double dotsPerInch);

// Ghostscript's own error, shortened for a message: its "Error: ..." line
// where there is one, else its first line; control characters shown as '?'.
std::string ShortGhostscriptError(const std::string& errors);

// The most one run may write, its temporary files and its result each and
// together, for a document of `documentBytes`: 64 MiB and four times the
// document, at most 1 GiB.
std::uint64_t GhostscriptWriteLimit(std::uint64_t documentBytes);

// What a run that passed that limit is told.
std::string WroteTooMuchText(std::uint64_t limit);

// What the user is told when there is no Ghostscript, and what to do: on
// Linux the package to install, on Windows Ghostscript for Windows.
extern const char* const kGhostscriptMissing;

struct GhostscriptResult {
    bool ok = false;
    bool cancelled = false;
    std::string output;   // what it made, when no output descriptor was given
    std::string failure;  // why it failed, as the user is told
};

// Runs Ghostscript on documents, one run at a time per call (calls from
// several threads may run at once). Each run has a clean environment, the
// time limit, a processor-time limit, the memory limit and a limit on what
// it writes (GhostscriptWriteLimit of the document on its input, when that
// is a file). Where bubblewrap (bwrap) is installed and works, it runs
// inside it: no namespace shared with us, the system read-only, no /home, a
// file system in memory of that limit as its /tmp and current folder, no
// capabilities, a session of its own, killed once we end. Elsewhere a
// private, empty folder is its temporary and current folder, watched so
// that its files never take more than that limit.
class Ghostscript {
public:
    explicit Ghostscript(GhostscriptSettings settings = GhostscriptSettings::FromEnvironment());
    ~Ghostscript();
    Ghostscript(const Ghostscript&) = delete;
    Ghostscript& operator=(const Ghostscript&) = delete;

    const GhostscriptSettings& settings() const { return settings_; }
    // Whether the program is there: looked for again at each call.
    bool Found() const { return !Program().empty(); }
    // Whether runs are sandboxed; when bubblewrap is installed but cannot
    // make its sandbox here, `why` says what it said.
    bool Sandboxed(std::string* why = nullptr) const;

    // Reads the document in file `input` (a regular file, never waited on)
    // and makes it with `device`; the result goes to `output`, a new file,
    // or, when that is empty, into the result (at most `outputLimit` bytes).
    // A run that `cancel` stops is killed. A file at fault is named in the
    // failure.
    GhostscriptResult Run(const std::vector<std::string>& device, const std::string& input,
                          const std::string& output = {}, const std::atomic<bool>* cancel = nullptr,
                          std::size_t outputLimit = std::size_t{256} << 20) const;

    // The whole command of a run that may write `writeLimit` bytes.
    std::vector<std::string> Command(const std::vector<std::string>& device,
                                     std::uint64_t writeLimit) const;

private:
    struct Sandbox;
    std::string Program() const;
    std::vector<std::string> CommandOf(const std::string& program, bool sandboxed,
                                       const std::vector<std::string>& device,
                                       std::uint64_t writeLimit) const;
    // What a sandboxed run (`made`: its sandbox was made) tells of the sandbox.
    void LearnSandbox(const ChildResult& result, bool made) const;
    // Whether runs go into the sandbox: not once it is known to fail here.
    bool SandboxMayWork() const;
    GhostscriptSettings settings_;
    std::unique_ptr<Sandbox> sandbox_;
};

}  // namespace a5merge
