#include "host/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

namespace kelmar::host {
namespace {

struct OperationInfo {
  Operation operation;
  const char* name;
  char letter;
};

constexpr std::array<OperationInfo, 9> kOperations = {{
    {Operation::kBackup, "backup", 'W'},
    {Operation::kRestore, "restore", 'R'},
    {Operation::kArchive, "archive", 'A'},
    {Operation::kRetrieve, "retrieve", 'T'},
    {Operation::kQueryImages, "query-images", 'I'},
    {Operation::kQueryLogs, "query-logs", 'L'},
    {Operation::kDeleteImages, "delete-images", 'M'},
    {Operation::kDeleteLogs, "delete-logs", 'O'},
    {Operation::kDeleteAll, "delete-all", 'B'},
}};

const OperationInfo& InfoOf(Operation operation) {
  return *std::find_if(kOperations.begin(), kOperations.end(),
                       [&](const OperationInfo& info) { return info.operation == operation; });
}

constexpr std::size_t kTimestampDigits = 14;

// The options that take a value; --direct and --help take none.
constexpr std::array<std::string_view, 12> kValueOptions = {
    "--library", "--db",       "--instance",    "--node",    "--timestamp", "--input",  "--output",
    "--output-dir", "--sessions", "--buffer-size", "--options", "--record",
};

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, Number min, Number max) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) return std::nullopt;
  return value;
}

int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// Digits only; all 14 of them a real date and time, as DB2 checks them.
bool IsTimestamp(std::string_view text, bool whole) {
  if (text.size() > kTimestampDigits || (whole && text.size() != kTimestampDigits)) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  if (text.size() != kTimestampDigits) return true;
  const int year = Digits(text, 0, 4), month = Digits(text, 4, 2), day = Digits(text, 6, 2);
  constexpr std::array<int, 12> kDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (year == 0 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap)) {
    return false;
  }
  return Digits(text, 8, 2) < 24 && Digits(text, 10, 2) < 60 && Digits(text, 12, 2) < 60;
}

