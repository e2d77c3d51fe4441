// Bytes kept in memory up to a limit, then in a file of the system's.

#include "platform/spool_file.h"

namespace a5merge {

Spool::Spool(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {}

Spool::~Spool() = default;

void Spool::Append(std::string_view bytes) {
    if (!file_ && memory_.size() + bytes.size() <= memoryLimit_) {
        memory_.append(bytes);
        return;
    }
    if (!file_) {
        folder_ = TemporaryFolder();
        file_ = std::make_unique<File>(folder_);
    }
    file_->Append(bytes);
}

void Spool::ForEach(const std::function<void(std::string_view)>& sink) const {
    if (!memory_.empty()) sink(memory_);
    if (!file_) return;
    char buf[64 * 1024];
    for (std::uint64_t at = 0;;) {
        const std::size_t got = file_->ReadAt(at, buf, sizeof buf);
        if (got == 0) return;
        sink({buf, got});
        at += got;
    }
}

}  // namespace a5merge
