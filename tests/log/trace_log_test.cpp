#include "log/trace_log.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

using kelmar::testbed::EnableTrace;
using kelmar::testbed::HasTracePrefix;
using kelmar::testbed::RawTraceLines;
using kelmar::testbed::RunIsolated;
using kelmar::testbed::TraceLines;

std::string Format(int pid, const std::tm& when, const char* tag, const char* format, ...) {
  char line[kelmar::kTraceLineBytes];
  va_list args;
  va_start(args, format);
  const std::size_t length = kelmar::FormatTraceLine(line, pid, when, tag, format, args);
  va_end(args);
  return std::string(line, length);
}

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  return when;
}

TEST(TraceLineFormat, DateAndTimeFields) {
  struct Case {
    std::tm when;
    const char* expected;
  };
  const Case cases[] = {
      {At(2026, 12, 5, 14, 15, 41), "LIBKELMAR-812: 12/05/26 14:15:41 sqluvget(): Calling sqluvgetpp()\n"},
      {At(2000, 1, 1, 0, 0, 5), "LIBKELMAR-812: 01/01/00 00:00:05 sqluvget(): Calling sqluvgetpp()\n"},
      {At(2009, 3, 9, 9, 7, 3), "LIBKELMAR-812: 03/09/09 09:07:03 sqluvget(): Calling sqluvgetpp()\n"},
      {At(1999, 12, 31, 23, 59, 60), "LIBKELMAR-812: 12/31/99 23:59:60 sqluvget(): Calling sqluvgetpp()\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(812, c.when, "sqluvget()", "Calling sqluvgetpp()"), c.expected);
  }
}

TEST(TraceLineFormat, MessageTexts) {
  const std::tm when = At(2026, 12, 5, 14, 15, 41);
  const std::string prefix = "LIBKELMAR-1: 12/05/26 14:15:41 ";
  EXPECT_EQ(Format(1, when, "GetVorlanBaseDir", "path for .properties is: %s", "/r/Vorlan/I/Base/.properties"),
            prefix + "GetVorlanBaseDir: path for .properties is: /r/Vorlan/I/Base/.properties\n");
  EXPECT_EQ(Format(1, when, "get_first_vorlan_instname", "stat(%s) failed, errno: %d\n", "/x", 2),
            prefix + "get_first_vorlan_instname: stat(/x) failed, errno: 2\n\n");
  // Percent signs in arguments are text, not conversions.
  EXPECT_EQ(Format(1, when, "t", "name %s", "%s%n%d"), prefix + "t: name %s%n%d\n");
  EXPECT_EQ(Format(1, when, "sqluvint()", "-----------Leaving, returning %d--------", -2147483647 - 1),
            prefix + "sqluvint(): -----------Leaving, returning -2147483648--------\n");
}

TEST(TraceLineFormat, MessageIsCutAt2046Characters) {
  const std::tm when = At(2026, 1, 2, 3, 4, 5);
  const std::string prefix = "LIBKELMAR-42: 01/02/26 03:04:05 ";
  struct Case {
    std::size_t argument_length;
    std::size_t expected_message_length;
  };
  // "t: " takes three of the 2046 characters.
  const Case cases[] = {{2042, 2045}, {2043, 2046}, {2044, 2046}, {5000, 2046}};
  for (const Case& c : cases) {
    const std::string argument(c.argument_length, 'x');
    const std::string line = Format(42, when, "t", "%s", argument.c_str());
    ASSERT_EQ(line.size(), prefix.size() + c.expected_message_length + 1) << c.argument_length;
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.substr(prefix.size(), 3), "t: ");
  }
  // A caller's format longer than the limit is cut as well, before formatting.
  const std::string long_format(3000, 'f');
  const std::string line = Format(42, when, "t", long_format.c_str());
  EXPECT_EQ(line.size(), prefix.size() + 2046 + 1);
}

void WriteOneLine(const char* text) { SqluvErrorLog("sqluvput()", "%s", text); }

TEST(TraceSwitch, WritesOnlyWhileTheFileIsThereAndWritable) {
  RunIsolated([] {
    WriteOneLine("absent");
    EXPECT_NE(access(kelmar::kTraceLogPath, F_OK), 0) << "the library created the trace file";

    EnableTrace();
    WriteOneLine("present");
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"sqluvput(): present"});

    ASSERT_EQ(unlink(kelmar::kTraceLogPath), 0);
    WriteOneLine("deleted");
    EXPECT_NE(access(kelmar::kTraceLogPath, F_OK), 0) << "the library re-created the trace file";

    EnableTrace();
    WriteOneLine("re-created");
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"sqluvput(): re-created"});
  });
}

