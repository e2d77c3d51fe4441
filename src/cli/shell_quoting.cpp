#include "cli/shell_quoting.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/file_system.h"

namespace a5merge {

namespace {

// The length of the well-formed UTF-8 character at the start of `bytes`, or
// 0 when none starts there (a stray byte, an overlong form, a surrogate, a
// code point past U+10FFFF, a cut sequence).
std::size_t CharacterLength(std::string_view bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // shorter forms are overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((at(k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// Whether a shell takes the ASCII character `c` as it is, unquoted (the
// folder separator too, which on Windows is a backslash).
bool PlainForAShell(unsigned char c) {
    return std::isalnum(c) != 0 || std::strchr("_-.,:/+@%=", c) != nullptr ||
           c == static_cast<unsigned char>(PlatformSeparator());
}

}  // namespace

std::string Shown(const std::string& name) {
    std::vector<bool> special(name.size(), false);
    bool any = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !PlainForAShell(u)) any = true;
    }
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        std::size_t length = CharacterLength(std::string_view(name).substr(i));
        if (length == 0 || c < 0x20 || c == 0x7F) {
            special[i] = any = true;
            length = 1;
        }
        i += length;
    }
    if (!any) return name;

    std::string shown;
    bool inQuotes = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (special[i]) {
            if (inQuotes) shown += '\'';
            inQuotes = false;
            char escaped[8];
            std::snprintf(escaped, sizeof escaped,
                          c == '\n'   ? "\\n"
                          : c == '\t' ? "\\t"
                          : c == '\r' ? "\\r"
                                      : "\\%03o",
                          c);
            shown += "$'" + std::string(escaped) + "'";
            continue;
        }
        if (!inQuotes) shown += '\'';
        inQuotes = true;
        shown += c == '\'' ? std::string("'\\''") : std::string(1, name[i]);
    }
    if (inQuotes) shown += '\'';
    return shown;
}

}  // namespace a5merge
