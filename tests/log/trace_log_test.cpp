#include "log/trace_log.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "log/switch_files.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

using namespace kelmar::testbed;
using Lines = std::vector<std::string>;

std::string Format(int pid, const std::tm& when, const char* tag, const char* format, ...) {
  char line[kelmar::kTraceLineBytes];
  va_list args;
  va_start(args, format);
  const std::size_t length = kelmar::FormatTraceLine(line, pid, when, tag, format, args);
  va_end(args);
  return std::string(line, length);
}

TEST(TraceLineFormat, PrefixMessageAndTheCutAt2046Characters) {
  std::tm when{};
  ASSERT_NE(strptime("01/02/26 03:04:60", "%D %T", &when), nullptr);
  const std::string prefix = "LIBKELMAR-812: 01/02/26 03:04:60 ";
  // Percent signs in arguments are text, not conversions; a line feed that ends the message stays.
  EXPECT_EQ(Format(812, when, "stat()", "failed on %s, errno: %d\n", "%s%n%d", 2),
            prefix + "stat(): failed on %s%n%d, errno: 2\n\n");
  // "t: " takes three of the 2046 characters, the format's own line feed one: it stays only when the message is not
  // cut. A caller's format longer than the limit is cut before formatting.
  const struct { int argument, shown; std::string ending; } cuts[] = {
      {.argument = 2042, .shown = 2042, .ending = "\n\n"}, {.argument = 2043, .shown = 2043, .ending = "\n"},
      {.argument = 5000, .shown = 2043, .ending = "\n"}};
  for (const auto& cut : cuts) {
    const std::string line = Format(812, when, "t", "%s\n", std::string(cut.argument, 'x').c_str());
    EXPECT_EQ(line, prefix + "t: " + std::string(cut.shown, 'x') + cut.ending) << cut.argument;
  }
  EXPECT_EQ(Format(812, when, "t", std::string(3000, 'f').c_str()), prefix + "t: " + std::string(2043, 'f') + "\n");
  // Control characters and backslashes of arguments are shown escaped; the format's own line feed stays. An escape
  // that would pass the 2046 characters is cut whole.
  EXPECT_EQ(Format(812, when, "t", "%s\n", "a\n\r\t\\\x01\x7f\n"), prefix + "t: a\\n\\r\\t\\\\\\x01\\x7f\\n\n\n");
  EXPECT_EQ(Format(812, when, "t", "%s", (std::string(2042, 'x') + "\x1b").c_str()),
            prefix + "t: " + std::string(2042, 'x') + "\n");
}

void WriteOneLine(const char* text) { SqluvErrorLog("sqluvput()", "%s", text); }

// What a write would change at the trace file's name: its size, -1 while absent.
off_t TraceFileSize() {
  struct stat file {};
  return stat(kelmar::kTraceLogPath, &file) == 0 ? file.st_size : -1;
}

TEST(TraceSwitch, NoLineWithoutAWritableFile) {
  const std::function<void()> unwritable[] = {
      [] {  // once written, then deleted: not re-created
        EnableTrace();
        WriteOneLine("present");
        ASSERT_EQ(unlink(kelmar::kTraceLogPath), 0);
      },
      [] {
        EnableTrace();
        ASSERT_EQ(chmod(kelmar::kTraceLogPath, 0444), 0);
        DropPrivileges();  // root may write anything
      },
      [] { ASSERT_EQ(mkdir(kelmar::kTraceLogPath, 0777), 0); }};
  for (const auto& arrange : unwritable) {
    RunIsolated([&] {
      arrange();
      const off_t before = TraceFileSize();
      WriteOneLine("lost");
      EXPECT_EQ(TraceFileSize(), before);
    });
  }
}

// `writers` processes write `lines_each` lines "w(): <writer> <payload>" at once; the lines each writer wrote.
Lines WriteConcurrently(int writers, int lines_each, const std::string& payload) {
  Lines all;
  for (int w = 0; w < writers; ++w) {
    if (fork() == 0) {
      for (int i = 0; i < lines_each; ++i) SqluvErrorLog("w()", "%d %s", w, payload.c_str());
      _exit(0);
    }
    all.insert(all.end(), lines_each, "w(): " + std::to_string(w) + " " + payload);
  }
  for (int status = 0; wait(&status) > 0;) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return all;
}

TEST(TraceFile, LinesCarryTheProcessAndTime) {
  RunIsolated([] {
    EnableTrace();
    close(STDIN_FILENO);  // the trace file may get descriptor 0
    const std::time_t before = std::time(nullptr);
    WriteOneLine("now");
    const std::time_t after = std::time(nullptr);
    const Lines raw = RawTraceLines();
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_TRUE(HasTracePrefix(raw[0], getpid())) << raw[0];
    std::tm when{};  // the local time of one of the seconds the call spanned
    ASSERT_NE(strptime(raw[0].substr(raw[0].find(' ') + 1).c_str(), "%D %T", &when), nullptr) << raw[0];
    when.tm_isdst = -1;
    const std::time_t stamp = std::mktime(&when);
    EXPECT_TRUE(stamp >= before && stamp <= after) << raw[0];
  });
}

// Writers fill the file system under the trace: a line that does not fit is dropped whole. Once space is back many
// concurrent writers go on, each line whole (every line opens the file anew: threads write as processes do).
TEST(TraceFile, AFullFileSystemTakesWholeLinesOnly) {
  RunIsolated([] {
    ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", 0, "size=128k"), 0);
    std::ofstream("/tmp/filler") << std::string(96 * 1024, 'f');
    EnableTrace();
    const Lines filling = WriteConcurrently(4, 100, std::string(301, 'f'));
    EXPECT_LT(TraceLines().size(), filling.size()) << "the file system never filled up";
    ASSERT_EQ(unlink("/tmp/filler"), 0);
    const Lines later = WriteConcurrently(8, 60, std::string(150, 'l'));
    Lines lines = TraceLines();
    std::erase_if(lines, [&](const std::string& line) { return std::ranges::count(filling, line) > 0; });
    std::ranges::sort(lines);
    EXPECT_EQ(lines, later) << "every later line once, whole, and no torn or glued one";
  });
}

}  // namespace
