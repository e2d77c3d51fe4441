// What an output path gets: a new file put in its place, the content spooled
// into a FIFO or device, or a refusal with its reason. How each is done is
// the system's (output_sink.h).

#include <cerrno>

#include "platform/file_system.h"
#include "platform/output_sink.h"
#include "platform/runtime_error.h"

namespace a5merge {

struct OutputFile::Impl {
    enum class Kind {
        NewFile,   // a new file, put in place at Commit
        Spooled,   // a temporary file, copied to the destination at Commit
        AsItComes  // standard output that is a file, cut back if dropped
    };
    std::string path;  // as given, for messages
    Kind kind = Kind::NewFile;
    std::unique_ptr<OutputSink> sink;
    bool committed = false;
    std::string writtenPath;

    ~Impl() {
        if (sink && !committed) sink->Drop();
    }
    void SpoolInto(const OutputTarget& target) {
        kind = Kind::Spooled;
        sink->OpenSpool(&target);
    }
};

OutputFile::OutputFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

OutputFile::OutputFile(const std::string& path, IfExists ifExists, SpecialFiles special)
    : impl_(std::make_unique<Impl>()) {
    impl_->path = path;
    if (path.find('\0') != std::string::npos) throw RuntimeError::FromSystem(path, ENOENT);
    impl_->sink = NewOutputSink(path);
    const OutputTarget target = ExamineOutputTarget(path);
    const bool refuse = special == SpecialFiles::Refuse;
    using Is = OutputTarget::Is;
    switch (target.is) {
        case Is::Nothing:
            impl_->sink->OpenNewFile(path, ifExists);
            return;
        case Is::File:
            // The file itself is replaced, also through links.
            impl_->sink->OpenNewFile(target.place, ifExists);
            return;
        case Is::Folder:
            throw RuntimeError(path, "is a folder", EISDIR);
        case Is::Fifo:
            if (refuse) throw RuntimeError(path, "is a FIFO, not a file");
            impl_->SpoolInto(target);
            return;
        case Is::CharacterDevice:
            if (refuse) throw RuntimeError(path, "is a character device, not a file");
            impl_->SpoolInto(target);
            return;
        case Is::Socket:
            throw RuntimeError(path, "is a socket, not a file");
        case Is::BlockDevice:
            throw RuntimeError(path, "is a block device, not a file");
        case Is::DeviceName:
            // NUL is written into as /dev/null is; the other device names are no files.
            if (target.device != "NUL" || refuse) {
                throw RuntimeError(
                    path, "is " + target.device + ", a device of Windows, not a file", EINVAL);
            }
            impl_->SpoolInto(target);
            return;
        case Is::DevicePath:
            throw RuntimeError(path, "is a device of Windows, not a file", EINVAL);
        case Is::Stream:
            throw RuntimeError(path, "names a stream of a file (after its ':'), not a file",
                               EINVAL);
    }
}

std::unique_ptr<OutputFile> OutputFile::StandardOutput(const std::string& name) {
    auto impl = std::make_unique<Impl>();
    impl->path = name;
    // A file written at its end gets the sheet as it comes; one written from
    // inside (1<>FILE) would lose bytes it holds to a refused sheet, so it
    // waits, as a pipe or a terminal does.
    const StandardOutputPlace place = ExamineStandardOutput(name);
    impl->sink = NewOutputSink(name);
    if (place.fileAtItsEnd) {
        impl->kind = Impl::Kind::AsItComes;
        impl->sink->WriteToStandardOutput(place);
    } else {
        impl->kind = Impl::Kind::Spooled;
        impl->sink->OpenSpool(nullptr);
    }
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(impl)));
}

OutputFile::~OutputFile() = default;

void OutputFile::Write(std::string_view bytes) { impl_->sink->Write(bytes); }

void OutputFile::Commit() {
    switch (impl_->kind) {
        case Impl::Kind::NewFile:
            impl_->sink->PutInPlace();
            impl_->writtenPath = impl_->sink->WrittenPath();
            break;
        case Impl::Kind::Spooled:
            impl_->sink->Deliver();
            impl_->writtenPath = impl_->sink->WrittenPath();
            break;
        case Impl::Kind::AsItComes:
            impl_->writtenPath = impl_->path;
            break;
    }
    impl_->committed = true;
}

const std::string& OutputFile::WrittenPath() const {
    return impl_->writtenPath.empty() ? impl_->path : impl_->writtenPath;
}

std::string NothingWritten(const std::string& reason) { return reason + "; nothing was written"; }

std::string NoRoomBesideHardLinked(std::uint64_t links, const std::string& why) {
    return "has " + std::to_string(links) +
           " hard links, so it is rewritten in place, with the whole new sheet kept beside it "
           "meanwhile; this user may not make that file in its folder (" +
           why + "), so nothing was written";
}

std::string CannotRewriteInPlace(std::uint64_t links) {
    if (links > 1) {
        return "has " + std::to_string(links) +
               " hard links and this user may not write it, so it cannot be rewritten in place; "
               "nothing was written";
    }
    return "belongs to another user or group and this user may not write it; a new file would "
           "change its owner, so nothing was written";
}

std::string WholeSheetKeptIn(const std::string& reason, const std::string& copy) {
    return reason + "; the whole new sheet is in " + copy;
}

std::string CopyName(const std::string& name, int n) {
    return name + ".a5merge-new" + (n == 1 ? std::string() : "-" + std::to_string(n));
}

std::string EveryCopyNameTaken(const std::string& name) {
    return "every name for its new sheet beside it (" + CopyName(name, 1) + " to -" +
           std::to_string(kCopyNames) + ") is taken; nothing was written";
}

std::string HeldByAnotherProgram(const std::string& held, const std::string& newSheet) {
    if (newSheet.empty()) return NothingWritten(held + " (another program holds it open)");
    return NothingWritten(held + " (another program holds its new sheet, " + newSheet + ", open)");
}

std::string LeftAfterFailedReplacement(std::string reason, bool stranded,
                                       const std::string& oldSheet, const std::string& newSheet) {
    if (const std::size_t cut = reason.rfind("; nothing was written"); cut != std::string::npos) {
        reason.erase(cut);
    }
    reason +=
        stranded ? "; nothing is under its name now:" : "; something else is under its name now:";
    if (!oldSheet.empty()) reason += " the old sheet is in " + oldSheet;
    if (!oldSheet.empty() && !newSheet.empty()) reason += " and";
    if (!newSheet.empty()) reason += " the whole new sheet is in " + newSheet;
    return reason;
}

}  // namespace a5merge
