#include "check/check_steps.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/process_locks.h"
#include "base/regular_file.h"
#include "check/elf_dynamic.h"
#include "check/file_writers.h"
#include "check/needed_libraries.h"
#include "check/report_output.h"
#include "check/working_directory.h"
#include "discovery/base_dir.h"
#include "discovery/base_dir_steps.h"
#include "discovery/environment.h"
#include "discovery/instance_name.h"
#include "discovery/properties_readers.h"
#include "discovery/registry_root.h"
#include "kelmar/backend.h"
#include "loader/backend_library.h"

namespace kelmar::check {
namespace {

// The tag of the library's lines that this program logs on its own behalf.
constexpr const char* kTag = "kelmar-check";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ErrnoText(int error) { return std::strerror(error); }

// Empty when `path` is a regular file that can be opened for reading, as
// the library opens it; else why not, naming what it is instead.
std::string WhyUnreadable(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return ErrnoText(errno);
  if (!S_ISREG(status.st_mode)) return "it is a " + std::string(FileKind(status.st_mode)) + ", not a regular file";
  const RegularFile file(path.c_str());
  if (file.not_regular()) return "it is not a regular file";
  return file.is_open() ? std::string{} : ErrnoText(errno);
}

// What makes the home `value` taken from `line` differ from what its writer
// meant, or empty. The library keeps a carriage return and cuts at a blank.
std::string HomeValueNote(const std::string& value, const HomeLine& line) {
  const std::string rest(line.rest.view());
  if (!value.empty() && value.back() == '\r') {
    return "the value ends with a carriage return: the file has DOS line ends";
  }
  if (rest.find_first_not_of(" \t\r") != std::string::npos) {
    return "the value holds a blank: the library takes only " + Quoted(value) + " and ignores the rest of the line, " +
           Quoted(rest);
  }
  if (!rest.empty()) {
    return "the value is followed by a blank: the library ignores it, but get_reg_value keeps it and reads " +
           Quoted(value + rest);
  }
  return {};
}

// Why the library's execute test refused `path` under `home`, in the
// operator's terms.
std::string WhyNotExecutable(const std::string& path, const std::string& home) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    const int error = errno;
    const std::string reason = path + ": " + ErrnoText(error);
    if (error == ENOENT && stat(home.c_str(), &status) != 0) {
      return reason + " (the home directory " + home + " does not exist)";
    }
    return reason;
  }
  if (!S_ISREG(status.st_mode)) return path + " is not a regular file but a " + std::string(FileKind(status.st_mode));
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
  return path + " is not executable for this user (mode " + mode + ", owner uid " + std::to_string(status.st_uid) +
         ")";
}

// Where the instance name came from: an id for scripts, a text for people.
struct Origin {
  const char* id;
  const char* text;
};

Origin OriginOf(InstanceResolution resolution, InstanceSource source) {
  if (resolution == InstanceResolution::Scanned) {
    return {"first_instance_scan", "the first instance with a Db2Agent; exported as VORLAN_INST"};
  }
  switch (source) {
    case InstanceSource::Record: return {"record", "vmName of the options record"};
    case InstanceSource::OptionsText: return {"options_text", "XjInstanceName= of the options text"};
    case InstanceSource::Environment: break;
  }
  return {"VORLAN_INST", "VORLAN_INST; DB2 passes no options"};
}

class Checker {
 public:
  explicit Checker(tools::VendorOptions& options) : input_(tools::InputWithOptions(options)) {}

  CheckReport Run() {
    CheckReport report;
    for (const StepInfo& info : kSteps) {
      report.steps.push_back(StepResult{info.step, Outcome::kSkipped, {}, {}, {}, {}});
    }
    const auto result = [&report](Step step) -> StepResult& {
      return report.steps[static_cast<std::size_t>(step)];
    };

    // Each of these needs the one before it, as in the library; the load also waits for the permissions, since it
    // runs the backend's initialisers in this process.
    const bool found = Registry(result(Step::kRegistry), report) && Instance(result(Step::kInstance)) &&
                 Properties(result(Step::kProperties)) && Home(result(Step::kHome), report) &&
                 Backend(result(Step::kBackend)) && Permissions(result(Step::kPermissions));
    if (found) {
      // Listed before the load, whose dlerror names only the first library missing.
      NeededLibraries(result(Step::kNeededLibraries));
      if (Load(result(Step::kLoad), report)) EntryPoints(result(Step::kEntryPoints), report);
    }
    MarkSkipped(report);
    if (geteuid() == 0) {
      report.notes.push_back(
          "running as root: the execute test and the load saw root's permissions, not those of the DB2 instance "
          "owner");
    }
    return report;
  }

