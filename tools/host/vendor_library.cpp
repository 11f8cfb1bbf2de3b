#include "host/vendor_library.h"

#include <dlfcn.h>

namespace kelmar::host {
namespace {

template <typename Function>
bool Resolve(void* handle, const std::string& path, std::string name, Function& function, std::string& error) {
  void* symbol = dlsym(handle, name.c_str());
  if (symbol == nullptr) {
    error = path + " does not export " + name;
    return false;
  }
  function = reinterpret_cast<Function>(symbol);
  return true;
}

std::optional<VendorLibrary> Bind(void* handle, const std::string& path, bool direct, std::string& error) {
  VendorLibrary library;
  if (!direct) {
    void (*query_version)(sqluint32*) = nullptr;
    if (!Resolve(handle, path, "db2VendorQueryApiVersion", query_version, error)) return std::nullopt;
    sqluint32 version = 0;
    query_version(&version);
    if (version == 0) {
      error = path + " declares no vendor interface version";
      return std::nullopt;
    }
    library.api_version = version;
  }

  // A backend exports the same calls under the DB2 names followed by "pp".
  const std::string suffix = direct ? "pp" : "";
  VendorCalls& calls = library.calls;
  if (!Resolve(handle, path, "sqluvint" + suffix, calls.sqluvint, error) ||
      !Resolve(handle, path, "sqluvget" + suffix, calls.sqluvget, error) ||
      !Resolve(handle, path, "sqluvput" + suffix, calls.sqluvput, error) ||
      !Resolve(handle, path, "sqluvend" + suffix, calls.sqluvend, error) ||
      !Resolve(handle, path, "sqluvdel" + suffix, calls.sqluvdel, error) ||
      !Resolve(handle, path, "db2VendorGetNextObj" + suffix, calls.db2VendorGetNextObj, error)) {
    return std::nullopt;
  }
  return library;
}

}  // namespace

std::optional<VendorLibrary> LoadVendorLibrary(const std::string& path, bool direct, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason");
    return std::nullopt;
  }
  std::optional<VendorLibrary> library = Bind(handle, path, direct, error);
  if (!library) dlclose(handle);
  return library;
}

}  // namespace kelmar::host
