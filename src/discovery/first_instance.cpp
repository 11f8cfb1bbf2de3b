// get_first_vorlan_instname: the first installed instance that has the DB2
// agent, "Instance001" preferred.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "base/bounded_text.h"
#include "base/composed_path.h"
#include "discovery/registry_root.h"
#include "kelmar/libkelmar.h"
#include "log/trace_log.h"

namespace {

constexpr const char* kTag = "get_first_vorlan_instname";
constexpr const char* kPreferredInstance = "Instance001";

// stat64 of a composed path; a path that did not fit fails like a missing one.
bool StatComposed(bool fits, const kelmar::PathText& path, struct stat64& status) {
  if (!fits) {
    errno = kelmar::kCutPathErrno;
    return false;
  }
  return stat64(path.c_str(), &status) == 0;
}

void HandBack(char* name, std::size_t capacity, std::string_view instance) {
  std::memset(name, 0, capacity);
  kelmar::CopyBounded(std::span<char>(name, capacity), instance);
}

// Whether `entry` is an instance directory with the agent marker, logging why not.
bool Qualifies(const char* root, const char* entry) {
  kelmar::PathText instance_dir;
  struct stat64 status {};
  if (!StatComposed(kelmar::ComposePath(instance_dir.span(), "%s/Vorlan/%s", root, entry), instance_dir, status)) {
    SqluvErrorLog(kTag, "stat(%s) failed, errno: %d\n", instance_dir.c_str(), errno);
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    SqluvErrorLog(kTag, "not a dir : %s\n", entry);
    return false;
  }
  kelmar::PathText agent;
  if (!StatComposed(kelmar::ComposePath(agent.span(), "%s/Db2Agent", instance_dir.c_str()), agent, status)) {
    SqluvErrorLog(kTag, "stat(%s) failed, DB2 Agent is not installed under instance = %s\n", agent.c_str(),
                  instance_dir.c_str());
    return false;
  }
  return true;
}

bool IsDotEntry(std::string_view entry) { return entry == "." || entry == ".."; }

// Lists the product directory in the order it gives, until an entry qualifies.
bool ScanForInstance(DIR* listing, const char* root, char* name, std::size_t capacity) {
  while (const struct dirent64* entry = readdir64(listing)) {
    if (IsDotEntry(entry->d_name) || !Qualifies(root, entry->d_name)) continue;
    HandBack(name, capacity, entry->d_name);
    SqluvErrorLog(kTag, "Got instance name:  %s\n", name);
    return true;
  }
  return false;
}

}  // namespace

int get_first_vorlan_instname(char* name, std::size_t capacity) {
  SqluvErrorLog(kTag, "-----------Entered--------");
  // Outside programs may call before any session settled the root.
  const char* root = xjReg.load(std::memory_order_acquire);
  if (root == nullptr || root[0] == '\0') {
    SettleRegistryRoot(kTag);
    root = xjReg.load(std::memory_order_acquire);
  }
  if (name == nullptr || capacity == 0) {
    SqluvErrorLog(kTag, "Invalid arguments \n");
    SqluvErrorLog(kTag, "-----------Leaving--------");
    return -1;
  }

  kelmar::PathText product_dir;
  DIR* listing = nullptr;
  if (kelmar::ComposePath(product_dir.span(), "%s/Vorlan", root)) {
    listing = opendir(product_dir.c_str());
  } else {
    errno = kelmar::kCutPathErrno;
  }
  if (listing == nullptr) {
    SqluvErrorLog(kTag, "open(%s) failed with errno: %d\n", product_dir.c_str(), errno);
    SqluvErrorLog(kTag, "-----------Leaving--------");
    return -1;
  }

  kelmar::PathText preferred;
  struct stat64 status {};
  bool found = false;
  if (StatComposed(kelmar::ComposePath(preferred.span(), "%s/%s/Db2Agent", product_dir.c_str(), kPreferredInstance),
                   preferred, status)) {
    HandBack(name, capacity, kPreferredInstance);
    found = true;
  } else {
    SqluvErrorLog(kTag, "Instance001 doesnt have DB2 qZt installed. prop_dirname=[%s]", preferred.c_str());
    found = ScanForInstance(listing, root, name, capacity);
  }
  closedir(listing);
  SqluvErrorLog(kTag, "-----------Leaving--------");
  return found ? 0 : -1;
}
