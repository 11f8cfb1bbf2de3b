#include "discovery/instance_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "caller_buffer.h"
#include "guarded_bytes.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"
#include "trace_lines.h"

namespace {

using namespace kelmar::testbed;

// GetVorlanInstanceName into a caller's buffer of `capacity` bytes.
struct Resolved {
  int result = -1;
  std::string name;
  bool untouched = false;  // not a byte written
};

Resolved Resolve(const Init_input* in, std::size_t capacity = 1024) {
  CallerBuffer buffer(capacity);
  Resolved r;
  r.result = GetVorlanInstanceName(buffer.data(), capacity, in);
  EXPECT_FALSE(buffer.WrittenPastCapacity());
  r.untouched = buffer.Untouched();
  r.name = buffer.Text();
  return r;
}

std::string Address(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

std::string Tagged(const std::string& message) { return kelmar::testbed::Tagged("GetVorlanInstanceName", message); }

TEST(InstanceSource, ChosenByTheShapeOfTheOptions) {
  char bytes[400] = "XjInstanceName=x";
  struct Case {
    unsigned short size;
    void* options;
    InstanceSource expected;
  };
  const Case cases[] = {
      {344, bytes, InstanceSource::Record},       {344, nullptr, InstanceSource::Environment},
      {0, bytes, InstanceSource::Environment},    {0, nullptr, InstanceSource::Environment},
      {17, nullptr, InstanceSource::Environment}, {1, bytes, InstanceSource::OptionsText},
      {343, bytes, InstanceSource::OptionsText},  {345, bytes, InstanceSource::OptionsText},
      {65535, bytes, InstanceSource::OptionsText},
  };
  for (const Case& c : cases) {
    Init_input in{};
    in.size_options = c.size;
    in.options = c.options;
    EXPECT_EQ(ChooseInstanceSource(&in), c.expected) << c.size << (c.options ? " with options" : " without");
  }
  EXPECT_EQ(ChooseInstanceSource(nullptr), InstanceSource::Environment);
}

TEST(InstanceName, OptionsTextsEndingAtAnInaccessiblePage) {
  struct Case {
    std::string text;  // all of it is size_options; no terminator follows
    int result;
    std::string name;
  };
  const Case cases[] = {
      {"XjInstanceName=Instance002,OtherKey=1", 1, "Instance002"},
      {"OtherKey=1,XjInstanceName=Instance002", 1, "Instance002"},
      {"OtherKey=1,XjInstanceName=", 1, ""},
      {"XjInstanceName=,OtherKey=1", 1, ""},
      {"XjInstanceName= Instance002", 1, " Instance002"},
      {"MyXjInstanceName=abc,XjInstanceName=def", 1, "abc"},
      {"OtherKey=1", 0, ""},
      {"XjInstanceName=\"q u\"", 1, "\"q u\""},
      {"OtherKey=XjInstanceNam", 0, ""},
      {"xjinstancename=abc", 0, ""},
      {std::string("A\0XjInstanceName=hidden", 24), 0, ""},  // the text ends at its terminator
      {std::string("XjInstanceName=ab\0,cd", 21), 1, "ab"},
      {"XjInstanceName=" + std::string(1100, 'n'), 1, std::string(1023, 'n')},
  };
  RunIsolated([&] {
    setenv("VORLAN_INST", "FromEnvironment", 1);  // never consulted for a text
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text);
      const GuardedBytes bytes(c.text);
      const Init_input in = bytes.Input(static_cast<unsigned short>(c.text.size()));
      const Resolved r = Resolve(&in);
      EXPECT_EQ(r.result, c.result);
      if (c.result == 1) {
        EXPECT_EQ(r.name, c.name);
      } else {
        EXPECT_TRUE(r.untouched);
      }
    }
  });
}

