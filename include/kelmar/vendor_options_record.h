// The record that Vorlan's user interface passes as DB2's vendor options
// (Db2VendorOptions_t), known by its size alone: eight text fields, each
// ending at its terminator or, lacking one, at the end of its room.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kelmar {

inline constexpr std::size_t kVendorOptionsRecordBytes = 344;

struct VendorOptionsField {
  std::string_view name;    // as the tools take it: --record NAME=VALUE
  const char* trace_label;  // as the library's trace shows it
  std::size_t offset;
  std::size_t room;  // terminator included
};

inline constexpr std::array<VendorOptionsField, 8> kVendorOptionsFields = {{
    {"instanceName", "instance Name", 44, 9},
    {"version", "version", 53, 9},
    {"build", "build", 62, 9},
    {"vendorId", "vendorId", 71, 24},
    {"vmName", "vmName", 95, 18},
    {"jmToken", "jmToken", 113, 64},
    {"serverId", "serverId", 177, 128},
    {"dbInstanceName", "dbInstanceName", 305, 39},
}};

// The field that names the Vorlan instance.
inline constexpr std::size_t kVmNameField = 4;
static_assert(kVendorOptionsFields[kVmNameField].name == "vmName");

static_assert(kVendorOptionsFields.back().offset + kVendorOptionsFields.back().room == kVendorOptionsRecordBytes);

}  // namespace kelmar
