// A Vorlan registry and installation as the product's installer lays them out, built with named steps, and the
// session's environment pointing at them:
//   Installation().Instance("Instance002").Home("/tmp/home2").Backend(kComplete).Selected().TraceOn();
#pragma once

#include <string>


namespace kelmar::testbed {

inline constexpr const char* kRegistryRoot = "/tmp/reg";
inline constexpr const char* kInstance = "Instance001";
inline constexpr const char* kHome = "/tmp/home";

enum class Agent { kPresent, kAbsent };

class Installation {
 public:
  explicit Installation(std::string registry_root = kRegistryRoot);
  // Makes <root>/Vorlan/<name>/Base (and Db2Agent when present); later steps work on this instance.
  Installation& Instance(const std::string& name, Agent agent = Agent::kPresent);
  // The current instance's .properties, as written.
  Installation& Properties(const std::string& text);
  // A .properties naming `home` as the installation directory, and <home>/Base.
  Installation& Home(const std::string& home);
  // `variant` copied as <home>/Base/libXjKelmar.so; an empty name: an empty executable file.
  Installation& Backend(const std::string& variant);
  // XJREG names the root.
  Installation& Exported();
  // XJREG names the root, VORLAN_INST the current instance; VORLAN_VM is unset.
  Installation& Selected();
  // An empty /tmp/libkelmar.log: the trace is on.
  Installation& TraceOn();
  // An empty file at `path`, such as one of the /tmp markers.
  Installation& Marker(const std::string& path);

  std::string InstanceDir() const { return root_ + "/Vorlan/" + instance_; }
  std::string BaseDir() const { return home_ + "/Base"; }

 private:
  std::string root_;
  std::string instance_;
  std::string home_;
};

// The usual installation: Instance001 selected, its home `home` holding `backend`. Returns the base directory.
std::string InstallBackend(const std::string& backend, const std::string& home = kHome);

}  // namespace kelmar::testbed
