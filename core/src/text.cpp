#include "text.hpp"

#include <cstdio>

namespace tavik::text {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t next_utf8(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    const std::size_t extra = lead < 0x80             ? 0
                              : (lead & 0xE0) == 0xC0 ? 1
                              : (lead & 0xF0) == 0xE0 ? 2
                              : (lead & 0xF8) == 0xF0 ? 3
                                                      : 4;
    if (extra == 0) {
        ++pos;
        return lead;
    }
    if (extra == 4 || s.size() - pos <= extra) {
        ++pos;
        return U'\uFFFD';
    }
    char32_t c = lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return U'\uFFFD';
        }
        c = (c << 6) | (byte(pos + i) & 0x3F);
    }
    pos += extra + 1;
    return c;
}

namespace {

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void append_escaped(std::string& out, char32_t c, char32_t quote) {
    switch (c) {
        case U'\\': out += "\\\\"; return;
        case U'\t': out += "\\t"; return;
        case U'\r': out += "\\r"; return;
        case U'\n': out += "\\n"; return;
        case U'\0': out += "\\0"; return;
        default: break;
    }
    if (c == quote) {
        out += '\\';
        out += static_cast<char>(c);
    } else if (is_control(c)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
        out += buf;
    } else {
        append_utf8(out, c);
    }
}

}  // namespace

std::string quote_char(char32_t c) {
    std::string out = "'";
    append_escaped(out, c, U'\'');
    out += '\'';
    return out;
}

std::string quote_string(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t pos = 0; pos < utf8.size();) append_escaped(out, next_utf8(utf8, pos), U'"');
    out += '"';
    return out;
}

}  // namespace tavik::text
