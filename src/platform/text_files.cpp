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

    void ReadLine(std::string& line) {
        line.clear();
        if (Eof()) throw RuntimeError(file_.path(), "Input past end of file");
        for (;;) {
            const char* start = buf_.get() + pos_;
            const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
            if (cr == nullptr) {
                line.append(start, end_ - pos_);
                pos_ = end_;
                if (!Fill()) return;
                continue;
            }
            line.append(start, cr - start);
            pos_ += (cr - start) + 1;
            if (pos_ == end_ && !Fill()) return;
            if (buf_[pos_] == '\n') ++pos_;
            return;
        }
    }

private:
    bool Fill() {
        pos_ = 0;
        end_ = file_.Read(buf_.get(), kBufferSize);
        return end_ > 0;
    }

    InputFile file_;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

class TextFiles::Writer {
public:
    explicit Writer(const std::string& path) : path_(path), file_(QFile::decodeName(path.c_str())) {
        buf_.reserve(kBufferSize);
        if (!file_.open(QIODevice::WriteOnly)) throw RuntimeError(path_, Reason());
    }

    void WriteLine(std::string_view text) {
        if (buf_.size() + text.size() + 2 > kBufferSize) {
            Flush();
            if (text.size() + 2 > kBufferSize) {
                WriteRaw(text);
                WriteRaw("\r\n");
                return;
            }
        }
        buf_.append(text);
        buf_.append("\r\n");
    }

    void Commit() {
        Flush();
        if (!file_.commit()) throw RuntimeError(path_, Reason());
    }

private:
    void Flush() {
        WriteRaw(buf_);
        buf_.clear();
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
    std::string buf_;
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

void TextFiles::LineInput(int no, std::string& line) { InputAt(no).ReadLine(line); }

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
