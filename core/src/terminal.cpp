#include "terminal.hpp"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace tavik {

namespace {

// Strict: overlong forms, surrogates and values above U+10FFFF are invalid too.
bool valid_utf8(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    for (std::size_t pos = 0; pos < s.size();) {
        const unsigned char lead = byte(pos);
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        // The lead byte fixes the length and the range of the first continuation byte.
        std::size_t extra = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            extra = 1;
        else if (lead == 0xE0)
            extra = 2, low = 0xA0;
        else if (lead == 0xED)
            extra = 2, high = 0x9F;
        else if (lead >= 0xE1 && lead <= 0xEF)
            extra = 2;
        else if (lead == 0xF0)
            extra = 3, low = 0x90;
        else if (lead == 0xF4)
            extra = 3, high = 0x8F;
        else if (lead >= 0xF1 && lead <= 0xF3)
            extra = 3;
        else
            return false;
        if (s.size() - pos <= extra) return false;
        if (byte(pos + 1) < low || byte(pos + 1) > high) return false;
        for (std::size_t i = 2; i <= extra; ++i)
            if ((byte(pos + i) & 0xC0) != 0x80) return false;
        pos += extra + 1;
    }
    return true;
}

// A variable whose value is not valid UTF-8 counts as unset.
const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value && valid_utf8(value) ? value : nullptr;
}

bool decide() {
    if (const char* force = variable("CLICOLOR_FORCE"); force && std::string_view(force) != "0") return true;
    if (variable("NO_COLOR")) return false;
    const char* clicolor = variable("CLICOLOR");
    if (clicolor && std::string_view(clicolor) == "0") return false;
    return isatty(1) != 0;
}

}  // namespace

bool terminal_colors_enabled() {
    static const bool enabled = decide();  // thread-safe one-time initialisation
    return enabled;
}

}  // namespace tavik
