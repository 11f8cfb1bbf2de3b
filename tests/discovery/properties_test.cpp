#include "discovery/properties_readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "caller_buffer.h"
#include "kelmar/libkelmar.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"
#include "testbed/trace_reader.h"
#include "trace_lines.h"

namespace {

using namespace kelmar::testbed;
using Found = std::optional<std::string>;

// Runs `read` over `content` as a file; the value when it reports one. The
// caller's buffer must stay unwritten when it reports none.
template <typename Reader>
Found ReadFrom(const std::string& content, std::size_t capacity, Reader read) {
  std::string bytes = content;
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return std::nullopt;
  CallerBuffer value(capacity);
  const bool found = read(file, std::span<char>(value.data(), capacity));
  std::fclose(file);
  EXPECT_FALSE(value.WrittenPastCapacity());
  if (!found) {
    EXPECT_TRUE(value.Untouched());
    return std::nullopt;
  }
  return value.Text();
}

Found Home(const std::string& content, std::size_t capacity = 1024) {
  return ReadFrom(content, capacity, kelmar::ReadHomeDirectory);
}

Found RegValue(const std::string& content, const std::string& key = "dVORLANHOME", std::size_t capacity = 1024) {
  return ReadFrom(content, capacity,
                  [&](std::FILE* file, std::span<char> value) { return kelmar::ReadRegValue(file, key, value); });
}

TEST(PropertiesReaders, SameFileReadByBothRules) {
  const std::string long_head(1022, 'x');
  struct Case {
    const char* name;
    std::string content;
    Found home;       // the base directory's reader
    Found reg_value;  // get_reg_value's reader
  };
  const Case cases[] = {
      {"plain", "dVORLANHOME /opt/v\n", "/opt/v", "/opt/v"},
      {"no final line feed", "dVORLANHOME /opt/v", "/opt/v", "/opt/v"},
      {"leading blanks", " \t dVORLANHOME /opt/v\n", "/opt/v", {}},
      {"other letter case", "dvorlanhome /opt/v\nDVORLANHOME /opt/v\n", {}, {}},
      {"joined after", "dVORLANHOMEX /opt/v\n", {}, {}},
      {"joined before", "XdVORLANHOME /opt/v\n", {}, {}},
      {"later line", "# note\nOther 1\n\n   \ndVORLANHOME /opt/v\n", "/opt/v", "/opt/v"},
      {"key line without value stops the reading", "dVORLANHOME\ndVORLANHOME /opt/v\n", {}, ""},
      {"key with trailing blanks only", "dVORLANHOME   \ndVORLANHOME /opt/v\n", {}, ""},
      {"first of two values", "dVORLANHOME /one\ndVORLANHOME /two\n", "/one", "/one"},
      {"value with a blank", "dVORLANHOME /opt/my dir\n", "/opt/my", "/opt/my dir"},
      {"tabs and trailing blanks", "dVORLANHOME\t\t/opt/v  \n", "/opt/v", "/opt/v  "},
      {"carriage returns", "dVORLANHOME /opt/v\r\n", "/opt/v\r", "/opt/v\r"},
      {"carriage return after a bare key", "dVORLANHOME\r\ndVORLANHOME /opt/w\r\n", "/opt/w\r", ""},
      {"vertical tab", "dVORLANHOME\v/opt/v\n", {}, "/opt/v"},
      {"empty file", "", {}, {}},
      {"blank lines only", "\n\n \t\n", {}, {}},
      {"binary with a terminator inside the key line", std::string("dVORLANHOME\0 /opt/x\n", 20), {}, ""},
      {"binary bytes before the key line", std::string("\x7f\x00\x01\xff\n", 5) + "dVORLANHOME /ok\n", "/ok", "/ok"},
      // A longer line goes on as further pieces: 1022 characters for the one
      // reader, 1023 for the other.
      {"key right after 1022 characters", long_head + "dVORLANHOME /a\n", "/a", {}},
      {"key right after 1023 characters", long_head + "xdVORLANHOME /b\n", {}, "/b"},
      {"value beyond the piece", "dVORLANHOME " + std::string(1200, 'v') + "\n", std::string(1010, 'v'),
       std::string(1011, 'v')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Home(c.content), c.home);
    EXPECT_EQ(RegValue(c.content), c.reg_value);
  }
}

TEST(PropertiesReaders, ValueCutToTheCallersRoom) {
  EXPECT_EQ(Home("dVORLANHOME /opt/vorlan\n", 5), "/opt");
  EXPECT_EQ(RegValue("dVORLANHOME /opt/vorlan\n", "dVORLANHOME", 5), "/opt");
  EXPECT_EQ(RegValue("dVORLANHOME /opt/vorlan\n", "dVORLANHOME", 1), "");
}

TEST(PropertiesReaders, RegValueKeys) {
  const std::string content = "alpha 1\n\n  indented value \nbeta\tx y\nalphabet 2\n";
  struct Case {
    std::string key;
    Found value;
  };
  const Case cases[] = {
      {"alpha", "1"},       {"beta", "x y"}, {"alphabet", "2"}, {"alph", {}}, {"ALPHA", {}},
      {"beta\tx", {}},      {"gamma", {}},
      {"", ""},  // the empty line is the first piece that begins with white space
  };
  for (const Case& c : cases) EXPECT_EQ(RegValue(content, c.key), c.value) << "key [" << c.key << "]";
  EXPECT_EQ(RegValue("  indented value \nalpha 1\n", ""), "indented value ");
}

std::string Tagged(const std::string& message) { return kelmar::testbed::Tagged("get_reg_value", message); }

TEST(GetRegValue, ResultsAndLinesForFilesAndArguments) {
  const std::string file = "/tmp/props";
  struct Case {
    const char* name;
    const char* file;
    const char* key;
    bool null_value;
    int size;
    int result;
    std::string value;
    std::string exit_line;
  };
  const std::string leaving = "-----------Leaving--------";
  const std::string invalid = "-----------Leaving--- invalid arguments -----";
  const Case cases[] = {
      {"found", "/tmp/props", "home", false, 64, 0, "/opt/v", leaving},
      {"through a symlink", "/tmp/link", "home", false, 64, 0, "/opt/v", leaving},
      {"size 1", "/tmp/props", "home", false, 1, 0, "", leaving},
      {"missing key", "/tmp/props", "nothing", false, 64, -1, "", leaving},
      {"missing file", "/tmp/absent", "home", false, 64, -1, "", "-----------Leaving--- open(/tmp/absent) failed -----"},
      {"dangling symlink", "/tmp/dangling", "home", false, 64, -1, "",
       "-----------Leaving--- open(/tmp/dangling) failed -----"},
      {"a directory", "/tmp", "home", false, 64, -1, "", leaving},
      {"null file", nullptr, "home", false, 64, -1, "", invalid},
      {"null key", "/tmp/props", nullptr, false, 64, -1, "", invalid},
      {"null value", "/tmp/props", "home", true, 64, -1, "", invalid},
      {"size 0", "/tmp/props", "home", false, 0, -1, "", invalid},
      {"negative size", "/tmp/props", "home", false, -5, -1, "", invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      WriteFile(file, "home /opt/v\n");
      std::filesystem::create_symlink(file, "/tmp/link");
      std::filesystem::create_symlink("/tmp/absent", "/tmp/dangling");
      EnableTrace();
      CallerBuffer value(64);
      EXPECT_EQ(get_reg_value(nullptr, c.file, c.key, c.null_value ? nullptr : value.data(), c.size), c.result);
      EXPECT_FALSE(value.WrittenPastCapacity());
      if (c.result == 0) {
        EXPECT_EQ(value.Text(), c.value);
      } else {
        EXPECT_TRUE(value.Untouched());
      }
      EXPECT_EQ(TraceLines(), (Lines{Tagged("-----------Entered--------"), Tagged(c.exit_line)}));
    });
  }
}

}  // namespace
