// kelmar-check's parts on their own: the ELF reader, the search path
// entries, the JSON text, and the check run inside this process.
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "backends/test_backend_paths.h"
#include "check/check_steps.h"
#include "check/elf_dynamic.h"
#include "check/needed_libraries.h"
#include "check/report_output.h"
#include "check/working_directory.h"
#include "check_test_support.h"
#include "testbed/isolation.h"

namespace {

using namespace kelmar::check;
using namespace kelmar::check_test;
namespace tb = kelmar::test_backend;

TEST(ElfDynamic, ReadsWhatTheDynamicLoaderReads) {
  struct Case {
    std::string object;
    std::string needed;  // one of its DT_NEEDED entries
    std::optional<std::string> rpath;
    std::optional<std::string> runpath;
  };
  const std::string beside = std::filesystem::path(tb::kBesideLibrary).filename();
  const Case cases[] = {
      {kSampleBackend, "libc.so.6", std::nullopt, std::nullopt},
      {tb::kNeedsBeside, beside, std::nullopt, std::nullopt},
      {tb::kNeedsBesideWithOrigin, beside, std::nullopt, "$ORIGIN"},
      {kRpathBackend, beside, "$ORIGIN", std::nullopt},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::optional<ElfDynamic> dynamic = ReadElfDynamic(c.object, error);
    ASSERT_TRUE(dynamic) << c.object << ": " << error;
    EXPECT_NE(std::find(dynamic->needed.begin(), dynamic->needed.end(), c.needed), dynamic->needed.end()) << c.object;
    EXPECT_EQ(dynamic->rpath, c.rpath) << c.object;
    EXPECT_EQ(dynamic->runpath, c.runpath) << c.object;
  }
}

// Copies of the sample backend with one byte of the ELF header changed.
std::string PatchedSample(std::size_t offset, unsigned char value) {
  std::string bytes = Bytes(kSampleBackend);
  bytes[offset] = static_cast<char>(value);
  return bytes;
}

TEST(ElfDynamic, RefusesWhatIsNoObjectForThisPlatform) {
  kelmar::testbed::RunIsolated([] {
    struct Case {
      std::string content;
      std::string error;
    };
    const Case cases[] = {
        {"", "not an ELF object"},
        {"#!/bin/sh\necho not a library\n", "not an ELF object"},
        {PatchedSample(EI_CLASS, ELFCLASS32), "an ELF object for another platform (not 64-bit x86-64)"},
        {PatchedSample(offsetof(Elf64_Ehdr, e_machine), EM_386),
         "an ELF object for another platform (not 64-bit x86-64)"},
    };
    for (const Case& c : cases) {
      kelmar::testbed::WriteFile("/tmp/object", c.content);
      std::string error;
      EXPECT_FALSE(ReadElfDynamic("/tmp/object", error));
      EXPECT_EQ(error, c.error);
    }
    std::string error;
    EXPECT_FALSE(ReadElfDynamic("/tmp/absent", error));
    EXPECT_EQ(error, "cannot open it: No such file or directory");
  });
}

// What the dynamic loader makes of a file of the name it looks for; the
// reasons are its own words, which dlerror shows when it gives up.
TEST(ElfDynamic, JudgesCandidatesAsTheDynamicLoaderDoes) {
  kelmar::testbed::RunIsolated([] {
    using Verdict = Candidate::Verdict;
    struct Case {
      std::string name;
      std::string content;
      Verdict verdict;
      std::string reason;
    };
    const Case cases[] = {
        {"library", Bytes(kSampleBackend), Verdict::kTaken, ""},
        {"32-bit", PatchedSample(EI_CLASS, ELFCLASS32), Verdict::kOtherPlatform, ""},
        {"other machine", PatchedSample(offsetof(Elf64_Ehdr, e_machine), EM_AARCH64), Verdict::kOtherPlatform, ""},
        {"empty", "", Verdict::kRefused, "file too short"},
        {"text", std::string(100, 't'), Verdict::kRefused, "invalid ELF header"},
        {"big-endian", PatchedSample(EI_DATA, ELFDATA2MSB), Verdict::kRefused,
         "ELF file data encoding not little-endian"},
        {"relocatable", PatchedSample(offsetof(Elf64_Ehdr, e_type), ET_REL), Verdict::kRefused,
         "only ET_DYN and ET_EXEC can be loaded"},
    };
    for (const Case& c : cases) {
      kelmar::testbed::WriteFile("/tmp/candidate", c.content);
      const Candidate candidate = ExamineCandidate("/tmp/candidate");
      EXPECT_EQ(candidate.verdict, c.verdict) << c.name;
      if (c.verdict == Verdict::kRefused) {
        EXPECT_EQ(candidate.reason, c.reason) << c.name;
      }
    }
    EXPECT_EQ(ExamineCandidate("/tmp/absent").verdict, Verdict::kAbsent);
  });
}

// A damaged object yields an error or, when the cut spares what is read,
// the whole object's answer: never another answer, never a stray read.
TEST(ElfDynamic, CutObjectsGiveAnErrorOrTheWholeAnswer) {
  kelmar::testbed::RunIsolated([] {
    const std::string whole = Bytes(kSampleBackend);
    std::string error;
    const std::optional<ElfDynamic> expected = ReadElfDynamic(kSampleBackend, error);
    ASSERT_TRUE(expected);
    int errors = 0;
    // Every cut inside the ELF header, then cuts spread over the rest.
    for (std::size_t length = 0; length < whole.size(); length += length < 128 ? 1 : 257) {
      kelmar::testbed::WriteFile("/tmp/cut", whole.substr(0, length));
      const std::optional<ElfDynamic> dynamic = ReadElfDynamic("/tmp/cut", error);
      if (!dynamic) {
        ++errors;
        continue;
      }
      EXPECT_EQ(dynamic->needed, expected->needed) << length;
      EXPECT_EQ(dynamic->rpath, expected->rpath) << length;
    }
    EXPECT_GT(errors, 0);
  });
}

TEST(SearchPath, EntriesAsTheDynamicLoaderReadsThem) {
  EXPECT_EQ(SplitSearchPath(""), std::vector<std::string>{});
  EXPECT_EQ(SplitSearchPath("$ORIGIN:$ORIGIN/../Base64:."),
            (std::vector<std::string>{"$ORIGIN", "$ORIGIN/../Base64", "."}));
  EXPECT_EQ(SplitSearchPath("a::b:"), (std::vector<std::string>{"a", "", "b", ""}));

  struct Case {
    std::string entry;
    std::string expanded;
  };
  const Case cases[] = {
      {"$ORIGIN", "/opt/v/Base"},       {"${ORIGIN}/lib", "/opt/v/Base/lib"},
      {"$ORIGIN/../Base64", "/opt/v/Base/../Base64"}, {"", "."},
      {"/usr/lib", "/usr/lib"},         {"$LIB/x", "$LIB/x"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandSearchEntry(c.entry, "/opt/v/Base"), c.expanded) << c.entry;
}

TEST(JsonText, EscapesWhatJsonMustAndKeepsTheRest) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"/opt/vorlan/Base", "\"/opt/vorlan/Base\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {std::string("a\nb\tc\x01", 6), "\"a\\u000ab\\u0009c\\u0001\""},
      {"Zürich €", "\"Zürich €\""},
      {"\xff" "ab", "\"\\ufffdab\""},              // not UTF-8
      {"\xc3", "\"\\ufffd\""},                   // cut sequence
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},        // overlong
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json);
    EXPECT_TRUE(ParseJson(JsonString(c.text))) << c.json;
  }
}

// The check changes the working directory for the load only: whatever the
// load does, the directory is the one from before.
TEST(RunCheck, LeavesTheWorkingDirectoryAsItWas) {
  for (const std::string& backend : {kSampleBackend, std::string(tb::kUnresolved)}) {
    kelmar::testbed::RunIsolated([&] {
      InstallInstance001(Registry(), backend);
      kelmar::testbed::MakeDirs("/tmp/operator");
      ASSERT_EQ(chdir("/tmp/operator"), 0);
      kelmar::tools::VendorOptions options = kelmar::tools::NoOptions();
      const CheckReport report = RunCheck(options);
      EXPECT_EQ(CurrentDirectory(), "/tmp/operator") << backend;
      const StepResult& load = report.steps[static_cast<std::size_t>(Step::kLoad)];
      EXPECT_EQ(load.outcome, backend == kSampleBackend ? Outcome::kOk : Outcome::kFailed);
      const auto shown = std::find_if(load.facts.begin(), load.facts.end(),
                                      [](const Fact& fact) { return fact.key == "working_directory"; });
      ASSERT_NE(shown, load.facts.end());
      EXPECT_EQ(shown->value, kBase);
    });
  }
}

}  // namespace
