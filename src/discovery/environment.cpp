#include "discovery/environment.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int GetEnv(const char* name, char* buffer, std::uint32_t size) {
  if (name == nullptr) return -1;
  const char* value = std::getenv(name);
  if (value == nullptr) return -1;
  const std::size_t length = std::strlen(value);
  if (buffer != nullptr && length < size) {
    std::memcpy(buffer, value, length + 1);
    return static_cast<int>(length);
  }
  return static_cast<int>(length + 1);
}

namespace kelmar {

std::size_t EnvironmentEntryBytes(const char* name, const char* value) {
  return std::strlen(name) + std::strlen(value) + 2;
}

char* NewEnvironmentEntry(const char* name, const char* value) {
  const std::size_t bytes = EnvironmentEntryBytes(name, value);
  char* entry = static_cast<char*>(std::malloc(bytes));
  if (entry != nullptr) std::snprintf(entry, bytes, "%s=%s", name, value);
  return entry;
}

}  // namespace kelmar

int SetEnv(const char* name, const char* value) {
  char* composed = kelmar::NewEnvironmentEntry(name, value);
  if (composed == nullptr) return -1;
  char* entry = strdup(composed);
  std::free(composed);
  if (entry == nullptr) return -1;
  return putenv(entry);
}
