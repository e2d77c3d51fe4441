#include "platform/text_files.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/file_system.h"
#include "platform/runtime_error.h"

namespace a5merge {

namespace {

std::logic_error Misuse(int no, const char* what) {
    return std::logic_error("file number " + std::to_string(no) + ": " + what);
}
}  // namespace

class TextFiles::Reader {
public:
    Reader(const std::string& path, std::size_t capacity)
        : file_(path), cap_(capacity), buf_(std::make_unique<char[]>(capacity)) {}

    bool Eof() { return pos_ == end_ && !ReadMore(); }

    // The next line, without its line end.
    std::string_view ReadLine() {
        if (Eof()) throw RuntimeError(file_.path(), "Input past end of file");
        for (;;) {
            const char* start = buf_.get() + pos_;
            const char* const limit = buf_.get() + end_;
            const auto* cr = static_cast<const char*>(std::memchr(start, '\r', limit - start));
            if (cr != nullptr && (cr + 1 < limit || atEnd_)) {
                pos_ = Offset(cr) + 1;
                if (pos_ < end_ && buf_[pos_] == '\n') ++pos_;
                return {start, static_cast<std::size_t>(cr - start)};
            }
            if (cr == nullptr && atEnd_) {  // the last line, without a line end
                pos_ = end_;
                return {start, static_cast<std::size_t>(limit - start)};
            }
            if (!ReadMore() && !atEnd_) {  // longer than the buffer: gathered aside
                spill_.clear();
                StreamLine([this](std::string_view piece) { spill_.append(piece); });
                return spill_;
            }
        }
    }

    // The next whole lines, each with its line end as in the file (the last
    // line of the file may have none); at least one line. Empty at the end,
    // and when the next line does not fit the buffer (then `longLine`).
    std::string_view ReadLines(bool& longLine) {
        longLine = false;
        if (Eof()) return {};
        for (;;) {
            const char* start = buf_.get() + pos_;
            const char* const limit = buf_.get() + end_;
            const char* cr = LastCr(start, limit);
            if (cr != nullptr && (cr + 1 < limit || atEnd_)) {
                pos_ = Offset(cr) + 1;
                if (pos_ < end_ && buf_[pos_] == '\n') ++pos_;
                return {start, pos_ - Offset(start)};
            }
            if (cr == nullptr && atEnd_) {
                pos_ = end_;
                return {start, static_cast<std::size_t>(limit - start)};
            }
            if (!ReadMore() && !atEnd_) {
                longLine = true;
                return {};
            }
        }
    }

    // Hands the next line to `sink` in pieces, then skips its line end.
    // Returns whether a line end followed.
    bool StreamLine(const std::function<void(std::string_view)>& sink) {
        if (Eof()) throw RuntimeError(file_.path(), "Input past end of file");
        for (;;) {
            const char* start = buf_.get() + pos_;
            const auto* cr = static_cast<const char*>(std::memchr(start, '\r', end_ - pos_));
            if (cr != nullptr) {
                sink({start, static_cast<std::size_t>(cr - start)});
                pos_ = Offset(cr) + 1;
                if (pos_ == end_) ReadMore();
                if (pos_ < end_ && buf_[pos_] == '\n') ++pos_;
                return true;
            }
            sink({start, end_ - pos_});
            pos_ = end_;
            if (!ReadMore()) return false;
        }
    }

    std::uint64_t Position() const { return bufOffset_ + pos_; }

    void Seek(std::uint64_t position) {
        file_.Seek(position);
        bufOffset_ = position;
        pos_ = end_ = 0;
        atEnd_ = false;
    }

    std::string_view ReadBlock() {
        if (Eof()) return {};
        const std::string_view block(buf_.get() + pos_, end_ - pos_);
        pos_ = end_;
        return block;
    }

private:
    std::size_t Offset(const char* at) const { return static_cast<std::size_t>(at - buf_.get()); }

    static const char* LastCr(const char* start, const char* limit) {
        while (limit > start) {
            if (*--limit == '\r') return limit;
        }
        return nullptr;
    }

    // Moves the unread bytes to the front and reads after them. False at the
    // end of the file, or when unread bytes fill the buffer.
    bool ReadMore() {
        if (atEnd_) return false;
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
            bufOffset_ += pos_;
            end_ -= pos_;
            pos_ = 0;
        }
        if (end_ == cap_) return false;
        const std::size_t n = file_.Read(buf_.get() + end_, cap_ - end_);
        if (n == 0) {
            atEnd_ = true;
            return false;
        }
        end_ += n;
        return true;
    }

    InputFile file_;
    const std::size_t cap_;
    std::unique_ptr<char[]> buf_;
    std::uint64_t bufOffset_ = 0;  // where in the file buf_ starts
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    std::string spill_;
};

