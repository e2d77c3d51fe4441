#include "text_files.h"

#include <QFile>
#include <QSaveFile>

#include <cstring>
#include <stdexcept>

#include "file_system.h"
#include "runtime_error.h"

namespace psmerge {

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;

std::logic_error Misuse(int no, const char* what) {
    return std::logic_error("file number " + std::to_string(no) + ": " + what);
}
}  // namespace

class TextFiles::Reader {
public:
    explicit Reader(const std::string& path)
        : file_(path), buf_(std::make_unique<char[]>(kBufferSize)) {}

    bool Eof() { return pos_ == end_ && !Fill(); }

    // The next line, valid until the next call.
    std::string_view ReadLine() {
        if (Eof()) throw RuntimeError(file_.path(), "Input past end of file");
        const char* start = buf_.get() + pos_;
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
        if (cr != nullptr && cr + 1 < buf_.get() + end_) {
            pos_ = static_cast<std::size_t>(cr - buf_.get()) + 1;
            if (buf_[pos_] == '\n') ++pos_;
            return {start, static_cast<std::size_t>(cr - start)};
        }
        return ReadAcrossBuffers();
    }

    std::string_view ReadBlock() {
        if (Eof()) return {};
        const std::string_view block(buf_.get() + pos_, end_ - pos_);
        pos_ = end_;
        return block;
    }

private:
    // A line, or its line end, that runs past the end of the buffer.
    std::string_view ReadAcrossBuffers() {
        spill_.clear();
        for (;;) {
            const char* start = buf_.get() + pos_;
            const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
            if (cr == nullptr) {
                spill_.append(start, end_ - pos_);
                pos_ = end_;
                if (!Fill()) return spill_;
                continue;
            }
            spill_.append(start, cr - start);
            pos_ = static_cast<std::size_t>(cr - buf_.get()) + 1;
            if (pos_ == end_ && !Fill()) return spill_;
            if (buf_[pos_] == '\n') ++pos_;
            return spill_;
        }
    }

    bool Fill() {
        pos_ = 0;
        end_ = file_.Read(buf_.get(), kBufferSize);
        return end_ > 0;
    }

    InputFile file_;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::string spill_;
};

class TextFiles::Writer {
public:
    explicit Writer(const std::string& path)
        : path_(path), file_(QFile::decodeName(path.c_str())),
          buf_(std::make_unique<char[]>(kBufferSize)) {
        if (!file_.open(QIODevice::WriteOnly)) throw RuntimeError(path_, Reason());
    }

    void WriteLine(std::string_view text) {
        if (used_ + text.size() + 2 > kBufferSize) {
            Flush();
            if (text.size() + 2 > kBufferSize) {
                WriteRaw(text);
                WriteRaw("\r\n");
                return;
            }
        }
        char* at = buf_.get() + used_;
        std::memcpy(at, text.data(), text.size());
        at[text.size()] = '\r';
        at[text.size() + 1] = '\n';
        used_ += text.size() + 2;
    }

    void Commit() {
        Flush();
        if (!file_.commit()) throw RuntimeError(path_, Reason());
    }

private:
    void Flush() {
        WriteRaw({buf_.get(), used_});
        used_ = 0;
    }

    // A short write is retried, so that a full disk reports its own reason.
    void WriteRaw(std::string_view data) {
        while (!data.empty()) {
            const qint64 written = file_.write(data.data(), static_cast<qint64>(data.size()));
            if (written <= 0) throw RuntimeError(path_, Reason());
            data.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    std::string Reason() const { return file_.errorString().toStdString(); }

    std::string path_;
    QSaveFile file_;  // discards its temporary file unless committed
    std::unique_ptr<char[]> buf_;
    std::size_t used_ = 0;
};

TextFiles::TextFiles() = default;
TextFiles::~TextFiles() = default;

int TextFiles::FreeFile() const {
    for (int no = 1; no <= kMaxFileNo; ++no) {
        if (!IsOpen(no)) return no;
    }
    throw RuntimeError("", "Too many files");
}

bool TextFiles::IsOpen(int no) const {
    return no >= 1 && no <= kMaxFileNo && (slots_[no].in || slots_[no].out);
}

TextFiles::Slot& TextFiles::FreeSlot(int no) {
    if (no < 1 || no > kMaxFileNo) throw Misuse(no, "out of range");
    if (IsOpen(no)) throw Misuse(no, "already open");
    return slots_[no];
}

TextFiles::Reader& TextFiles::InputAt(int no) {
    if (no < 1 || no > kMaxFileNo || !slots_[no].in) throw Misuse(no, "not open for input");
    return *slots_[no].in;
}

TextFiles::Writer& TextFiles::OutputAt(int no) {
    if (no < 1 || no > kMaxFileNo || !slots_[no].out) throw Misuse(no, "not open for output");
    return *slots_[no].out;
}

void TextFiles::OpenInput(int no, const std::string& path) {
    FreeSlot(no).in = std::make_unique<Reader>(path);
}

void TextFiles::OpenOutput(int no, const std::string& path) {
    FreeSlot(no).out = std::make_unique<Writer>(path);
}

bool TextFiles::Eof(int no) { return InputAt(no).Eof(); }

std::string_view TextFiles::LineInput(int no) { return InputAt(no).ReadLine(); }

void TextFiles::LineInput(int no, std::string& line) { line = InputAt(no).ReadLine(); }

std::string_view TextFiles::InputBlock(int no) { return InputAt(no).ReadBlock(); }

void TextFiles::PrintLine(int no, std::string_view text) { OutputAt(no).WriteLine(text); }

void TextFiles::Close(int no) {
    if (!IsOpen(no)) throw Misuse(no, "not open");
    Slot& slot = slots_[no];
    slot.in.reset();
    if (auto out = std::move(slot.out)) out->Commit();
}

void TextFiles::Abandon(int no) {
    if (!IsOpen(no)) return;
    slots_[no].in.reset();
    slots_[no].out.reset();
}

void TextFiles::CloseAll() {
    for (int no = 1; no <= kMaxFileNo; ++no) Abandon(no);
}

}  // namespace psmerge
