#include "tools/iesim/Text.h"

#include <fmt/format.h>

#include <cstdint>

namespace IeSim {

namespace {

// One step through a UTF-8 text: the code point at `at` and its length in bytes; length 0 when
// the bytes there are no valid UTF-8 (overlong forms, surrogates and values past U+10FFFF
// included).
struct CodePoint {
  uint32_t value = 0;
  size_t length = 0;
};

CodePoint decode(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  uint32_t value = 0;
  uint32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return {};
  }
  if (at + length > text.size()) return {};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {};
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, length};
}

bool isControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const CodePoint c = decode(text, at);
    if (c.length == 0) {
      out += fmt::format("\\x{:02x}", static_cast<uint8_t>(text[at]));
      ++at;
      continue;
    }
    switch (c.value) {
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (c.value < 0x20 || c.value == 0x7F) {
          out += fmt::format("\\x{:02x}", c.value);
        } else if (isControl(c.value)) {
          out += fmt::format("\\u{:04x}", c.value);
        } else {
          out.append(text.substr(at, c.length));
        }
    }
    at += c.length;
  }
  return out;
}

std::string textSafetyError(std::string_view field, std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const CodePoint c = decode(text, at);
    if (c.length == 0) {
      return fmt::format("{} \"{}\" is not valid UTF-8 (byte 0x{:02X} at offset {})", field,
                         escaped(text), static_cast<uint8_t>(text[at]), at);
    }
    if (isControl(c.value)) {
      return fmt::format("{} \"{}\" holds a control character (U+{:04X} at offset {})", field,
                         escaped(text), c.value, at);
    }
    at += c.length;
  }
  return {};
}

}  // namespace IeSim
