#include "discovery/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "caller_buffer.h"
#include "testbed/isolation.h"

namespace {

using namespace kelmar::testbed;

TEST(Environment, GetEnvCopiesOnlyWhatFits) {
  struct Case {
    std::optional<std::string> value;  // unset when absent
    std::uint32_t size;
    int result;
    bool copied;
  };
  const Case cases[] = {
      {std::nullopt, 16, -1, false},
      {"", 16, 0, true},
      {"", 0, 1, false},
      {"abc", 4, 3, true},   // size-1 characters
      {"abcd", 4, 5, false},  // size characters: the room needed
      {"abcdefgh", 4, 9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.value_or("(unset)") + " in " + std::to_string(c.size));
    RunIsolated([&] {
      if (c.value) setenv("KELMAR_PROBE", c.value->c_str(), 1);
      CallerBuffer buffer(c.size);
      EXPECT_EQ(GetEnv("KELMAR_PROBE", buffer.data(), c.size), c.result);
      EXPECT_FALSE(buffer.WrittenPastCapacity());
      if (c.copied) {
        EXPECT_EQ(buffer.Text(), *c.value);
      } else {
        EXPECT_TRUE(buffer.Untouched());
      }
    });
  }
}

TEST(Environment, SetEnvHandsTheEntryToTheEnvironment) {
  RunIsolated([] {
    for (const char* value : {"Instance001", "", "a=b c", "replaced"}) {
      EXPECT_EQ(SetEnv("KELMAR_PROBE", value), 0);
      const char* now = std::getenv("KELMAR_PROBE");
      ASSERT_NE(now, nullptr);
      EXPECT_STREQ(now, value);
    }
  });
}

}  // namespace
