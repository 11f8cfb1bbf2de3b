#include "check/command_line.h"

#include <algorithm>
#include <string_view>

#include "check/check_report.h"

namespace kelmar::check {

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  CheckCommand& command = parsed.command;
  tools::OptionsArguments options;
  bool version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.outcome = ParsedCommandLine::Outcome::kHelp;
      return parsed;
    }
    if (arg == "--version") {
      version = true;
      continue;
    }
    if (arg == "--json" || arg == "--trace") {
      (arg == "--json" ? command.json : command.trace) = true;
      continue;
    }
    // "--options TEXT" or "--options=TEXT"; likewise --record and --library.
    const std::string_view name = arg.substr(0, arg.find('='));
    if (name != "--options" && name != "--record" && name != "--library") {
      parsed.error = arg.rfind("--", 0) == 0 ? "unknown option " + std::string(name)
                                              : "unexpected argument \"" + std::string(arg) + "\"";
      return parsed;
    }
    std::string value;
    if (name.size() < arg.size()) {
      value = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      parsed.error = std::string(name) + " needs a value";
      return parsed;
    }
    if (name == "--library") {
      command.library = std::move(value);
    } else if (name == "--options") {
      options.TakeText(std::move(value));
    } else if (!options.TakeRecordField(value, parsed.error)) {
      return parsed;
    }
  }
  if (!options.Build(command.options, parsed.error)) return parsed;
  parsed.outcome = version ? ParsedCommandLine::Outcome::kVersion : ParsedCommandLine::Outcome::kRun;
  return parsed;
}

namespace {

// `text` in lines of at most 79 characters, broken at blanks, the lines after
// the first indented by `indent`.
std::string Wrapped(std::string_view text, std::size_t indent) {
  constexpr std::size_t kWidth = 79;
  std::string wrapped;
  std::size_t line_start = 0;
  while (text.size() > kWidth - (wrapped.empty() ? 0 : indent)) {
    const std::size_t room = kWidth - (wrapped.empty() ? 0 : indent);
    const std::size_t blank = text.rfind(' ', room);
    if (blank == std::string_view::npos || blank == 0) break;
    wrapped += std::string(line_start, ' ') + std::string(text.substr(0, blank)) + "\n";
    text.remove_prefix(blank + 1);
    line_start = indent;
  }
  return wrapped + std::string(line_start, ' ') + std::string(text) + "\n";
}

}  // namespace

std::string UsageText() {
  std::string usage = R"(usage: kelmar-check [--options TEXT | --record FIELD=VALUE...] [--library FILE]
                    [--json] [--trace]
       kelmar-check [--library FILE] --version
       kelmar-check --help

Answers "would DB2 get a working Vorlan backend here, and why not?" without
starting a session. It runs libkelmar.so's own code for each step of the
first session of a DB2 process, in this process's environment (XJREG,
VORLAN_INST, VORLAN_VM, LD_LIBRARY_PATH): the registry root, the instance
name, the instance's .properties and home directory, the backend's execute
test, who besides root can change the backend, the libraries the backend
needs, a dlopen of the backend with RTLD_NOW from its base directory, and
its six entry points. No entry point is ever called. Run it as the DB2
instance owner, with that user's environment: the execute test and the load
depend on both.

What DB2 passes as vendor options (nothing, when neither is given):
  --options TEXT        the options text, e.g. XjInstanceName=Instance001
  --record FIELD=VALUE  a field of the 344-byte options record of Vorlan's
                        user interface; repeatable; fields: instanceName
                        version build vendorId vmName jmToken serverId
                        dbInstanceName (the instance name is vmName)

The library DB2 is given:
  --library FILE        the libkelmar.so whose version and build id to report
                        beside kelmar-check's own, with a warning when the
                        versions differ, and who besides root can change it
                        (/opt/kelmar/lib/libkelmar.so)

Output:
  --json                one JSON object for scripts instead of the plain report
  --trace               let the library's steps write their trace lines to
                        /tmp/libkelmar.log, if that file exists and is
                        writable; without it nothing is written there
  -h, --help            this text
  --version             kelmar-check's version, and the library's

Exit status: the first step that failed, and every cause of it; then the
library
  0  all steps passed: DB2 would get a working backend
  1  the report could not be written
  2  bad command line
)";
  struct Cause {
    int exit_status;
    const char* id;
    const char* failure;
  };
  std::vector<Cause> causes = {{kExitLibrary, kLibraryId, kLibraryFailure}};
  for (const StepInfo& info : kSteps) causes.push_back({info.exit_status, info.id, info.failure});
  std::sort(causes.begin(), causes.end(), [](const Cause& a, const Cause& b) { return a.exit_status < b.exit_status; });
  for (const Cause& cause : causes) {
    std::string line = "  " + std::to_string(cause.exit_status);
    line.resize(5, ' ');
    usage += Wrapped(line + cause.id + ": " + cause.failure, 5);
  }
  return usage;
}

}  // namespace kelmar::check