// Relative to the directory kelmar-host started in.
bool MakeAbsolute(std::string& path) {
  if (path.empty() || path.front() == '/') return true;
  std::vector<char> directory(4096);
  while (getcwd(directory.data(), directory.size()) == nullptr) {
    if (errno != ERANGE) return false;
    directory.resize(directory.size() * 2);
  }
  path = std::string(directory.data()) + "/" + path;
  return true;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParsedCommandLine Parse() {
    ParsedCommandLine parsed;
    if (!ReadArguments(parsed) || !Check(parsed.command)) {
      parsed.outcome = help_      ? ParsedCommandLine::Outcome::kHelp
                       : version_ ? ParsedCommandLine::Outcome::kVersion
                                  : ParsedCommandLine::Outcome::kError;
      parsed.error = error_;
      return parsed;
    }
    parsed.outcome = ParsedCommandLine::Outcome::kRun;
    return parsed;
  }

 private:
  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  // The value of an option given as "--name value" or "--name=value".
  bool ValueOf(std::string_view option, std::size_t& index, bool has_inline_value, std::string_view inline_value,
               std::string& value) {
    if (has_inline_value) {
      value = std::string(inline_value);
      return true;
    }
    if (index + 1 >= args_.size()) return Fail(std::string(option) + " needs a value");
    value = args_[++index];
    return true;
  }

  bool ReadArguments(ParsedCommandLine& parsed) {
    HostCommand& command = parsed.command;
    std::optional<std::string> operation;
    for (std::size_t i = 0; i < args_.size(); ++i) {
      const std::string_view arg = args_[i];
      if (arg == "--help" || arg == "-h" || arg == "--version") {
        (arg == "--version" ? version_ : help_) = true;
        return false;
      }
      if (arg.rfind("--", 0) != 0) {
        if (!operation) {
          operation = std::string(arg);
        } else {
          command.log_files.emplace_back(arg);
        }
        continue;
      }
      const std::size_t equals = arg.find('=');
      const std::string_view option = arg.substr(0, equals);
      const bool has_inline_value = equals != std::string_view::npos;
      const std::string_view inline_value = has_inline_value ? arg.substr(equals + 1) : std::string_view();
      if (option == "--direct" || option == "--quiet" || option == "--progress") {
        if (has_inline_value) return Fail(std::string(option) + " takes no value");
        (option == "--direct" ? command.direct : option == "--quiet" ? command.quiet : command.progress) = true;
        continue;
      }
      if (std::find(kValueOptions.begin(), kValueOptions.end(), option) == kValueOptions.end()) {
        return Fail("unknown option " + std::string(option));
      }
      std::string value;
      if (!ValueOf(option, i, has_inline_value, inline_value, value) || !SetOption(option, value, command)) return false;
    }
    if (!operation) return Fail("no operation given");
    const auto known = std::find_if(kOperations.begin(), kOperations.end(),
                                    [&](const OperationInfo& info) { return *operation == info.name; });
    if (known == kOperations.end()) return Fail("unknown operation \"" + *operation + "\"");
    command.operation = known->operation;
    return options_arguments_.Build(command.options, error_);
  }

  bool SetOption(std::string_view option, const std::string& value, HostCommand& command) {
    if (option == "--library") {
      command.library = value;
    } else if (option == "--db") {
      command.database = value;
    } else if (option == "--instance") {
      command.instance = value;
    } else if (option == "--node") {
      const auto node = ParseNumber<int>(value, 0, 32767);
      if (!node) return Fail("--node must be a number from 0 to 32767");
      command.node = *node;
    } else if (option == "--timestamp") {
      if (!IsTimestamp(value, false)) {
        return Fail("--timestamp must be up to 14 digits (yyyymmddhhmmss), all 14 a real date and time");
      }
      command.timestamp = value;
    } else if (option == "--input") {
      command.input = value;
    } else if (option == "--output") {
      command.output = value;
    } else if (option == "--output-dir") {
      command.output_dir = value;
    } else if (option == "--sessions") {
      const auto sessions = ParseNumber<unsigned>(value, 1, kMaxSessions);
      if (!sessions) return Fail("--sessions must be a number from 1 to " + std::to_string(kMaxSessions));
      command.sessions = *sessions;
    } else if (option == "--buffer-size") {
      const auto size = ParseNumber<std::size_t>(value, 1, kMaxBufferSize);
      if (!size) return Fail("--buffer-size must be a number of bytes from 1 to " + std::to_string(kMaxBufferSize));
      command.buffer_size = *size;
    } else if (option == "--options") {
      options_arguments_.TakeText(value);
    } else {  // --record
      return options_arguments_.TakeRecordField(value, error_);
    }
    return true;
  }

  bool Check(HostCommand& command) {
    const Operation op = command.operation;
    const char* name = OperationName(op);
    if (command.library.empty()) return Fail("--library is required");
    if (command.sessions != 1 && op != Operation::kBackup && op != Operation::kRestore) {
      return Fail(std::string("--sessions applies to backup and restore, not to ") + name);
    }
    if ((op == Operation::kBackup) != !command.input.empty()) {
      return Fail(op == Operation::kBackup ? "backup needs --input FILE" : "--input applies to backup only");
    }
    if ((op == Operation::kRestore) != !command.output.empty()) {
      return Fail(op == Operation::kRestore ? "restore needs --output FILE" : "--output applies to restore only");
    }
    if ((op == Operation::kRetrieve) != !command.output_dir.empty()) {
      return Fail(op == Operation::kRetrieve ? "retrieve needs --output-dir DIR" : "--output-dir applies to retrieve only");
    }
    const bool takes_logs = op == Operation::kArchive || op == Operation::kRetrieve || op == Operation::kDeleteLogs;
    if (!takes_logs && !command.log_files.empty()) {
      return Fail(std::string(name) + " takes no operands, got \"" + command.log_files.front() + "\"");
    }
    if ((op == Operation::kArchive || op == Operation::kRetrieve) && command.log_files.empty()) {
      return Fail(std::string(name) + " needs at least one log file");
    }
    if (op == Operation::kBackup || op == Operation::kRestore) {
      command.timestamp_from_clock = command.timestamp.empty() && op == Operation::kBackup;
      if (command.timestamp_from_clock) command.timestamp = TimestampNow();
      if (!IsTimestamp(command.timestamp, true)) return Fail(std::string(name) + " needs a --timestamp of 14 digits");
    }
    bool absolute = MakeAbsolute(command.input) && MakeAbsolute(command.output) && MakeAbsolute(command.output_dir);
    for (std::string& path : command.log_files) absolute = absolute && (op != Operation::kArchive || MakeAbsolute(path));
    if (!absolute) return Fail(std::string("cannot tell the working directory: ") + std::strerror(errno));
    return true;
  }

  const std::vector<std::string>& args_;
  std::string error_;
  bool help_ = false;
  bool version_ = false;
  tools::OptionsArguments options_arguments_;
};

}  // namespace