TEST(InstanceName, SizeOptionsShorterThanTheBytesBoundsTheSearch) {
  RunIsolated([] {
    const std::string text = "Key=1,XjInstanceName=abc,more";
    const GuardedBytes bytes(text);
    struct Case {
      unsigned short size;
      int result;
      std::string name;
    };
    const Case cases[] = {{24, 1, "abc"}, {23, 1, "ab"}, {21, 1, ""}, {20, 0, ""}, {1, 0, ""}};
    for (const Case& c : cases) {
      const Init_input in = bytes.Input(c.size);
      const Resolved r = Resolve(&in);
      EXPECT_EQ(r.result, c.result) << c.size;
      if (c.result == 1) {
        EXPECT_EQ(r.name, c.name) << c.size;
      } else {
        EXPECT_TRUE(r.untouched) << c.size;
      }
    }
  });
}

TEST(InstanceName, OptionsTextLinesFoundWithAndWithoutCommaAndNotFound) {
  RunIsolated([] {
    EnableTrace();
    const GuardedBytes with_comma("A=1,XjInstanceName=Inst7,B=2");
    const Init_input in = with_comma.Input(28);
    EXPECT_EQ(Resolve(&in).name, "Inst7");
    const char* key = with_comma.data() + 4;
    EXPECT_EQ(TraceLines(), (Lines{
                                Tagged("-----------Entered--------"),
                                Tagged("CommandLine case with VENDOROPT set."),
                                Tagged("Looking for the string \"XjInstanceName=\""),
                                Tagged("Found \"XjInstanceName=\""),
                                Tagged("inPtr: " + Address(key) + ", XjInstanceName=Inst7,B=2"),
                                "",
                                Tagged("inPtrBeg: " + Address(key + 15) + ", Inst7,B=2"),
                                "",
                                Tagged("inPtrEnd is " + Address(key + 20)),
                                "",
                                Tagged("InstanceName is Inst7"),
                                Tagged("-----------Leaving--------"),
                            }));

    ClearTrace();
    const GuardedBytes without_comma("XjInstanceName=Inst8");
    const Init_input rest = without_comma.Input(20);
    EXPECT_EQ(Resolve(&rest).name, "Inst8");
    const Lines lines = TraceLines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[4], Tagged("inPtr: " + Address(without_comma.data()) + ", XjInstanceName=Inst8"));
    EXPECT_EQ(lines[8], Tagged("inPtrEnd is null, copying rest of the string."));
    EXPECT_EQ(lines[10], Tagged("InstanceName is Inst8"));

    ClearTrace();
    const GuardedBytes no_key("OtherKey=1");
    const Init_input missing = no_key.Input(10);
    EXPECT_EQ(Resolve(&missing).result, 0);
    EXPECT_EQ(TraceLines(), (Lines{
                                Tagged("-----------Entered--------"),
                                Tagged("CommandLine case with VENDOROPT set."),
                                Tagged("Looking for the string \"XjInstanceName=\""),
                                Tagged("Could not find \"XjInstanceName=\", returning."),
                                Tagged("-----------Leaving--------"),
                            }));
  });
}

// The user interface's record with each field's text at its offset.
struct RecordText {
  std::string instance_name, version, build, vendor_id, vm_name, jm_token, server_id, db_instance_name;
};

std::string MakeRecord(const RecordText& t) {
  std::string record(344, '\0');
  record.replace(0, 44, 44, 'Z');  // the unread head
  const std::pair<std::size_t, const std::string*> fields[] = {
      {44, &t.instance_name}, {53, &t.version},    {62, &t.build},      {71, &t.vendor_id},
      {95, &t.vm_name},       {113, &t.jm_token}, {177, &t.server_id}, {305, &t.db_instance_name},
  };
  for (const auto& [offset, text] : fields) record.replace(offset, text->size(), *text);
  return record;
}

Lines RecordLines(const RecordText& t) {
  return {
      Tagged("-----------Entered--------"),
      Tagged("GUI case: size_options == sizeof Db2VendorOptions_t, casting."),
      Tagged("instance Name is " + t.instance_name),
      Tagged("version is " + t.version),
      Tagged("build is " + t.build),
      Tagged("vendorId is " + t.vendor_id),
      Tagged("vmName is " + t.vm_name),
      Tagged("jmToken is " + t.jm_token),
      Tagged("serverId is " + t.server_id),
      Tagged("dbInstanceName is " + t.db_instance_name),
      Tagged("-----------Leaving--------"),
  };
}

