#include "host/vendor_options.h"

#include <algorithm>
#include <cstring>

namespace kelmar::host {

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
  std::vector<char> record(kOptionsRecordSize, '\0');
  for (const auto& given : fields) {
    const std::string& name = given.first;
    const std::string& value = given.second;
    const auto field = std::find_if(kRecordFields.begin(), kRecordFields.end(),
                                    [&](const RecordField& f) { return f.name == name; });
    if (field == kRecordFields.end()) {
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
  options.size = kOptionsRecordSize;
  options.bytes = std::move(record);
  return true;
}

}  // namespace kelmar::host
