#include "check/utf8_text.h"

namespace kelmar::check {

std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    const unsigned char second = byte(1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)) return 0;  // overlong, surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    const unsigned char second = byte(1);
    if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) return 0;  // overlong, past U+10FFFF
    return 4;
  }
  return 0;
}

bool IsControl(std::string_view text, std::size_t length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  return (length == 1 && (lead < 0x20 || lead == 0x7f)) ||
         (length == 2 && lead == 0xc2 && static_cast<unsigned char>(text[1]) < 0xa0);
}

}  // namespace kelmar::check