TEST(TraceSwitch, ProcessSwitchedOffWritesNothingWhileTheFileIsThere) {
  RunIsolated([] {
    EnableTrace();
    WriteOneLine("before");
    kelmar::SwitchTraceOffForThisProcess();
    WriteOneLine("after");
    std::thread other_thread([] { WriteOneLine("from another thread"); });
    other_thread.join();
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"sqluvput(): before"});
  });
}

TEST(TraceSwitch, UnwritableFileTakesNothing) {
  RunIsolated([] {
    EnableTrace();
    ASSERT_EQ(chmod(kelmar::kTraceLogPath, 0444), 0);
    // Root may write anything: drop every capability for the test (a user
    // namespace maps no other user to switch to).
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    ASSERT_EQ(syscall(SYS_capset, &header, none), 0) << std::strerror(errno);
    ASSERT_NE(access(kelmar::kTraceLogPath, W_OK), 0);
    WriteOneLine("must not appear");
    EXPECT_TRUE(RawTraceLines().empty());
  });
}

TEST(TraceSwitch, DirectoryInPlaceOfTheFileIsHarmless) {
  RunIsolated([] {
    ASSERT_EQ(mkdir(kelmar::kTraceLogPath, 0777), 0);
    WriteOneLine("lost");
    struct stat info {};
    ASSERT_EQ(stat(kelmar::kTraceLogPath, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
  });
}

TEST(TraceSwitch, FullFileSystemLosesTheLineSilently) {
  RunIsolated([] {
    // A one-page file system, filled up, holds the trace file.
    ASSERT_EQ(mkdir("/tmp/small", 0755), 0);
    ASSERT_EQ(mount("tmpfs", "/tmp/small", "tmpfs", 0, "size=4k"), 0) << std::strerror(errno);
    const int fd = open("/tmp/small/trace", O_WRONLY | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    const std::string block(512, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    ASSERT_EQ(symlink("/tmp/small/trace", kelmar::kTraceLogPath), 0);
    struct stat before {};
    ASSERT_EQ(stat(kelmar::kTraceLogPath, &before), 0);

    WriteOneLine("lost");

    struct stat after {};
    ASSERT_EQ(stat(kelmar::kTraceLogPath, &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
  });
}

TEST(TraceFile, LineCarriesThisProcessAndTheCallTime) {
  RunIsolated([] {
    EnableTrace();
    const std::time_t before = std::time(nullptr);
    WriteOneLine("now");
    const std::time_t after = std::time(nullptr);

    const std::vector<std::string> raw = RawTraceLines();
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_TRUE(HasTracePrefix(raw[0], getpid())) << raw[0];

    // The stamp is the local time of one of the seconds the call spanned.
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
      std::tm local{};
      localtime_r(&t, &local);
      char stamp[32];
      std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &local);
      matched = matched || raw[0].find(stamp) != std::string::npos;
    }
    EXPECT_TRUE(matched) << raw[0];
  });
}

TEST(TraceFile, LinesFromConcurrentWritersStayWhole) {
  RunIsolated([] {
    EnableTrace();
    constexpr int kWriters = 4;
    constexpr int kLinesEach = 250;
    const std::string payload(300, 'p');

    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        // Two threads in each process as well.
        auto write_half = [&] {
          for (int i = 0; i < kLinesEach / 2; ++i) SqluvErrorLog("w()", "%d %s", w, payload.c_str());
        };
        std::thread other(write_half);
        write_half();
        other.join();
        _exit(0);
      }
      children.push_back(child);
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::vector<int> per_writer(kWriters, 0);
    const std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesEach));
    for (const std::string& line : lines) {
      const int writer = line[5] - '0';
      ASSERT_TRUE(writer >= 0 && writer < kWriters) << line;
      EXPECT_EQ(line, "w(): " + std::to_string(writer) + " " + payload);
      ++per_writer[static_cast<size_t>(writer)];
    }
    for (int count : per_writer) EXPECT_EQ(count, kLinesEach);
  });
}

}  // namespace