// Output through two buffers: while a thread of its own writes one, the
// other fills. Every write is a whole buffer, so the file is written in
// aligned pieces. A failure of the thread's write comes back from the next
// Write or from Commit.
class TextFiles::Writer {
public:
    Writer(std::unique_ptr<OutputFile> file, std::size_t capacity)
        : file_(std::move(file)),
          cap_(capacity),
          buffers_{std::make_unique<char[]>(capacity), std::make_unique<char[]>(capacity)} {}

    // Stops the thread; an output not committed is dropped with its file.
    ~Writer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void WriteLine(std::string_view text) {
        Write(text);
        Write("\r\n");
    }

    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t n = std::min(bytes.size(), cap_ - used_);
            std::memcpy(buffers_[filling_].get() + used_, bytes.data(), n);
            used_ += n;
            bytes.remove_prefix(n);
            if (used_ == cap_) HandOver();
        }
    }

    // Puts the output in place; returns where it is.
    std::string Commit() {
        if (used_ > 0) HandOver();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return writing_ == kNone; });
        if (error_) std::rethrow_exception(error_);
        lock.unlock();
        file_->Commit();
        return file_->WrittenPath();
    }

private:
    static constexpr int kNone = -1;

    // Gives the filled buffer to the thread, once it is done with the other.
    void HandOver() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return writing_ == kNone; });
        if (error_) std::rethrow_exception(error_);
        if (!thread_.joinable()) thread_ = std::thread([this] { WriteInTurn(); });
        writing_ = filling_;
        size_ = used_;
        filling_ = 1 - filling_;
        used_ = 0;
        lock.unlock();
        changed_.notify_all();
    }

    void WriteInTurn() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return writing_ != kNone || stop_; });
            if (writing_ == kNone) return;
            const std::string_view bytes(buffers_[writing_].get(), size_);
            lock.unlock();
            std::exception_ptr error;
            try {
                file_->Write(bytes);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error && !error_) error_ = error;
            writing_ = kNone;
            changed_.notify_all();
        }
    }

    std::unique_ptr<OutputFile> file_;  // dropped, and its target kept, unless committed
    const std::size_t cap_;
    std::unique_ptr<char[]> buffers_[2];
    int filling_ = 0;       // the buffer Write fills
    std::size_t used_ = 0;  // of that buffer

    std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    int writing_ = kNone;   // the buffer the thread writes, or kNone
    std::size_t size_ = 0;  // of that buffer
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

TextFiles::TextFiles(std::size_t bufferSize) : bufferSize_(std::max<std::size_t>(bufferSize, 1)) {}
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
    FreeSlot(no).in = std::make_unique<Reader>(path, bufferSize_);
}

void TextFiles::OpenOutput(int no, const std::string& path, IfExists ifExists,
                           SpecialFiles special) {
    Slot& slot = FreeSlot(no);
    auto file = NamesStandardOutput(path) ? OutputFile::StandardOutput(path)
                                          : std::make_unique<OutputFile>(path, ifExists, special);
    slot.out = std::make_unique<Writer>(std::move(file), bufferSize_);
}

bool TextFiles::Eof(int no) { return InputAt(no).Eof(); }

void TextFiles::LineInput(int no, std::string& line) { line = InputAt(no).ReadLine(); }

std::string_view TextFiles::InputBlock(int no) { return InputAt(no).ReadBlock(); }

std::string_view TextFiles::InputLines(int no, bool& longLine) {
    return InputAt(no).ReadLines(longLine);
}

bool TextFiles::StreamLine(int no, const std::function<void(std::string_view)>& sink) {
    return InputAt(no).StreamLine(sink);
}

std::uint64_t TextFiles::InputPosition(int no) { return InputAt(no).Position(); }

void TextFiles::SeekInput(int no, std::uint64_t position) { InputAt(no).Seek(position); }

void TextFiles::Print(int no, std::string_view bytes) { OutputAt(no).Write(bytes); }

void TextFiles::PrintLine(int no, std::string_view text) { OutputAt(no).WriteLine(text); }

void TextFiles::Close(int no) {
    if (!IsOpen(no)) throw Misuse(no, "not open");
    Slot& slot = slots_[no];
    slot.in.reset();
    if (auto out = std::move(slot.out)) lastWritten_ = out->Commit();
}

void TextFiles::Abandon(int no) {
    if (!IsOpen(no)) return;
    slots_[no].in.reset();
    slots_[no].out.reset();
}

void TextFiles::CloseAll() {
    for (int no = 1; no <= kMaxFileNo; ++no) Abandon(no);
}

}  // namespace a5merge
