#include "input/path_helpers.h"

#include "platform/desktop.h"

namespace a5merge {

namespace {
constexpr std::int16_t kTrue = -1;
}  // namespace

bool FileExists(const std::string& strFile) { return !Dir(strFile).empty(); }

bool DirExists(const std::string& strPath) { return !Dir(strPath).empty(); }

std::string PathOnly(std::string filepath, char sep) {
    const auto p = filepath.rfind(sep);
    if (p == std::string::npos) return {};
    filepath.resize(p);
    return filepath;
}

std::string FileOnly(std::string filepath, char sep) {
    const auto p = filepath.rfind(sep);
    if (p == std::string::npos) return filepath;
    return filepath.substr(p + 1);
}

std::string ExtOnly(const std::string& filepath, const std::int16_t& dot) {
    const auto p = filepath.rfind('.');
    std::string ext = p == std::string::npos ? filepath : filepath.substr(p + 1);
    if (dot == kTrue) ext.insert(0, 1, '.');
    return ext;
}

std::string ChangeExt(std::string filepath, std::string& newext) {
    const auto p = filepath.rfind('.');
    if (p != std::string::npos) filepath.resize(p);
    if (!newext.empty()) newext.insert(0, 1, '.');
    return filepath + newext;
}

bool MayHaveLostBytes(const std::string& path) {
    return path.find("\xEF\xBF\xBD") != std::string::npos;
}

bool TooShortForNameOnly(const std::string& filename) {
    // Characters, not bytes: UTF-8 continuation bytes do not count.
    std::size_t characters = 0;
    for (const char c : filename) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
    }
    return characters < 11;
}

void StopForShortPath(const MergeState& state, Desktop& desktop) {
    desktop.MsgBox(kInvalidProcessing + state.lineBreak + kProgramWillClose, kMbSystemModal);
    desktop.End(1);
}

std::string BareName(const std::string& filename, char sep) {
    std::string name = FileOnly(filename, sep);
    const auto q = name.rfind('.');
    if (q != std::string::npos) name.resize(q);
    return name;
}

std::string NameOnly(const std::string& filename, const MergeState& state, Desktop& desktop,
                     char sep) {
    if (TooShortForNameOnly(filename)) StopForShortPath(state, desktop);
    return BareName(filename, sep);
}

}  // namespace a5merge
