#include "discovery/instance_name.h"

#include <cstdlib>
#include <span>

#include "base/bounded_text.h"
#include "kelmar/vendor_options_record.h"
#include "log/trace_log.h"

namespace {

constexpr const char* kTag = "GetVorlanInstanceName";

int Length(std::string_view text) { return static_cast<int>(text.size()); }

std::string_view FieldText(const char* record, const kelmar::VendorOptionsField& field) {
  return kelmar::TextWithin(std::span<const char>(record + field.offset, field.room));
}

int NameFromRecord(std::span<char> name, const char* record) {
  SqluvErrorLog(kTag, "GUI case: size_options == sizeof Db2VendorOptions_t, casting.");
  for (const kelmar::VendorOptionsField& field : kelmar::kVendorOptionsFields) {
    const std::string_view text = FieldText(record, field);
    SqluvErrorLog(kTag, "%s is %.*s", field.trace_label, Length(text), text.data());
  }
  kelmar::CopyBounded(name, FieldText(record, kelmar::kVendorOptionsFields[kelmar::kVmNameField]));
  return 1;
}

int NameFromEnvironment(std::span<char> name) {
  SqluvErrorLog(kTag, "Possibly CommandLine case, VENDOROPT not set.");
  const char* value = std::getenv(kelmar::kInstanceVariable);
  if (value == nullptr) return 0;
  SqluvErrorLog(kTag, "VORLAN_INST is set to %s", value);
  kelmar::CopyBounded(name, value);
  return 1;
}

// DB2 does not promise a terminator: the text ends at one or after
// size_options bytes, whichever comes first.
int NameFromOptionsText(std::span<char> name, const Init_input& in) {
  SqluvErrorLog(kTag, "CommandLine case with VENDOROPT set.");
  SqluvErrorLog(kTag, "Looking for the string \"XjInstanceName=\"");
  const std::string_view text =
      kelmar::TextWithin(std::span<const char>(static_cast<const char*>(in.options), in.size_options));
  const std::size_t key_at = text.find(kelmar::kInstanceNameKey);
  if (key_at == std::string_view::npos) {
    SqluvErrorLog(kTag, "Could not find \"XjInstanceName=\", returning.");
    return 0;
  }
  // No substr: its range check needs the C++ run time. The positions are inside.
  std::string_view from_key = text;
  from_key.remove_prefix(key_at);
  SqluvErrorLog(kTag, "Found \"XjInstanceName=\"");
  SqluvErrorLog(kTag, "inPtr: %p, %.*s\n", static_cast<const void*>(from_key.data()), Length(from_key),
                from_key.data());
  std::string_view value = from_key;
  value.remove_prefix(kelmar::kInstanceNameKey.size());
  SqluvErrorLog(kTag, "inPtrBeg: %p, %.*s\n", static_cast<const void*>(value.data()), Length(value), value.data());

  const std::size_t comma_at = value.find(',');
  if (comma_at == std::string_view::npos) {
    SqluvErrorLog(kTag, "inPtrEnd is null, copying rest of the string.\n");
  } else {
    SqluvErrorLog(kTag, "inPtrEnd is %p\n", static_cast<const void*>(value.data() + comma_at));
    value = std::string_view(value.data(), comma_at);
  }
  kelmar::CopyBounded(name, value);
  SqluvErrorLog(kTag, "InstanceName is %s", name.data());
  return 1;
}

}  // namespace

namespace kelmar {
bool IsAcceptableInstanceName(std::string_view name) {
  return name != "." && name != ".." && name.find('/') == std::string_view::npos;
}
}  // namespace kelmar

InstanceSource ChooseInstanceSource(const Init_input* in) {
  if (in == nullptr) return InstanceSource::Environment;
  if (in->size_options == kelmar::kVendorOptionsRecordBytes && in->options != nullptr) return InstanceSource::Record;
  if (in->size_options == 0 || in->options == nullptr) return InstanceSource::Environment;
  return InstanceSource::OptionsText;
}

int GetVorlanInstanceName(char* name, std::size_t capacity, const Init_input* in) {
  SqluvErrorLog(kTag, "-----------Entered--------");
  int found = 0;
  // Without room for a terminator no name can be handed back.
  if (name != nullptr && capacity > 0) {
    const std::span<char> out(name, capacity);
    switch (ChooseInstanceSource(in)) {
      case InstanceSource::Record:
        found = NameFromRecord(out, static_cast<const char*>(in->options));
        break;
      case InstanceSource::Environment:
        found = NameFromEnvironment(out);
        break;
      case InstanceSource::OptionsText:
        found = NameFromOptionsText(out, *in);
        break;
    }
  }
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return found;
}
