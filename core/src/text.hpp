#pragma once
// Small text helpers shared by the debug texts: UTF-8 and quoting with escapes.
#include <string>
#include <string_view>

namespace tavik::text {

void append_utf8(std::string& out, char32_t c);

// Decodes one UTF-8 scalar value at `pos` and advances it. Malformed input
// yields U+FFFD for the offending byte.
char32_t next_utf8(std::string_view s, std::size_t& pos);

// 'c' and "s" with backslash escapes for the quote, backslash, \t \r \n \0 and
// \u{hex} for other control characters; printable characters stay as they are.
std::string quote_char(char32_t c);
std::string quote_string(std::string_view utf8);

}  // namespace tavik::text
