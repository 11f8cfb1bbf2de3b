#include "log/trace_log.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

constexpr int kPid = 812;
constexpr const char* kTime = "01/02/26 03:04:60";  // a leap second, shown as it came
constexpr const char* kPrefix = "LIBKELMAR-812: 01/02/26 03:04:60 t: ";
// Of the 2046 characters a message may have, "t: " takes three and a format's own line feed one.
constexpr std::size_t kFits = 2042;
constexpr std::size_t kLongest = 2043;
constexpr std::size_t kTooLong = 5000;

std::string Format(const char* format, ...) {
  std::tm when{};
  EXPECT_NE(strptime(kTime, "%D %T", &when), nullptr);
  char line[kelmar::kTraceLineBytes];
  va_list args;
  va_start(args, format);
  const std::size_t length = kelmar::FormatTraceLine(line, kPid, when, "t", format, args);
  va_end(args);
  return std::string(line, length);
}

std::string Chars(std::size_t count, char fill = 'x') { return std::string(count, fill); }

TEST(TraceLineFormat, PrefixMessageAndTheCutAt2046Characters) {
  struct Row {
    const char* name;
    std::string format = "%s\n";
    std::string argument{};
    std::string shown;  // the line after the prefix
  };
  const Row rows[] = {
      {.name = "percent signs in an argument are text", .argument = "%s%n%d", .shown = "%s%n%d\n\n"},
      {.name = "the format's line feed fits", .argument = Chars(kFits), .shown = Chars(kFits) + "\n\n"},
      {.name = "it is the first to go", .argument = Chars(kLongest), .shown = Chars(kLongest) + "\n"},
      {.name = "a long format is cut first", .format = Chars(kTooLong, 'f'), .shown = Chars(kLongest, 'f') + "\n"},
      {.name = "escaped", .argument = "a\n\r\t\\\x01\x7f\n", .shown = "a\\n\\r\\t\\\\\\x01\\x7f\\n\n\n"},
      {.name = "an escape cut whole", .format = "%s", .argument = Chars(kFits) + "\x1b", .shown = Chars(kFits) + "\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Format(row.format.c_str(), row.argument.c_str()), kPrefix + row.shown);
  }
}

TEST(TraceSwitch, ALineIsStampedAndADeletedFileStaysDeleted) {
  RunIsolated([] {
    EnableTrace();
    close(STDIN_FILENO);  // the trace file may get descriptor 0
    const std::time_t before = std::time(nullptr);
    SqluvErrorLog("sqluvput()", "now");
    const std::time_t after = std::time(nullptr);
    const std::string line = ReadFile(kelmar::kTraceLogPath);
    EXPECT_TRUE(HasTracePrefix(line, getpid())) << line;
    std::tm when{};
    ASSERT_NE(strptime(line.substr(line.find(' ') + 1).c_str(), "%D %T", &when), nullptr) << line;
    when.tm_isdst = -1;
    EXPECT_GE(std::mktime(&when), before) << line;
    EXPECT_LE(std::mktime(&when), after) << line;
    ASSERT_EQ(unlink(kelmar::kTraceLogPath), 0);
    SqluvErrorLog("sqluvput()", "lost");
    EXPECT_NE(access(kelmar::kTraceLogPath, F_OK), 0) << "the trace file came back";
  });
}

struct Burst {
  int writers;
  int lines_each;
  std::size_t payload_bytes;
};

Lines WriteConcurrently(const Burst& burst) {
  const std::string payload = Chars(burst.payload_bytes);
  Lines all;
  for (int writer = 0; writer < burst.writers; ++writer) {
    if (fork() == 0) {
      for (int line = 0; line < burst.lines_each; ++line) {
        SqluvErrorLog("w()", "%d %s", writer, payload.c_str());
      }
      _exit(EXIT_SUCCESS);
    }
    all.insert(all.end(), burst.lines_each, "w(): " + std::to_string(writer) + " " + payload);
  }
  for (int status = 0; wait(&status) > 0;) {
    EXPECT_EQ(status, EXIT_SUCCESS);
  }
  return all;
}

// A full file system drops a line that does not fit whole; once space is back, concurrent writers' lines stay whole.
TEST(TraceFile, AFullFileSystemTakesWholeLinesOnly) {
  constexpr const char* kSmallTmp = "size=128k";
  constexpr std::size_t kFillerBytes = 96 * 1024;  // leaves less room than the first burst's lines take
  RunIsolated([] {
    ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", 0, kSmallTmp), 0);
    WriteFile("/tmp/filler", Chars(kFillerBytes));
    EnableTrace();
    const Lines filling = WriteConcurrently({.writers = 4, .lines_each = 100, .payload_bytes = 301});
    EXPECT_LT(TraceLines().size(), filling.size()) << "the file system never filled up";
    ASSERT_EQ(unlink("/tmp/filler"), 0);
    const Lines later = WriteConcurrently({.writers = 8, .lines_each = 60, .payload_bytes = 150});
    Lines lines = TraceLines();
    std::erase_if(lines, [&](const std::string& line) { return std::ranges::count(filling, line) > 0; });
    std::ranges::sort(lines);
    EXPECT_EQ(lines, later) << "every later line once, whole, and no torn or glued one";
  });
}

}  // namespace