 private:
  static void MarkSkipped(CheckReport& report) {
    const StepResult* failure = report.FirstFailure();
    for (StepResult& result : report.steps) {
      if (result.outcome == Outcome::kSkipped && result.summary.empty()) {
        result.summary = failure != nullptr ? std::string("not checked: ") + InfoOf(failure->step).title + " failed"
                                            : "not checked";
      }
    }
  }

  static bool Fail(StepResult& result, std::string summary) {
    result.outcome = Outcome::kFailed;
    result.summary = std::move(summary);
    return false;
  }

  static bool Pass(StepResult& result, std::string summary) {
    result.outcome = Outcome::kOk;
    result.summary = std::move(summary);
    return true;
  }

  bool Registry(StepResult& result, CheckReport& report) {
    SettleRegistryRoot(kTag);
    root_ = xjReg.load(std::memory_order_acquire);
    const char* variable = std::getenv("XJREG");
    const bool from_variable = variable != nullptr && variable[0] != '\0';
    if (from_variable && variable[0] != '/') {
      report.notes.push_back("XJREG is relative (" + Quoted(variable) +
                             "): the library takes it against the working directory that DB2 has at its first "
                             "session, which may not be this one");
    }
    result.facts = {{"root", root_, false}, {"source", from_variable ? "XJREG" : "default", false}};
    const std::string summary = root_ + (from_variable ? " (from XJREG)" : " (the default: XJREG is unset or empty)");

    const std::string product_dir = root_ + "/Vorlan";
    struct stat status {};
    if (stat(product_dir.c_str(), &status) != 0) {
      const int error = errno;
      return Fail(result, "no registry: " + product_dir + ": " + ErrnoText(error));
    }
    if (!S_ISDIR(status.st_mode)) return Fail(result, "no registry: " + product_dir + " is not a directory");
    // Every path the library reads runs through it.
    if (access(product_dir.c_str(), X_OK) != 0) {
      const int error = errno;
      return Fail(result, "no registry: " + product_dir + " cannot be searched: " + ErrnoText(error));
    }
    return Pass(result, summary);
  }

  bool Instance(StepResult& result) {
    const InstanceSource source = ChooseInstanceSource(&input_);
    const LifecycleHold lifecycle;
    const InstanceResolution resolution = ResolveInstanceName(lifecycle, found_.instance, &input_);
    const std::string name = std::string(found_.instance.view());
    if (resolution == InstanceResolution::Failed) return Fail(result, WhyNoInstance(source, name));

    const Origin origin = OriginOf(resolution, source);
    // The backend reads VORLAN_VM when it is loaded, so it is set here too.
    ExportVorlanVm(lifecycle, found_.instance.c_str());
    result.facts = {{"name", name, false}, {"source", origin.id, false}, {"VORLAN_VM", vorlan_vm}};
    return Pass(result, (name.empty() ? "an empty name" : name) + " (" + origin.text + ")");
  }

  std::string WhyNoInstance(InstanceSource source, const std::string& name) const {
    if (!name.empty() && !IsAcceptableInstanceName(name)) {
      return "no instance: the name " + Quoted(name) + " is refused, it would lead out of the registry";
    }
    if (!name.empty()) return "no instance: " + Quoted(name) + " could not be exported as VORLAN_INST";
    const std::string named_none = source == InstanceSource::OptionsText
                                       ? "the options text has no \"XjInstanceName=\""
                                       : "DB2 passes no options and VORLAN_INST is not set";
    const std::string product_dir = root_ + "/Vorlan";
    DIR* listing = opendir(product_dir.c_str());
    if (listing == nullptr) {
      const int error = errno;
      return "no instance: " + named_none + ", and " + product_dir + " cannot be listed: " + ErrnoText(error);
    }
    closedir(listing);
    return "no instance: " + named_none + ", and no instance under " + product_dir + " has a Db2Agent";
  }

  bool Properties(StepResult& result) {
    const bool fits = ComposePropertiesPath(found_.properties, found_.instance.c_str());
    const std::string path(found_.properties.view());
    result.facts = {{"path", path, false}};
    if (!fits) return Fail(result, "the path of .properties is too long: " + path);
    const std::string unreadable = WhyUnreadable(path);
    if (!unreadable.empty() || !ReadHomeDirectoryOf(found_.properties, found_.home, &home_line_)) {
      return Fail(result, "cannot open " + path + ": " + (unreadable.empty() ? "it could not be read" : unreadable));
    }
    return Pass(result, path);
  }

