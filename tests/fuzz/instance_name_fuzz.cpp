// Instance resolution from whatever DB2 may pass as options, into any capacity of the caller's buffer. The options
// sit in a heap block of exactly size_options bytes, so a read past them is a finding.
#include <optional>
#include <string>
#include <vector>

#include "discovery/base_dir_steps.h"
#include "discovery/instance_name.h"
#include "discovery/registry_root.h"
#include "fuzz/fuzz_support.h"
#include "testbed/caller_buffer.h"

namespace {

std::string UpToNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

// What the options name, worked out independently: the record's vmName (18 bytes at 95) for 344 bytes, else the
// text's "XjInstanceName=" value up to a comma; without options, the environment. The record's layout is written
// out here on purpose, apart from kelmar/vendor_options_record.h, so that a wrong offset there is found.
std::optional<std::string> NamedBy(const Init_input& in, const std::optional<std::string>& environment) {
  if (in.options == nullptr || in.size_options == 0) return environment;
  const std::string_view bytes(static_cast<const char*>(in.options), in.size_options);
  if (bytes.size() == 344) return UpToNul(bytes.substr(95, 18));
  const std::string text = UpToNul(bytes);
  const std::size_t key = text.find("XjInstanceName=");
  if (key == std::string::npos) return std::nullopt;
  return text.substr(key + 15, text.find(',', key) - key - 15);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An empty registry: a resolution that falls back to the scan fails there.
  [[maybe_unused]] static const bool settled =
      (setenv("XJREG", "/tmp/no-registry", 1), SettleRegistryRoot("fuzz"), true);
  kelmar::fuzz::Input input(data, size);
  // Low two bits: the bytes as they are; padded or cut to the record's 344; no pointer; size_options 0.
  // Next bit: VORLAN_INST is set.
  const std::uint8_t shape = input.Byte();
  const std::size_t capacity = input.Capacity();
  const std::string_view rest = input.Take(0xffff);
  std::vector<char> options(rest.begin(), rest.end()), no_bytes(1, 'x');  // a live block for an empty text
  if ((shape & 3) == 1) options.resize(344);
  options.shrink_to_fit();
  Init_input in{};
  in.size_options = static_cast<unsigned short>((shape & 3) == 3 ? 0 : options.size());
  in.options = (shape & 3) == 2 ? nullptr : options.empty() ? no_bytes.data() : options.data();
  std::optional<std::string> environment;
  if ((shape & 4) != 0) environment = UpToNul(rest);
  environment ? setenv("VORLAN_INST", environment->c_str(), 1) : unsetenv("VORLAN_INST");
  const std::optional<std::string> expected = NamedBy(in, environment);

  kelmar::testbed::CallerBuffer name(capacity);
  const int found = GetVorlanInstanceName(name.data(), capacity, &in);
  if (name.WrittenPastCapacity() || found != (expected ? 1 : 0) || (found == 0 && !name.Untouched()) ||
      (found == 1 && name.Text() != expected->substr(0, capacity - 1))) {
    std::abort();
  }
  kelmar::PathText resolved;
  const kelmar::LifecycleHold lifecycle;
  const kelmar::InstanceResolution resolution = kelmar::ResolveInstanceName(lifecycle, resolved, &in);
  const std::string cut = expected ? expected->substr(0, resolved.bytes.size() - 1) : "";
  const bool acceptable = expected && cut != "." && cut != ".." && cut.find('/') == std::string::npos;
  // Named exactly when acceptable; never scanned, for the registry is empty.
  if ((resolution == kelmar::InstanceResolution::Named) != acceptable ||
      resolution == kelmar::InstanceResolution::Scanned) {
    std::abort();
  }
  return 0;
}
