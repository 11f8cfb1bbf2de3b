// For tests that drive the exported functions as DB2 would: DB2's records,
// the installation the backend is loaded from, and how the trace shows them.
#pragma once

#include <string>
#include <vector>

#include "kelmar/db2_vendor.h"

namespace kelmar::test_backend {

using Lines = std::vector<std::string>;

// The records DB2 fills before sqluvint or sqluvdel: no options, so the
// instance comes from VORLAN_INST.
struct Db2Session {
  explicit Db2Session(char action_letter = 'W');
  Db2Session(const Db2Session&) = delete;
  Db2Session& operator=(const Db2Session&) = delete;

  char action[2] = {};
  DB2_info info{};
  Init_input in{};
  Init_output out{};
  Return_code rc{};
};

inline constexpr const char* kRegistryRoot = "/tmp/reg";
inline constexpr const char* kInstance = "Instance001";
inline constexpr const char* kHome = "/tmp/home";

// Installs `backend` (a file copied as libXjKelmar.so) as Instance001 of the
// registry /tmp/reg with its home at `home`, points XJREG and VORLAN_INST
// there and leaves VORLAN_VM unset. Returns the base directory.
std::string InstallBackend(const std::string& backend, const std::string& home = kHome);

// The working directory of the process.
std::string WorkingDirectory();

// DB2's calls that open and close a session: sqluvint, sqluvend with commit.
sqlint32 StartSession(Db2Session& session);
sqlint32 EndSession(Db2Session& session);

// The trace lines written under `tag` ("sqluvint()", ...), tag included.
Lines LinesTagged(const std::string& tag);

// How many trace lines are exactly `line`.
std::size_t TimesLogged(const std::string& line);

// How the trace shows a pointer (%p).
std::string Shown(const void* pointer);

// The lines with every non-null pointer shown as "<p>", for lines that show
// addresses a test cannot know in advance.
Lines WithPointersMasked(Lines lines);

}  // namespace kelmar::test_backend
