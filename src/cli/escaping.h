#pragma once
#include <string>
#include <string_view>

namespace pellavo {

// A name or message for a terminal line: control characters (C0, DEL and C1) and bytes that are
// not valid UTF-8 are written as escapes, so one line stays one line and no escape sequence
// reaches the terminal; a backslash is doubled, so the escapes are unambiguous. "\n", "\r" and
// "\t" by name, other bytes as "\xHH", C1 characters as "\u0080" to "\u009f".
std::string EscapeForTerminal(std::string_view text);

// text as a JSON string literal, quotes included. Valid UTF-8 passes unchanged apart from the
// escapes JSON requires and control characters; a byte that is not part of a valid sequence
// becomes "\udcXX" (0xDC00 + the byte, the surrogateescape convention), so a file name's bytes
// can always be recovered: a valid name never holds such a code point.
std::string JsonString(std::string_view text);

}  // namespace pellavo
