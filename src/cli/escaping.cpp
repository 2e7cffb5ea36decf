#include "cli/escaping.h"

#include <cstdint>
#include <cstdio>

namespace pellavo {
namespace {

// Length of the valid UTF-8 sequence at text[i] (overlong forms, surrogates and code points
// past U+10FFFF are not valid), with its code point; 0 when the byte there starts none.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t length;
  char32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

std::string Hex(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

bool IsControl(char32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F); }

// Walks text by UTF-8 sequences: a byte that starts none goes through invalid(byte), a code
// point through escape(cp), which returns its escape or an empty text to keep it as it is.
template <class Invalid, class Escape>
std::string Escaped(std::string_view text, Invalid invalid, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      out += invalid(static_cast<uint8_t>(text[i]));
      ++i;
      continue;
    }
    const std::string escaped = escape(cp);
    if (escaped.empty())
      out.append(text.substr(i, length));
    else
      out += escaped;
    i += length;
  }
  return out;
}

// The escapes both forms share.
std::string CommonEscape(char32_t cp) {
  switch (cp) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: return {};
  }
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
  return Escaped(
      text, [](uint8_t byte) { return Hex("\\x%02x", byte); },
      [](char32_t cp) -> std::string {
        if (std::string common = CommonEscape(cp); !common.empty()) return common;
        if (!IsControl(cp)) return {};
        return cp < 0x80 ? Hex("\\x%02x", static_cast<unsigned>(cp)) : Hex("\\u%04x", static_cast<unsigned>(cp));
      });
}

std::string JsonString(std::string_view text) {
  return "\"" +
         Escaped(
             text, [](uint8_t byte) { return Hex("\\u%04x", 0xDC00u + byte); },
             [](char32_t cp) -> std::string {
               if (cp == '"') return "\\\"";
               if (std::string common = CommonEscape(cp); !common.empty()) return common;
               return IsControl(cp) ? Hex("\\u%04x", static_cast<unsigned>(cp)) : std::string();
             }) +
         "\"";
}

}  // namespace pellavo
