#include "check/check_report.h"

#include <algorithm>

namespace kelmar::check {

const StepInfo& InfoOf(Step step) {
  return *std::find_if(kSteps.begin(), kSteps.end(), [step](const StepInfo& info) { return info.step == step; });
}

const char* OutcomeId(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk: return "ok";
    case Outcome::kFailed: return "failed";
    case Outcome::kSkipped: return "skipped";
  }
  return "skipped";
}

const StepResult* CheckReport::FirstFailure() const {
  const auto failed = std::find_if(steps.begin(), steps.end(),
                                   [](const StepResult& result) { return result.outcome == Outcome::kFailed; });
  return failed != steps.end() ? &*failed : nullptr;
}

const WriterFinding* CheckReport::LibraryFailure() const {
  return FirstFailure() == nullptr ? FirstFailing(library.findings) : nullptr;
}

int CheckReport::ExitStatus() const {
  if (const StepResult* failure = FirstFailure()) return InfoOf(failure->step).exit_status;
  return LibraryFailure() != nullptr ? kExitLibrary : kExitOk;
}

}  // namespace kelmar::check
