// Directories whose paths are too long for the library's 1024-byte path buffers.
#pragma once

#include <algorithm>
#include <string>

#include "testbed/registry_tree.h"

namespace kelmar::testbed {

// Makes a directory below /tmp whose path has exactly `length` characters,
// from components short enough for the file system.
inline std::string LongDir(std::size_t length) {
  std::string path = "/tmp/";
  while (path.size() < length) {
    path += std::string(std::min<std::size_t>(200, length - path.size()), 'd');
    if (path.size() < length) path += '/';
  }
  if (path.back() == '/') path.back() = 'e';
  MakeDirs(path);
  return path;
}

}  // namespace kelmar::testbed
