// What the report's outputs need to know about the bytes of a path: where a
// UTF-8 character ends, and which characters a terminal would act on.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelmar::check {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text);

// Whether the sequence of `length` bytes at the start of `text` is a control
// character: C0, DEL or C1.
bool IsControl(std::string_view text, std::size_t length);

}  // namespace kelmar::check