  bool Home(StepResult& result, CheckReport& report) {
    const std::string home(found_.home.view());
    const std::string path(found_.properties.view());
    result.facts = {{"home", home, false}};
    if (home.empty()) {
      return Fail(result, "no \"dVORLANHOME\" line with a value in " + path +
                              (home_line_.found ? ": the first such line has none, and the library reads no further"
                                                : ": there is no such line"));
    }
    const std::string note = HomeValueNote(home, home_line_);
    if (!note.empty()) report.notes.push_back("dVORLANHOME in " + path + ": " + note);
    return Pass(result, home);
  }

  bool Backend(StepResult& result) {
    const bool executable = CheckBackendLibrary(found_.home, found_.backend);
    ComposeBaseDir(found_.home, found_.base_dir);
    const std::string library(found_.backend.view());
    result.facts = {{"path", library, false}, {"base_directory", std::string(found_.base_dir.view())}};
    if (!executable) return Fail(result, WhyNotExecutable(library, std::string(found_.home.view())));
    return Pass(result, library + " is executable");
  }

  bool Permissions(StepResult& result) {
    const std::string library(found_.backend.view());
    result.findings = WhoElseCanChange(library);
    if (const WriterFinding* failure = FirstFailing(result.findings)) return Fail(result, failure->Text());
    return Pass(result, "root alone can change " + library + " and every directory on the way to it");
  }

  void NeededLibraries(StepResult& result) {
    const std::string library(found_.backend.view());
    std::string error;
    const std::optional<ElfDynamic> dynamic = ReadElfDynamic(library, error);
    if (!dynamic) {
      result.summary = "cannot list them: " + error;
      return;
    }
    if (dynamic->rpath) result.facts.push_back({"DT_RPATH", *dynamic->rpath});
    if (dynamic->runpath) result.facts.push_back({"DT_RUNPATH", *dynamic->runpath});

    std::string missing;
    const std::string base_dir(found_.base_dir.view());
    for (const NeededLibrary& needed : ResolveNeededLibraries(library, *dynamic, base_dir)) {
      result.items.push_back(Item{needed.name, needed.path.has_value(), needed.path, needed.detail});
      if (!needed.path) missing += (missing.empty() ? "" : ", ") + needed.name;
    }
    if (!missing.empty()) {
      Fail(result, "not found: " + missing);
    } else {
      Pass(result, result.items.empty() ? "the backend needs no other library"
                                        : "all " + std::to_string(result.items.size()) + " found");
    }
  }

  bool Load(StepResult& result, CheckReport& report) {
    const std::string library(found_.backend.view());
    const std::string base_dir(found_.base_dir.view());
    result.facts = {{"path", library, false}, {"mode", "RTLD_NOW", false}};

    WorkingDirectoryScope working_directory;
    if (!working_directory.remembered()) {
      const int error = errno;
      report.notes.push_back("the backend was not loaded: this program's working directory cannot be held open: " +
                             ErrnoText(error));
      return Fail(result, "not attempted: the working directory could not be kept");
    }
    // As in the loader, a failed change does not stop the load.
    if (!working_directory.ChangeTo(base_dir)) {
      const int error = errno;
      result.facts.push_back({"chdir_error", ErrnoText(error)});
    }
    result.facts.push_back({"working_directory", CurrentDirectory()});
    EntryText load_error;
    handle_ = OpenBackendLibrary(found_.backend, load_error.span());
    if (!working_directory.Restore()) {
      report.notes.push_back("the working directory could not be changed back after the load");
    }

    if (handle_ == nullptr) {
      const std::string reason(load_error.view());
      result.facts.push_back({"dlerror", reason, false});
      return Fail(result, "dlopen failed: " + reason);
    }
    return Pass(result, "loaded with RTLD_NOW from " + base_dir);
  }

  void EntryPoints(StepResult& result, CheckReport& report) {
    std::string missing;
    for (const char* name : kBackendEntryNames) {
      const bool found = dlsym(handle_, name) != nullptr;
      result.items.push_back(Item{name, found, std::nullopt, {}});
      if (!found) missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    dlerror();  // the misses leave their text behind
    dlclose(handle_);
    handle_ = nullptr;
    if (StaysMapped(found_.backend.c_str())) {
      report.notes.push_back("the backend cannot be reloaded: it stays mapped after dlclose (it exports unique "
                             "symbols or may not be unloaded), so after the unload marker the next session gets "
                             "its old code, not the file on disk");
    }
    if (!missing.empty()) {
      Fail(result, "missing: " + missing);
    } else {
      Pass(result, "all " + std::to_string(kBackendEntryNames.size()) + " found");
    }
  }

  Init_input input_;
  std::string root_;
  Installation found_;
  HomeLine home_line_;
  void* handle_ = nullptr;
};

}  // namespace

CheckReport RunCheck(tools::VendorOptions& options) { return Checker(options).Run(); }

}  // namespace kelmar::check
