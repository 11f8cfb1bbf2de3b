// The two readers of `.properties` files ("key value" lines). They disagree on
// white space, on where a key may start and on what the value is; both are
// kept as they are because outside programs and installations rely on each.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

#include "base/bounded_text.h"

namespace kelmar {

inline constexpr std::string_view kHomeKey = "dVORLANHOME";

// The piece the base directory's reader stopped at, for a program that
// reports how the value was taken.
struct HomeLine {
  bool found = false;  // a piece whose first word is "dVORLANHOME" ended the reading
  PathText rest;       // what follows the value on that piece, up to its line feed
};

// The base directory's reader. Pieces of at most 1022 characters, split into
// words by space, tab and line feed. The first piece whose first word is
// "dVORLANHOME" ends the reading: true with its second word copied into
// `home` (cut to fit), false when it has none. False as well without such a
// piece; `home` is then left alone. `line`, when given, tells that piece.
bool ReadHomeDirectory(std::FILE* file, std::span<char> home, HomeLine* line = nullptr);

// get_reg_value's reader. Pieces of at most 1023 characters; a piece's key
// runs from its start to its first white-space character. At the first piece
// whose key is `key`: true with the text after the white space that follows
// the key, up to the line feed, copied into `value` (cut to fit). False
// without such a piece; `value` is then left alone.
bool ReadRegValue(std::FILE* file, std::string_view key, std::span<char> value);

}  // namespace kelmar
