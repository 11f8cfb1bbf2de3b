// The vendor options DB2 passes in Init_input: a text (the OPTIONS clause or
// VENDOROPT), the 344-byte record that Vorlan's user interface passes, or none.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kelmar/db2_vendor.h"
#include "kelmar/vendor_options_record.h"

namespace kelmar::tools {

// size_options is DB2's unsigned 16-bit count.
inline constexpr std::size_t kMaxOptionsSize = 65535;

struct VendorOptions {
  bool present = false;         // false: DB2 passes a null pointer and size 0
  std::size_t size = 0;         // what goes into size_options
  std::vector<char> bytes;      // `size` bytes, and a terminator after a text
};

VendorOptions NoOptions();

// The text as DB2 passes it: its length as the size, a terminator after it.
// False with `error` set when the text is longer than size_options can count.
bool OptionsText(std::string_view text, VendorOptions& options, std::string& error);

// The record with the named fields filled in and every other byte zero. False
// with `error` set for an unknown field or a value that does not fit its room.
bool OptionsRecord(const std::vector<std::pair<std::string, std::string>>& fields, VendorOptions& options,
                   std::string& error);

// The vendor options as the tools take them on their command line: either
// "--options TEXT" or any number of "--record FIELD=VALUE".
class OptionsArguments {
 public:
  void TakeText(std::string text) { text_ = std::move(text); }
  // False with `error` set when `assignment` is not FIELD=VALUE.
  bool TakeRecordField(const std::string& assignment, std::string& error);
  // The options DB2 would pass. False with `error` set when both forms were
  // given, or for what OptionsText and OptionsRecord refuse.
  bool Build(VendorOptions& options, std::string& error) const;

 private:
  std::optional<std::string> text_;
  std::vector<std::pair<std::string, std::string>> record_fields_;
};

// DB2's session input carrying `options` (which must outlive it); every
// member that vendor libraries do not read for the options is zero.
Init_input InputWithOptions(VendorOptions& options);

}  // namespace kelmar::tools
