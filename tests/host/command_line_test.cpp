// kelmar-host's command line and the vendor options it builds from it.
#include "host/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using kelmar::host::HostCommand;
using kelmar::host::Operation;
using kelmar::host::ParseCommandLine;
using kelmar::host::ParsedCommandLine;
using Args = std::vector<std::string>;

TEST(CommandLine, AcceptedCommands) {
  struct Case {
    Args args;
    Operation operation;
    char letter;
    void (*check)(const HostCommand&);
  };
  const Case cases[] = {
      {{"--library", "/l.so", "backup", "--input", "img", "--timestamp", "20261205141541", "--sessions", "4"},
       Operation::kBackup, 'W',
       [](const HostCommand& c) {
         EXPECT_EQ(c.library, "/l.so");
         EXPECT_EQ(c.input, "img");
         EXPECT_EQ(c.sessions, 4u);
         EXPECT_EQ(c.timestamp, "20261205141541");
         EXPECT_FALSE(c.direct);
         EXPECT_FALSE(c.options.present);
       }},
      {{"backup", "--library=/l.so", "--input=img"}, Operation::kBackup, 'W',
       [](const HostCommand& c) {
         EXPECT_EQ(c.timestamp.size(), 14u) << "a backup is taken now when no timestamp is given";
         EXPECT_EQ(c.buffer_size, kelmar::host::kDefaultBufferSize);
       }},
      {{"--direct", "--library", "b.so", "restore", "--output", "out", "--timestamp", "20261205141541",
        "--buffer-size", "4096", "--db", "PROD", "--instance", "db2prod", "--node", "3"},
       Operation::kRestore, 'R',
       [](const HostCommand& c) {
         EXPECT_TRUE(c.direct);
         EXPECT_EQ(c.output, "out");
         EXPECT_EQ(c.buffer_size, 4096u);
         EXPECT_EQ(c.database, "PROD");
         EXPECT_EQ(c.instance, "db2prod");
         EXPECT_EQ(c.node, 3);
       }},
      {{"--library", "l", "archive", "a/S1.LOG", "S2.LOG"}, Operation::kArchive, 'A',
       [](const HostCommand& c) { EXPECT_EQ(c.log_files, (Args{"a/S1.LOG", "S2.LOG"})); }},
      {{"--library", "l", "retrieve", "--output-dir", "d", "S1.LOG"}, Operation::kRetrieve, 'T',
       [](const HostCommand& c) { EXPECT_EQ(c.output_dir, "d"); }},
      {{"--library", "l", "query-images", "--timestamp", "2026"}, Operation::kQueryImages, 'I',
       [](const HostCommand& c) { EXPECT_EQ(c.timestamp, "2026") << "a prefix selects in queries"; }},
      {{"--library", "l", "query-logs"}, Operation::kQueryLogs, 'L', [](const HostCommand&) {}},
      {{"--library", "l", "delete-images"}, Operation::kDeleteImages, 'M', [](const HostCommand&) {}},
      {{"--library", "l", "delete-logs"}, Operation::kDeleteLogs, 'O',
       [](const HostCommand& c) { EXPECT_TRUE(c.log_files.empty()); }},
      {{"--library", "l", "delete-all", "--options", "XjInstanceName=Instance002"}, Operation::kDeleteAll, 'B',
       [](const HostCommand& c) {
         ASSERT_TRUE(c.options.present);
         EXPECT_EQ(c.options.size, 26u);
         ASSERT_EQ(c.options.bytes.size(), 27u);
         EXPECT_EQ(c.options.bytes.back(), '\0') << "DB2's text carries a terminator after its counted bytes";
       }},
      {{"--library", "l", "query-logs", "--options="}, Operation::kQueryLogs, 'L',
       [](const HostCommand& c) {
         EXPECT_TRUE(c.options.present) << "an empty text is still options";
         EXPECT_EQ(c.options.size, 0u);
       }},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::kRun) << c.args[2] << ": " << parsed.error;
    EXPECT_EQ(parsed.command.operation, c.operation);
    EXPECT_EQ(kelmar::host::ActionLetter(parsed.command.operation), c.letter);
    c.check(parsed.command);
  }
}

