#include "ghostscript/ghostscript.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "ghostscript/system_ghostscript.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

namespace {

constexpr std::size_t kShortErrorLength = 200;

std::string Trimmed(std::string_view text) {
    while (!text.empty() && std::strchr(" \t\r\n", text.front()) != nullptr) text.remove_prefix(1);
    while (!text.empty() && std::strchr(" \t\r\n", text.back()) != nullptr) text.remove_suffix(1);
    return std::string(text);
}

// `line` as a message may show it: control characters as '?', at most
// kShortErrorLength bytes, cut between UTF-8 characters.
std::string Shown(std::string line) {
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    if (line.size() <= kShortErrorLength) return line;
    std::size_t cut = kShortErrorLength;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    return line.substr(0, cut) + "...";
}

std::string Seconds(std::chrono::seconds limit) { return std::to_string(limit.count()) + " s"; }

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// The size of the document in file `input`; 0 when it cannot be told.
std::uint64_t DocumentBytes(const std::string& input) {
    const std::optional<FileStamp> stamp = StampOf(input);
    return stamp ? stamp->size : 0;
}

}  // namespace

std::uint64_t GhostscriptWriteLimit(std::uint64_t documentBytes) {
    constexpr std::uint64_t kLeast = 64 * kMiB, kMost = 1024 * kMiB;
    if (documentBytes >= (kMost - kLeast) / 4) return kMost;
    return kLeast + 4 * documentBytes;
}

std::string WroteTooMuchText(std::uint64_t limit) {
    return "Ghostscript was stopped: the document made it write more than " +
           std::to_string(limit / kMiB) +
           " MiB of files, the most allowed for a document of its size";
}

GhostscriptSettings GhostscriptSettings::FromEnvironment() {
    GhostscriptSettings settings;
    if (const char* seconds = std::getenv("A5MERGE_GHOSTSCRIPT_SECONDS")) {
        char* end = nullptr;
        const long value = std::strtol(seconds, &end, 10);
        if (end != seconds && *end == '\0' && value > 0)
            settings.timeLimit = std::chrono::seconds(value);
    }
    return settings;
}

std::vector<std::string> GhostscriptSafetyArguments() {
    return {"-dSAFER",          "-dBATCH",        "-dNOPAUSE",   "-dQUIET",
            "-sstdout=%stderr", "-sPAPERSIZE=a4", "-dFIXEDMEDIA"};
}

std::vector<std::string> GhostscriptArguments(const std::vector<std::string>& device) {
    std::vector<std::string> args = GhostscriptSafetyArguments();
    args.insert(args.end(), device.begin(), device.end());
    args.insert(args.end(), {"-sOutputFile=-", "-"});
    return args;
}

std::vector<std::string> PdfDevice() {
    return {"-sDEVICE=pdfwrite",
            "-dPDFSETTINGS=/prepress",
            "-dAutoRotatePages=/None",
            "-dOmitInfoDate",
            "-dOmitID",
            "-dOmitXMP"};
}

std::vector<std::string> GrayRasterDevice(int dotsPerInch) {
    return {"-sDEVICE=pgmraw", "-r" + std::to_string(dotsPerInch)};
}

std::vector<std::string> ColourRasterDevice(double dotsPerInch) {
    char resolution[32];
    std::snprintf(resolution, sizeof resolution, "-r%.0f", dotsPerInch < 1 ? 1.0 : dotsPerInch);
    return {"-sDEVICE=ppmraw", resolution, "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4"};
}

std::string ShortGhostscriptError(const std::string& errors) {
    std::string first;
    std::string_view rest = errors;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string line = Trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.rfind("Error: ", 0) == 0) return Shown(line);
        if (first.empty()) first = line;
    }
    return Shown(first);
}

struct Ghostscript::Sandbox {
    std::string program;  // bwrap, or empty
    std::mutex mutex;
    // Learnt from the first run that tells, or from a probe when asked
    // before any run.
    enum class Known { NotYet, Works, Fails } known = Known::NotYet;
    std::string why;  // what bubblewrap said, when it fails
};

Ghostscript::Ghostscript(GhostscriptSettings settings)
    : settings_(std::move(settings)), sandbox_(std::make_unique<Sandbox>()) {
    if (settings_.sandbox) sandbox_->program = SandboxProgram();
}

Ghostscript::~Ghostscript() = default;

// Looked for at each use, so that one installed (or removed) while the
// program runs is found (or missed) from then on.
std::string Ghostscript::Program() const {
    if (settings_.program.empty()) return FindGhostscript();
    return IsRegularFile(settings_.program) ? settings_.program : std::string();
}

void Ghostscript::LearnSandbox(const ChildResult& result, bool made) const {
    std::lock_guard lock(sandbox_->mutex);
    if (sandbox_->known != Sandbox::Known::NotYet) return;
    if (made) {
        sandbox_->known = Sandbox::Known::Works;
    } else if (result.ending == ChildResult::Ending::Exited && result.status != 0) {
        // A sandbox that cannot be made here (no user namespaces in a
        // container, say) leaves -dSAFER and the private folders.
        sandbox_->known = Sandbox::Known::Fails;
        sandbox_->why = ShortGhostscriptError(result.errors);
    }
}

bool Ghostscript::SandboxMayWork() const {
    if (sandbox_->program.empty()) return false;
    std::lock_guard lock(sandbox_->mutex);
    return sandbox_->known != Sandbox::Known::Fails;
}