TEST(InstanceName, RecordFieldsLoggedAndVmNameCopied) {
  const RecordText terminated{"Inst1", "7.1", "b42", "Vorlan", "Instance004", "tok", "srv", "db2inst1"};
  // Every field fills its room with no terminator: each is read to its room's end.
  const RecordText unterminated{std::string(9, 'i'),   std::string(9, 'v'),   std::string(9, 'b'),
                                std::string(24, 'd'),  std::string(18, 'm'),  std::string(64, 'j'),
                                std::string(128, 's'), std::string(39, 'n')};
  const RecordText empty_vm{"Inst1", "7.1", "b42", "Vorlan", "", "tok", "srv", "db2inst1"};
  struct Case {
    const char* name;
    RecordText fields;
    std::string expected_name;
  };
  const Case cases[] = {
      {"terminated", terminated, "Instance004"},
      {"unterminated", unterminated, std::string(18, 'm')},
      {"empty vmName", empty_vm, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunIsolated([&] {
      EnableTrace();
      const GuardedBytes record(MakeRecord(c.fields));
      const Init_input in = record.Input(344);
      const Resolved r = Resolve(&in);
      EXPECT_EQ(r.result, 1);
      EXPECT_EQ(r.name, c.expected_name);
      EXPECT_EQ(TraceLines(), RecordLines(c.fields));
    });
  }
}

TEST(InstanceName, TextOf344BytesIsTakenAsTheRecord) {
  RunIsolated([] {
    std::string text = "XjInstanceName=FromText," + std::string(320, 'x');
    text.replace(95, 7, std::string("FromVm\0", 7));
    const GuardedBytes bytes(text);
    const Init_input in = bytes.Input(344);
    const Resolved r = Resolve(&in);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.name, "FromVm");
  });
}

TEST(InstanceName, EnvironmentCaseForEveryShapeWithoutOptions) {
  const GuardedBytes text("XjInstanceName=FromText");
  const Init_input no_size = text.Input(0);
  Init_input record_size_no_options{};
  record_size_no_options.size_options = 344;
  Init_input text_size_no_options{};
  text_size_no_options.size_options = 23;
  const Init_input* inputs[] = {nullptr, &no_size, &record_size_no_options, &text_size_no_options};

  struct Case {
    const char* value;  // null: unset
    int result;
  };
  const Case cases[] = {{nullptr, 0}, {"", 1}, {"Instance009", 1}, {"blank name", 1}};
  for (const Init_input* in : inputs) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.value ? c.value : "(unset)");
      RunIsolated([&] {
        EnableTrace();
        if (c.value != nullptr) setenv("VORLAN_INST", c.value, 1);
        const Resolved r = Resolve(in);
        EXPECT_EQ(r.result, c.result);
        Lines expected{Tagged("-----------Entered--------"), Tagged("Possibly CommandLine case, VENDOROPT not set.")};
        if (c.value != nullptr) {
          EXPECT_EQ(r.name, c.value);
          expected.push_back(Tagged(std::string("VORLAN_INST is set to ") + c.value));
        } else {
          EXPECT_TRUE(r.untouched);
        }
        expected.push_back(Tagged("-----------Leaving--------"));
        EXPECT_EQ(TraceLines(), expected);
      });
    }
  }
}

TEST(InstanceName, NameCutToTheCapacity) {
  RunIsolated([] {
    setenv("VORLAN_INST", "Instance001", 1);
    struct Case {
      std::size_t capacity;
      int result;
      std::string name;
    };
    const Case cases[] = {{12, 1, "Instance001"}, {11, 1, "Instance00"}, {2, 1, "I"}, {1, 1, ""}, {0, 0, ""}};
    for (const Case& c : cases) {
      const Resolved r = Resolve(nullptr, c.capacity);
      EXPECT_EQ(r.result, c.result) << c.capacity;
      EXPECT_EQ(r.name, c.name) << c.capacity;
    }
    const Resolved none = Resolve(nullptr, 0);
    EXPECT_TRUE(none.untouched);
  });
}

}  // namespace
