// Instance names from any options DB2 may pass, into any room; the options fill their heap block, so reading past is found.
#include <vector>

#include "discovery/instance_name.h"
#include "fuzz/fuzz_support.h"

namespace {

using kelmar::fuzz::Text;

// The record's layout written out apart from the library's, so that a wrong offset there is found.
constexpr std::size_t kRecordBytes = 344;
constexpr std::size_t kVmNameAt = 95;
constexpr std::size_t kVmNameRoom = 18;
constexpr std::string_view kKey = "XjInstanceName=";
constexpr std::size_t kMostOptionBytes = 0xffff;  // what size_options can tell

std::string UpToNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

// What the options name, worked out here: a record's vmName, a text's key's value to a comma, or the environment.
Text NamedBy(const Init_input& in, const Text& environment) {
  if (in.options == nullptr || in.size_options == 0) return environment;
  const std::string_view bytes(static_cast<const char*>(in.options), in.size_options);
  if (bytes.size() == kRecordBytes) return UpToNul(bytes.substr(kVmNameAt, kVmNameRoom));
  const std::string text = UpToNul(bytes);
  const std::size_t key = text.find(kKey);
  if (key == std::string::npos) return std::nullopt;
  const std::size_t value = key + kKey.size();
  return text.substr(value, text.find(',', key) - value);
}

// How the options are passed, from the low two bits of a byte; the next bit sets VORLAN_INST.
enum Shape : std::uint8_t { kAsGiven, kRecordSized, kNoPointer, kNoSize };
constexpr std::uint8_t kShapeBits = 3;
constexpr std::uint8_t kEnvironmentBit = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelmar::fuzz::Input input(data, size);
  const std::uint8_t flags = input.Byte();
  const auto shape = static_cast<Shape>(flags & kShapeBits);
  const std::size_t capacity = input.Capacity();
  const std::string_view rest = input.Take(kMostOptionBytes);
  std::vector<char> options(rest.begin(), rest.end());
  if (shape == kRecordSized) options.resize(kRecordBytes);
  options.shrink_to_fit();
  std::vector<char> no_bytes(1, 'x');  // a live block for an empty text
  Init_input in{};
  in.options = options.empty() ? no_bytes.data() : options.data();
  if (shape == kNoPointer) in.options = nullptr;
  in.size_options = shape == kNoSize ? 0 : static_cast<unsigned short>(options.size());
  Text environment;
  if ((flags & kEnvironmentBit) != 0) environment = UpToNul(rest);
  environment ? setenv("VORLAN_INST", environment->c_str(), 1) : unsetenv("VORLAN_INST");
  kelmar::testbed::CallerBuffer name(capacity);
  const int found = GetVorlanInstanceName(name.data(), capacity, &in);
  if (found != 0 && found != 1) std::abort();
  kelmar::fuzz::CheckHandedBack(name, found == 1, NamedBy(in, environment));
  return 0;
}
