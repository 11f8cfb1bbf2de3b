#include "common/vendor_options.h"

#include <algorithm>
#include <cstring>

namespace kelmar::tools {

VendorOptions NoOptions() { return {}; }

bool OptionsText(std::string_view text, VendorOptions& options, std::string& error) {
  if (text.size() > kMaxOptionsSize) {
    error = "options text of " + std::to_string(text.size()) + " characters is longer than DB2's limit of " +
            std::to_string(kMaxOptionsSize);
    return false;
  }
  options.present = true;
  options.size = text.size();
  options.bytes.assign(text.begin(), text.end());
  options.bytes.push_back('\0');
  return true;
}

bool OptionsRecord(const std::vector<std::pair<std::string, std::string>>& fields, VendorOptions& options,
                   std::string& error) {
  std::vector<char> record(kVendorOptionsRecordBytes, '\0');
  for (const auto& given : fields) {
    const std::string& name = given.first;
    const std::string& value = given.second;
    const auto field = std::find_if(kVendorOptionsFields.begin(), kVendorOptionsFields.end(),
                                    [&](const VendorOptionsField& f) { return f.name == name; });
    if (field == kVendorOptionsFields.end()) {
      error = "unknown options record field \"" + name + "\"";
      return false;
    }
    if (value.size() >= field->room || value.find('\0') != std::string::npos) {
      error = "value for options record field " + name + " must be at most " + std::to_string(field->room - 1) +
              " characters";
      return false;
    }
    // A field given twice keeps its last value, without the earlier one's tail.
    std::fill_n(record.begin() + static_cast<std::ptrdiff_t>(field->offset), field->room, '\0');
    std::memcpy(record.data() + field->offset, value.data(), value.size());
  }
  options.present = true;
  options.size = kVendorOptionsRecordBytes;
  options.bytes = std::move(record);
  return true;
}

bool OptionsArguments::TakeRecordField(const std::string& assignment, std::string& error) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string::npos) {
    error = "--record needs FIELD=VALUE, got \"" + assignment + "\"";
    return false;
  }
  record_fields_.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
  return true;
}

bool OptionsArguments::Build(VendorOptions& options, std::string& error) const {
  if (text_ && !record_fields_.empty()) {
    error = "give the options either as --options or as --record";
    return false;
  }
  if (text_) return OptionsText(*text_, options, error);
  if (!record_fields_.empty()) return OptionsRecord(record_fields_, options, error);
  options = NoOptions();
  return true;
}

Init_input InputWithOptions(VendorOptions& options) {
  Init_input input{};
  input.size_options = static_cast<unsigned short>(options.present ? options.size : 0);
  input.options = options.present ? options.bytes.data() : nullptr;
  return input;
}

}  // namespace kelmar::tools
