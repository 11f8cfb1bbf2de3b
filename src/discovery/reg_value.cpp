// get_reg_value: one key of a `.properties` file, for programs outside the library.
#include <cstdio>

#include "base/regular_file.h"
#include "discovery/properties_readers.h"
#include "kelmar/libkelmar.h"
#include "log/trace_log.h"

namespace {
constexpr const char* kTag = "get_reg_value";
}  // namespace

int get_reg_value(const void* /*first*/, const char* file, const char* key, char* value, int size) {
  SqluvErrorLog(kTag, "-----------Entered--------");
  if (file == nullptr || key == nullptr || value == nullptr || size < 1) {
    SqluvErrorLog(kTag, "-----------Leaving--- invalid arguments -----");
    return -1;
  }
  kelmar::RegularFile opened(file);
  std::FILE* properties = opened.TakeStream();
  if (properties == nullptr) {
    SqluvErrorLog(kTag, "-----------Leaving--- open(%s) failed -----", file);
    return -1;
  }
  const bool found = kelmar::ReadRegValue(properties, key, std::span<char>(value, static_cast<std::size_t>(size)));
  std::fclose(properties);
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return found ? 0 : -1;
}