bool Ghostscript::Sandboxed(std::string* why) const {
    if (sandbox_->program.empty()) return false;
    const std::string program = Program();
    if (program.empty()) return false;
    bool known = false;
    {
        std::lock_guard lock(sandbox_->mutex);
        known = sandbox_->known != Sandbox::Known::NotYet;
    }
    if (!known) {
        // Asked before any run told: a run of its own.
        ChildResult result;
        bool made = false;
        try {
            ChildRequest probe;
            probe.argv = SandboxedCommand(sandbox_->program, {program, "--version"}, kMiB);
            probe.environment = GhostscriptEnvironment(kSandboxTemporaryFolder);
            probe.limits.wallClock = std::chrono::seconds(10);
            probe.lifeline = true;
            result = RunChild(probe);
            made = ReadSandboxEnding(result);
        } catch (const RuntimeError& error) {
            result.ending = ChildResult::Ending::Exited;
            result.status = 1;
            result.errors = error.what();
        }
        LearnSandbox(result, made);
    }
    std::lock_guard lock(sandbox_->mutex);
    if (sandbox_->known != Sandbox::Known::Works && why != nullptr) *why = sandbox_->why;
    return sandbox_->known == Sandbox::Known::Works;
}

std::vector<std::string> Ghostscript::Command(const std::vector<std::string>& device,
                                              std::uint64_t writeLimit) const {
    return CommandOf(Program(), Sandboxed(), device, writeLimit);
}

std::vector<std::string> Ghostscript::CommandOf(const std::string& program, bool sandboxed,
                                                const std::vector<std::string>& device,
                                                std::uint64_t writeLimit) const {
    std::vector<std::string> command = GhostscriptArguments(device);
    command.insert(command.begin(), program);
    if (!sandboxed) return command;
    return SandboxedCommand(sandbox_->program, command, writeLimit);
}

GhostscriptResult Ghostscript::Run(const std::vector<std::string>& device, const std::string& input,
                                   const std::string& output, const std::atomic<bool>* cancel,
                                   std::size_t outputLimit) const {
    GhostscriptResult result;
    const std::string program = Program();
    if (program.empty()) {
        result.failure = kGhostscriptMissing;
        return result;
    }
    // In the sandbox unless it is known not to work here; a first run
    // that finds it cannot be made runs again without it.
    const bool sandboxed = SandboxMayWork();
    const std::uint64_t writeLimit = GhostscriptWriteLimit(DocumentBytes(input));
    ChildRequest request;
    // In the sandbox it writes into a file system of its own; elsewhere
    // into a private folder whose files are watched.
    std::unique_ptr<PrivateFolder> folder;
    if (!sandboxed) {
        try {
            folder = std::make_unique<PrivateFolder>();
        } catch (const RuntimeError& error) {
            result.failure =
                "no private folder for Ghostscript in " + error.path() + ": " + error.reason();
            return result;
        }
        if (std::string trouble = FolderTrouble(folder->path()); !trouble.empty()) {
            result.failure = std::move(trouble);
            return result;
        }
        request.folder = folder->path();
        request.limits.folder = folder->path();
        request.limits.folderBytes = writeLimit;
    }
    const std::string temporary = sandboxed ? kSandboxTemporaryFolder : folder->path();
    request.argv = CommandOf(program, sandboxed, device, writeLimit);
    request.environment = GhostscriptEnvironment(temporary);
    request.inputFile = input;
    request.outputFile = output;
    request.outputLimit = outputLimit;
    request.limits.wallClock = settings_.timeLimit;
    request.limits.addressSpaceBytes = settings_.memoryLimit;
    request.limits.cpuSeconds = static_cast<std::uint64_t>(settings_.timeLimit.count()) + 5;
    request.limits.fileBytes = writeLimit;
    request.lifeline = sandboxed;
    ChildResult child = RunChild(request, cancel);
    if (sandboxed) {
        const bool made = ReadSandboxEnding(child);
        LearnSandbox(child, made);
        if (!made && !SandboxMayWork()) {
            if (!output.empty()) std::remove(output.c_str());  // made empty by that run
            return Run(device, input, output, cancel, outputLimit);
        }
    }

    using Ending = ChildResult::Ending;
    switch (child.ending) {
        case Ending::Exited:
            if (child.status == 0) {
                result.ok = true;
                result.output = std::move(child.output);
                return result;
            }
            if (const std::string said = ShortGhostscriptError(child.errors); !said.empty()) {
                result.failure = said.rfind("bwrap:", 0) == 0 ? said : "Ghostscript: " + said;
            } else {
                result.failure = "Ghostscript ended with status " + std::to_string(child.status);
            }
            break;
        case Ending::TimedOut:
            result.failure = "Ghostscript did not finish within " + Seconds(settings_.timeLimit);
            break;
        case Ending::Signalled:
            result.failure = "Ghostscript was stopped by signal " + std::to_string(child.status) +
                             " (" + SignalName(child.status) + ")";
            break;
        case Ending::CpuLimit:
            result.failure = "Ghostscript used more than " +
                             std::to_string(request.limits.cpuSeconds) + " s of processor time";
            break;
        case Ending::WroteTooMuch:
            result.failure = WroteTooMuchText(writeLimit);
            break;
        case Ending::OutputTooLarge:
            result.failure =
                "Ghostscript made more than " + std::to_string(outputLimit >> 20) + " MiB";
            break;
        case Ending::Cancelled:
            result.cancelled = true;
            result.failure = "cancelled";
            break;
        case Ending::BadFile:
            result.failure = child.startFailure;
            break;
        case Ending::NotStarted:
            result.failure = "Ghostscript could not be started: " + child.startFailure;
            break;
    }
    return result;
}

}  // namespace a5merge