TEST(CommandLine, RejectedCommandsSayWhy) {
  struct Case {
    Args args;
    const char* error;
  };
  const Case cases[] = {
      {{"backup", "--input", "x"}, "--library is required"},
      {{"--library", "l"}, "no operation given"},
      {{"--library", "l", "backups"}, "unknown operation \"backups\""},
      {{"--library", "l", "backup"}, "backup needs --input FILE"},
      {{"--library", "l", "restore", "--output", "o"}, "restore needs a --timestamp of 14 digits"},
      {{"--library", "l", "restore", "--output", "o", "--timestamp", "2026"}, "needs a --timestamp of 14 digits"},
      {{"--library", "l", "backup", "--input", "x", "--timestamp", "2026120514154x"}, "--timestamp must be"},
      {{"--library", "l", "backup", "--input", "x", "--sessions", "0"}, "--sessions must be a number from 1"},
      {{"--library", "l", "backup", "--input", "x", "--sessions", "257"}, "--sessions must be a number from 1"},
      {{"--library", "l", "backup", "--input", "x", "--buffer-size", "0"}, "--buffer-size must be"},
      {{"--library", "l", "backup", "--input", "x", "--buffer-size", "1k"}, "--buffer-size must be"},
      {{"--library", "l", "query-logs", "--node", "-1"}, "--node must be"},
      {{"--library", "l", "archive", "S1.LOG", "--sessions", "2"}, "--sessions applies to backup and restore"},
      {{"--library", "l", "archive"}, "archive needs at least one log file"},
      {{"--library", "l", "retrieve", "S1.LOG"}, "retrieve needs --output-dir DIR"},
      {{"--library", "l", "query-logs", "extra"}, "query-logs takes no operands"},
      {{"--library", "l", "query-logs", "--input", "x"}, "--input applies to backup only"},
      {{"--library", "l", "query-logs", "--frob"}, "unknown option --frob"},
      {{"--library", "l", "query-logs", "--db"}, "--db needs a value"},
      {{"--library", "l", "query-logs", "--direct=yes"}, "--direct takes no value"},
      {{"--library", "l", "query-logs", "--options", "a", "--record", "vmName=b"}, "either as --options or as --record"},
      {{"--library", "l", "query-logs", "--record", "vmName"}, "--record needs FIELD=VALUE"},
      {{"--library", "l", "query-logs", "--record", "vmname=x"}, "unknown options record field \"vmname\""},
      {{"--library", "l", "query-logs", "--record", "vmName=123456789012345678"},
       "vmName must be at most 17 characters"},
      {{"--library", "l", "query-logs", "--options", std::string(65536, 'x')}, "longer than DB2's limit of 65535"},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    EXPECT_EQ(parsed.outcome, ParsedCommandLine::Outcome::kError) << c.error;
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << "expected \"" << c.error << "\" in \"" << parsed.error << '"';
  }
  EXPECT_EQ(ParseCommandLine({"backup", "--help"}).outcome, ParsedCommandLine::Outcome::kHelp);
}

// The record as Vorlan's user interface passes it: each field terminated
// inside its room at its place, every other byte zero.
TEST(OptionsRecord, FieldsSitAtTheirPlacesAndNothingElseIsWritten) {
  Args args = {"--library", "l", "query-logs"};
  const std::pair<const char*, std::string> fields[] = {
      {"instanceName", "12345678"}, {"version", "v"},       {"build", "b"},
      {"vendorId", std::string(23, 'i')}, {"vmName", "Instance002"}, {"jmToken", std::string(63, 't')},
      {"serverId", std::string(127, 's')}, {"dbInstanceName", std::string(38, 'd')},
  };
  for (const auto& [name, value] : fields) {
    args.push_back("--record");
    args.push_back(std::string(name) + "=" + value);
  }
  // A field given again keeps only its last value, not the tail of a longer earlier one.
  args.insert(args.end(), {"--record", "vmName=" + std::string(17, 'x'), "--record", "vmName=Instance002"});
  const ParsedCommandLine parsed = ParseCommandLine(args);
  ASSERT_EQ(parsed.outcome, ParsedCommandLine::Outcome::kRun) << parsed.error;
  const kelmar::tools::VendorOptions& options = parsed.command.options;
  ASSERT_TRUE(options.present);
  EXPECT_EQ(options.size, 344u);
  ASSERT_EQ(options.bytes.size(), 344u);

  std::vector<bool> covered(344, false);
  const std::pair<std::size_t, std::size_t> places[] = {{44, 9},  {53, 9},   {62, 9},    {71, 24},
                                                        {95, 18}, {113, 64}, {177, 128}, {305, 39}};
  for (std::size_t i = 0; i < 8; ++i) {
    const auto [offset, room] = places[i];
    const std::string& value = fields[i].second;
    EXPECT_EQ(std::string(options.bytes.data() + offset, strnlen(options.bytes.data() + offset, room)), value)
        << fields[i].first;
    for (std::size_t b = offset; b < offset + value.size(); ++b) covered[b] = true;
  }
  for (std::size_t b = 0; b < 344; ++b) {
    if (!covered[b]) {
      EXPECT_EQ(options.bytes[b], '\0') << "byte " << b;
    }
  }
}

}  // namespace
