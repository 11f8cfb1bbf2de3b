// Instance resolution from whatever DB2 may pass as options: any bytes, any
// size, as a record or a text, and any capacity of the caller's buffer. The
// options are copied to a heap block of exactly size_options bytes, so a
// read past them is a finding; the name must be what the options say.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "discovery/base_dir_steps.h"
#include "discovery/instance_name.h"
#include "discovery/registry_root.h"
#include "fuzz/fuzz_support.h"
#include "testbed/caller_buffer.h"

namespace {

using kelmar::fuzz::Input;

// How the bytes reach the library (the low two bits of the first byte).
enum class Shape {
  kAsGiven,     // size_options is the number of bytes
  kRecord,      // padded or cut to the record's 344 bytes
  kNullOptions, // the bytes' size, but no options pointer
  kZeroSize     // the bytes, but size_options 0
};

constexpr std::size_t kRecordBytes = 344;
constexpr std::size_t kVmNameOffset = 95;
constexpr std::size_t kVmNameRoom = 18;
constexpr std::string_view kKey = "XjInstanceName=";

std::string UpToNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

// What DB2's options name, worked out independently of the library's code.
std::optional<std::string> NamedBy(const Init_input& in, const std::optional<std::string>& environment) {
  if (in.options == nullptr || in.size_options == 0) return environment;
  const std::string_view bytes(static_cast<const char*>(in.options), in.size_options);
  if (bytes.size() == kRecordBytes) return UpToNul(bytes.substr(kVmNameOffset, kVmNameRoom));
  const std::string text = UpToNul(bytes);
  const std::size_t key = text.find(kKey);
  if (key == std::string::npos) return std::nullopt;
  const std::string value = text.substr(key + kKey.size());
  return value.substr(0, value.find(','));
}

std::string Cut(const std::string& name, std::size_t capacity) { return name.substr(0, capacity - 1); }

bool LeadsOutOfTheRegistry(const std::string& name) {
  return name == "." || name == ".." || name.find('/') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An empty registry: a resolution that falls back to the scan fails there.
  [[maybe_unused]] static const bool settled = [] {
    setenv("XJREG", "/tmp/no-registry", 1);
    SettleRegistryRoot("fuzz");
    return true;
  }();
  Input input(data, size);
  const std::uint8_t control = input.Byte();
  const auto shape = static_cast<Shape>(control & 3);
  const bool environment_set = (control & 4) != 0;
  const std::size_t capacity = kelmar::fuzz::CapacityFrom(input.Byte());
  const std::string_view rest = input.Take(0xffff);

  std::vector<char> options(rest.begin(), rest.end());
  if (shape == Shape::kRecord) options.resize(kRecordBytes);
  options.shrink_to_fit();  // a read past the bytes leaves the heap block
  std::vector<char> no_bytes(1, 'x');  // a live block for an empty option text
  Init_input in{};
  in.size_options = static_cast<unsigned short>(shape == Shape::kZeroSize ? 0 : options.size());
  in.options = shape == Shape::kNullOptions ? nullptr : options.empty() ? no_bytes.data() : options.data();

  std::optional<std::string> environment;
  if (environment_set) {
    environment = UpToNul(rest);
    setenv("VORLAN_INST", environment->c_str(), 1);
  } else {
    unsetenv("VORLAN_INST");
  }
  const std::optional<std::string> expected = NamedBy(in, environment);

  kelmar::testbed::CallerBuffer name(capacity);
  const int found = GetVorlanInstanceName(name.data(), capacity, &in);
  if (name.WrittenPastCapacity()) std::abort();
  if (found != (expected ? 1 : 0)) std::abort();
  if (found == 0 && !name.Untouched()) std::abort();
  if (found == 1 && name.Text() != Cut(*expected, capacity)) std::abort();

  kelmar::PathText resolved;
  const kelmar::InstanceResolution resolution = kelmar::ResolveInstanceName(resolved, &in);
  const bool acceptable = expected && !LeadsOutOfTheRegistry(Cut(*expected, resolved.bytes.size()));
  if ((resolution == kelmar::InstanceResolution::Named) != acceptable) std::abort();
  if (resolution == kelmar::InstanceResolution::Scanned) std::abort();  // the registry is empty
  return 0;
}
