// Files and scratch space for the tests of kelmar-host and the sample backend.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/command_line.h"

namespace kelmar::testing {

// A new empty directory under /tmp (the private /tmp of an isolated case).
std::string ScratchDir();

// `size` bytes that differ from position to position and from seed to seed,
// so that a misplaced or repeated buffer shows.
std::string PatternBytes(std::size_t size, unsigned seed);

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The names in `directory`, without "." and "..", sorted.
std::vector<std::string> Listing(const std::string& directory);

// Parses a kelmar-host command line; fails the test when it is not accepted.
host::HostCommand Command(const std::vector<std::string>& args);

}  // namespace kelmar::testing
