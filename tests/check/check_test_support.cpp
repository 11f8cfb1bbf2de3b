#include "check_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kelmar::check_test {

testbed::RegistryTree Registry() {
  testbed::RegistryTree tree(kRoot);
  tree.Export();
  unsetenv("VORLAN_INST");
  unsetenv("VORLAN_VM");
  return tree;
}

void InstallInstance001(const testbed::RegistryTree& tree, const std::string& backend) {
  tree.Install("Instance001", kHome, backend);
}

testbed::ProgramRun RunCheck(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {kCheckProgram};
  argv.insert(argv.end(), args.begin(), args.end());
  return testbed::RunProgram(argv);
}

JsonRun RunCheckJson(std::vector<std::string> args) {
  args.push_back("--json");
  const testbed::ProgramRun run = RunCheck(args);
  JsonRun json;
  json.status = run.status;
  std::optional<JsonValue> report = ParseJson(run.out);
  if (!report) {
    ADD_FAILURE() << "not one JSON value:\n" << run.out << run.err;
    return json;
  }
  json.report = std::move(*report);
  return json;
}

const JsonValue& StepOf(const JsonValue& report, const std::string& id) {
  const JsonValue& steps = report["steps"];
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i]["step"].str() == id) return steps[i];
  }
  ADD_FAILURE() << "no step " << id << " in the report";
  return steps[steps.size()];
}

const JsonValue& ItemOf(const JsonValue& step, const std::string& list, const std::string& name) {
  const JsonValue& items = step[list];
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i]["name"].str() == name) return items[i];
  }
  ADD_FAILURE() << "no " << name << " in " << list;
  return items[items.size()];
}

std::string Bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void CopyFile(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  ASSERT_FALSE(error) << from << " -> " << to << ": " << error.message();
}

}  // namespace kelmar::check_test
