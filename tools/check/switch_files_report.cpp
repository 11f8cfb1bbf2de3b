#include "check/switch_files_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "check/file_facts.h"
#include "check/report_output.h"
#include "log/markers.h"
#include "log/switch_files.h"

namespace kelmar::check {
namespace {

constexpr const char* kTag = "kelmar-check";

bool IsTrace(const SwitchFileName& name) { return name.path == std::string_view(kTraceLogPath); }

std::string TypeOf(const char* path, const struct stat& status) {
  if (S_ISLNK(status.st_mode)) {
    char target[1024];
    const ssize_t length = readlink(path, target, sizeof target - 1);
    return "symbolic link to " + std::string(target, length > 0 ? static_cast<std::size_t>(length) : 0);
  }
  return S_ISREG(status.st_mode) ? "regular file" : FileKind(status.st_mode);
}

// The library's verdict: the trace file through the open of every line, a
// marker through the test of every check.
bool Honoured(const SwitchFileName& name) {
  if (!IsTrace(name)) return ExamineMarker(kTag, name.path) == MarkerState::kHonoured;
  const int fd = OpenTraceFile();
  if (fd >= 0) close(fd);
  return fd >= 0;
}

std::string WhyIgnored(const SwitchFile& file, bool is_trace) {
  std::string why = "only files of root or uid " + std::to_string(geteuid()) + " with one link count";
  if (is_trace) {
    why = "the trace needs a regular file writable for uid " + std::to_string(geteuid()) + ", owned by root or " +
          "that user, with one link; a symbolic link is followed only when root or that user owns it";
  }
  return file.owner + ", " + std::to_string(file.links) + " link(s): " + why;
}

void AddWarnings(const SwitchFileName& name, SwitchFile& file) {
  struct stat leads_to {};
  if (IsTrace(name) && file.honoured && stat(name.path, &leads_to) == 0 && (leads_to.st_mode & S_IROTH) != 0) {
    file.warnings.push_back(
        "readable by every local user, and it records option fields such as jmToken and serverId: make it mode 600 "
        "or 660");
  }
  if (name.path == std::string_view(kDebugHoldMarker) && file.honoured) {
    file.warnings.push_back("every sqluvint and sqluvdel waits while this file exists");
  }
}

}  // namespace

SwitchFiles ExamineSwitchFiles() {
  SwitchFiles files;
  files.judged_for_uid = geteuid();
  for (const SwitchFileName& name : kSwitchFiles) {
    struct stat status {};
    if (lstat(name.path, &status) != 0) continue;
    SwitchFile file;
    file.path = name.path;
    file.role = name.role;
    file.type = TypeOf(name.path, status);
    file.owner_uid = status.st_uid;
    file.owner = UserName(status.st_uid);
    file.mode = Octal(status.st_mode);
    file.links = static_cast<unsigned long>(status.st_nlink);
    file.honoured = Honoured(name);
    if (!file.honoured) file.why_ignored = WhyIgnored(file, IsTrace(name));
    AddWarnings(name, file);
    files.present.push_back(std::move(file));
  }
  return files;
}

void PrintSwitchFilesPlain(std::ostream& out, const SwitchFiles& files) {
  out << "files in /tmp, as the library judges them for uid " << files.judged_for_uid << " ("
      << PlainString(UserName(files.judged_for_uid)) << "):" << (files.present.empty() ? " none present" : "") << '\n';
  for (const SwitchFile& file : files.present) {
    out << "  " << file.path << ": " << file.role << ", " << (file.honoured ? "honoured" : "IGNORED") << "; "
        << file.type << ", owner " << PlainString(file.owner) << ", mode " << file.mode << '\n';
    if (!file.honoured) out << "    ignored because: " << file.why_ignored << '\n';
    for (const std::string& warning : file.warnings) out << "    warning: " << warning << '\n';
  }
}

void PrintSwitchFilesJson(std::ostream& out, const SwitchFiles& files) {
  out << "{\"judged_for_uid\":" << files.judged_for_uid << ",\"files\":[";
  for (std::size_t i = 0; i < files.present.size(); ++i) {
    const SwitchFile& file = files.present[i];
    out << (i > 0 ? "," : "") << "{\"path\":" << JsonString(file.path) << ",\"role\":" << JsonString(file.role)
        << ",\"honoured\":" << (file.honoured ? "true" : "false") << ",\"type\":" << JsonString(file.type)
        << ",\"owner_uid\":" << file.owner_uid << ",\"owner\":" << JsonString(file.owner)
        << ",\"mode\":" << JsonString(file.mode) << ",\"links\":" << file.links;
    if (!file.honoured) out << ",\"why_ignored\":" << JsonString(file.why_ignored);
    out << ",\"warnings\":[";
    for (std::size_t w = 0; w < file.warnings.size(); ++w) out << (w > 0 ? "," : "") << JsonString(file.warnings[w]);
    out << "]}";
  }
  out << "]}";
}

}  // namespace kelmar::check
