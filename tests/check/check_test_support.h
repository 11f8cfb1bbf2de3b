// For tests of kelmar-check: an installation under the private /tmp of an
// isolated case, and the command run over it with its report read back.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "json_value.h"
#include "testbed/program_run.h"
#include "testbed/registry_tree.h"

namespace kelmar::check_test {

inline const std::string kCheckProgram = KELMAR_CHECK_PROGRAM;
inline const std::string kSampleBackend = KELMAR_SAMPLE_BACKEND;
inline const std::string kTripwireBackend = KELMAR_CHECK_TRIPWIRE_BACKEND;
inline const std::string kRpathBackend = KELMAR_CHECK_RPATH_BACKEND;
inline const std::string kSystemBackend = KELMAR_CHECK_SYSTEM_BACKEND;

inline const std::string kRoot = "/tmp/reg";
inline const std::string kHome = "/tmp/vorlan";
inline const std::string kBase = kHome + "/Base";
inline const std::string kBackendPath = kBase + "/libXjKelmar.so";

// The backend's entry points, in the order the check lists them.
inline const std::array<std::string, 6> kEntryNames = {"sqluvintpp", "sqluvgetpp", "sqluvputpp",
                                                       "sqluvendpp", "sqluvdelpp", "db2VendorGetNextObjpp"};

// The registry /tmp/reg, exported as XJREG, with VORLAN_INST and VORLAN_VM unset.
testbed::RegistryTree Registry();

// `backend` installed as Instance001 with its home at /tmp/vorlan.
void InstallInstance001(const testbed::RegistryTree& tree, const std::string& backend);

// kelmar-check with `args`, in this process's environment.
testbed::ProgramRun RunCheck(const std::vector<std::string>& args);

// kelmar-check --json with `args`; its report, which must be valid JSON.
struct JsonRun {
  int status = -1;
  JsonValue report;
};
JsonRun RunCheckJson(std::vector<std::string> args);

// The step `id` of a JSON report.
const JsonValue& StepOf(const JsonValue& report, const std::string& id);

// The item `name` of a step's list ("libraries" or "entry_points").
const JsonValue& ItemOf(const JsonValue& step, const std::string& list, const std::string& name);

// The whole content of the file at `path`.
std::string Bytes(const std::string& path);

// Copies `from` to `to`, replacing what is there.
void CopyFile(const std::string& from, const std::string& to);

}  // namespace kelmar::check_test
