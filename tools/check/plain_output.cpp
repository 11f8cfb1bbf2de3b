#include <iomanip>

#include "check/report_output.h"

namespace kelmar::check {
namespace {

constexpr int kTitleWidth = 18;
constexpr int kOutcomeWidth = 9;
constexpr int kItemNameWidth = 24;
const std::string kIndent(kTitleWidth + kOutcomeWidth, ' ');

// A failure stands out among the passed and the skipped steps.
const char* PlainOutcome(Outcome outcome) {
  return outcome == Outcome::kFailed ? "FAILED" : outcome == Outcome::kOk ? "ok" : "-";
}

void PrintItem(std::ostream& out, Step step, const Item& item) {
  out << kIndent << std::left << std::setw(kItemNameWidth) << item.name << ' ';
  if (step == Step::kEntryPoints) {
    out << (item.found ? "found" : "MISSING") << '\n';
  } else if (item.found) {
    out << *item.path << " (" << item.detail << ")\n";
  } else {
    out << "NOT FOUND: " << item.detail << '\n';
  }
}

}  // namespace

void PrintPlain(std::ostream& out, const CheckReport& report) {
  for (const StepResult& result : report.steps) {
    out << std::left << std::setw(kTitleWidth) << InfoOf(result.step).title << std::setw(kOutcomeWidth)
        << PlainOutcome(result.outcome) << result.summary << '\n';
    for (const Fact& fact : result.facts) {
      if (fact.shown_in_plain) out << kIndent << fact.key << ": " << fact.value << '\n';
    }
    for (const Item& item : result.items) PrintItem(out, result.step, item);
  }
  PrintSwitchFilesPlain(out, report.switch_files);
  for (const std::string& note : report.notes) out << "note: " << note << '\n';
  const StepResult* failure = report.FirstFailure();
  if (failure == nullptr) {
    out << "result: ok, DB2 would get a working backend (exit status 0)\n";
  } else {
    out << "result: FAILED at " << InfoOf(failure->step).id << " (exit status " << report.ExitStatus()
        << "): " << failure->summary << '\n';
  }
}

}  // namespace kelmar::check