std::string TimestampNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[kTimestampDigits + 1];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

char ActionLetter(Operation operation) { return InfoOf(operation).letter; }
const char* OperationName(Operation operation) { return InfoOf(operation).name; }

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) { return Parser(args).Parse(); }

const char* UsageText() {
  return R"(usage: kelmar-host --library PATH [options] OPERATION [LOG...]

Runs DB2 vendor sessions through a vendor library, as DB2 does.

operations (DB2 caller action in brackets):
  backup         [W] store --input FILE as a backup image
  restore        [R] read the image taken at --timestamp into --output FILE
  archive LOG... [A] archive each log file, one session after another
  retrieve LOG...[T] retrieve each named log file into --output-dir DIR
  query-images   [I] list the database's backup images (--timestamp: those it begins)
  query-logs     [L] list the database's archived log files
  delete-images  [M] delete the database's images (--timestamp: those it begins)
  delete-logs [LOG...] [O] delete the named log files, or all of them
  delete-all     [B] delete every image and log file of the database

options:
  --library PATH        the vendor library to load (libkelmar.so)
  --direct              PATH is a backend: call its own entry points
                        (sqluvintpp, ...) instead of DB2's vendor interface
  --db NAME             database name (SAMPLE)
  --instance NAME       DB2 instance name (db2inst1)
  --node N              database partition number (0)
  --timestamp DIGITS    backup timestamp yyyymmddhhmmss (backup: now)
  --sessions N          backup and restore: N sessions on N threads (1);
                        a restore needs as many sessions as its backup had
                        and fails when the image has a part beyond them
  --buffer-size BYTES   bytes per sqluvput/sqluvget buffer (1048576)
  --options TEXT        vendor options as text, e.g. XjInstanceName=Instance001
  --record FIELD=VALUE  a field of the 344-byte options record; repeatable;
                        fields: instanceName version build vendorId vmName
                        jmToken serverId dbInstanceName
  --quiet               no progress line, not even on a terminal
  --progress            a progress line on stderr even when it is no terminal
  --version             print the version and exit
  --help                print this text and exit

A backup or archive whose object the store already holds is refused before
any data moves; a backup without --timestamp waits for the next second when
its own is taken. --output may be a device or a pipe: the image is written
into it; any other existing file is replaced only once the image is whole.

exit status: 0 all calls succeeded; 1 a vendor call failed, the store already
holds the object, the output of a restore or retrieve could not be created or
written, or a restore's image has more parts than its sessions; 2 bad command
line, options or input file; 3 the library cannot be loaded or lacks an entry
point. Stopped by SIGINT or SIGTERM, it removes what it wrote, then ends by
that signal.
)";
}

}  // namespace kelmar::host
