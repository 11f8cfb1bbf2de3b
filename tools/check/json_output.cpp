#include <cstdio>

#include "check/report_output.h"
#include "check/utf8_text.h"

namespace kelmar::check {
namespace {

class JsonObject {
 public:
  explicit JsonObject(std::ostream& out) : out_(out) { out_ << '{'; }
  ~JsonObject() { out_ << '}'; }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  std::ostream& Key(std::string_view key) {
    out_ << (first_ ? "" : ",") << JsonString(key) << ':';
    first_ = false;
    return out_;
  }
  void String(std::string_view key, std::string_view value) { Key(key) << JsonString(value); }
  void Bool(std::string_view key, bool value) { Key(key) << (value ? "true" : "false"); }

 private:
  std::ostream& out_;
  bool first_ = true;
};

void PrintItems(std::ostream& out, const StepResult& result) {
  out << '[';
  for (std::size_t i = 0; i < result.items.size(); ++i) {
    const Item& item = result.items[i];
    if (i > 0) out << ',';
    JsonObject object(out);
    object.String("name", item.name);
    object.Bool("found", item.found);
    if (item.path) object.String("path", *item.path);
    if (!item.detail.empty()) object.String(item.found ? "found_by" : "reason", item.detail);
  }
  out << ']';
}

void PrintStep(std::ostream& out, const StepResult& result) {
  JsonObject object(out);
  object.String("step", InfoOf(result.step).id);
  object.String("status", OutcomeId(result.outcome));
  object.String("summary", result.summary);
  for (const Fact& fact : result.facts) object.String(fact.key, fact.value);
  if (result.step == Step::kNeededLibraries) PrintItems(object.Key("libraries"), result);
  if (result.step == Step::kEntryPoints) PrintItems(object.Key("entry_points"), result);
  if (result.step == Step::kPermissions) PrintFindingsJson(object.Key("findings"), result.findings);
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    const char c = text[0];
    if (length == 0) {
      json += "\\ufffd";
      text.remove_prefix(1);
      continue;
    }
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (IsControl(text, length)) {
      // A C1 character's code point is its second byte.
      const unsigned char code = static_cast<unsigned char>(text[length - 1]);
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
      json += escaped;
    } else {
      json.append(text.data(), length);
    }
    text.remove_prefix(length);
  }
  return json + "\"";
}

void PrintFindingsJson(std::ostream& out, const std::vector<WriterFinding>& findings) {
  out << '[';
  for (std::size_t i = 0; i < findings.size(); ++i) {
    if (i > 0) out << ',';
    JsonObject object(out);
    object.String("path", findings[i].path);
    object.String("reason", findings[i].reason);
    object.Bool("fails", findings[i].fails);
  }
  out << ']';
}

void PrintJson(std::ostream& out, const CheckReport& report) {
  {
    JsonObject object(out);
    const StepResult* failure = report.FirstFailure();
    object.Bool("ok", report.ExitStatus() == kExitOk);
    object.Key("exit_status") << report.ExitStatus();
    if (failure != nullptr) {
      object.String("failed_step", InfoOf(failure->step).id);
    } else if (report.LibraryFailure() != nullptr) {
      object.String("failed_step", kLibraryId);
    } else {
      object.Key("failed_step") << "null";
    }
    std::ostream& notes = object.Key("notes");
    notes << '[';
    for (std::size_t i = 0; i < report.notes.size(); ++i) notes << (i > 0 ? "," : "") << JsonString(report.notes[i]);
    notes << ']';
    PrintLibraryJson(object.Key("library"), report.library);
    PrintSwitchFilesJson(object.Key("switch_files"), report.switch_files);
    std::ostream& steps = object.Key("steps");
    steps << '[';
    for (std::size_t i = 0; i < report.steps.size(); ++i) {
      if (i > 0) steps << ',';
      PrintStep(steps, report.steps[i]);
    }
    steps << ']';
  }
  out << '\n';
}

}  // namespace kelmar::check
