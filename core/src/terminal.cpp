#include "terminal.hpp"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "text.hpp"

namespace tavik {

namespace {

bool valid_utf8(std::string_view s) {
    for (std::size_t pos = 0; pos < s.size();) {
        const std::size_t start = pos;
        const char32_t c = text::next_utf8(s, pos);
        // U+FFFD written out in full is fine; a one-byte step to it is not.
        if (c == U'\uFFFD' && pos - start != 3) return false;
        if (c >= 0xD800 && c < 0xE000) return false;
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
