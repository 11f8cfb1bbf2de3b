// Expected trace lines, written as TraceLines() shows them (without prefix).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kelmar::testbed {

using Lines = std::vector<std::string>;

inline const std::string kEnteredText = "-----------Entered--------";
inline const std::string kLeavingText = "-----------Leaving--------";

inline std::string Tagged(std::string_view tag, const std::string& message) {
  return std::string(tag) + ": " + message;
}

inline Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace kelmar::testbed
