// The vendor library, loaded by path as DB2 loads it, and the six session
// calls of the vendor interface resolved from it.
#pragma once

#include <optional>
#include <string>

#include "kelmar/backend.h"

namespace kelmar::host {

struct VendorCalls {
  sqluvint_fn sqluvint = nullptr;
  sqluvget_fn sqluvget = nullptr;
  sqluvput_fn sqluvput = nullptr;
  sqluvend_fn sqluvend = nullptr;
  sqluvdel_fn sqluvdel = nullptr;
  db2VendorGetNextObj_fn db2VendorGetNextObj = nullptr;
};

struct VendorLibrary {
  VendorCalls calls;
  // What db2VendorQueryApiVersion answered; none for a backend called directly.
  std::optional<sqluint32> api_version;
};

// Loads `path` and asks db2VendorQueryApiVersion first, as DB2 does, then
// resolves the six calls. With `direct`, `path` is a backend and the calls are
// its own entry points ("sqluvintpp", ...). The library stays loaded for the
// life of the process. Empty with `error` set when it cannot be loaded, lacks
// an entry point or declares no interface version.
std::optional<VendorLibrary> LoadVendorLibrary(const std::string& path, bool direct, std::string& error);

}  // namespace kelmar::host
