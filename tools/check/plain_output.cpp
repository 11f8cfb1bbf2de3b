#include <cstdio>
#include <iomanip>

#include "check/report_output.h"
#include "check/utf8_text.h"

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
  out << kIndent << std::left << std::setw(kItemNameWidth) << PlainString(item.name) << ' ';
  if (step == Step::kEntryPoints) {
    out << (item.found ? "found" : "MISSING") << '\n';
  } else if (item.found) {
    out << PlainString(*item.path) << " (" << PlainString(item.detail) << ")\n";
  } else {
    out << "NOT FOUND: " << PlainString(item.detail) << '\n';
  }
}

// The escape of one byte or character that the terminal must not get as it is.
std::string Escaped(std::string_view character) {
  switch (character[0]) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
  }
  std::string escaped;
  for (const char byte : character) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(byte));
    escaped += hex;
  }
  return escaped;
}

}  // namespace

std::string PlainString(std::string_view text) {
  std::string plain;
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    const std::string_view character = text.substr(0, length == 0 ? 1 : length);
    if (length == 0 || character == "\\" || IsControl(text, length)) {
      plain += Escaped(character);
    } else {
      plain += character;
    }
    text.remove_prefix(character.size());
  }
  return plain;
}

void PrintFindingsPlain(std::ostream& out, const std::vector<WriterFinding>& findings, const std::string& indent,
                        std::string_view shown) {
  for (const WriterFinding& finding : findings) {
    const std::string text = finding.Text();
    if (text != shown) out << indent << (finding.fails ? "FAILED: " : "warning: ") << PlainString(text) << '\n';
  }
}

void PrintPlain(std::ostream& out, const CheckReport& report) {
  for (const StepResult& result : report.steps) {
    out << std::left << std::setw(kTitleWidth) << InfoOf(result.step).title << std::setw(kOutcomeWidth)
        << PlainOutcome(result.outcome) << PlainString(result.summary) << '\n';
    for (const Fact& fact : result.facts) {
      if (fact.shown_in_plain) out << kIndent << PlainString(fact.key) << ": " << PlainString(fact.value) << '\n';
    }
    for (const Item& item : result.items) PrintItem(out, result.step, item);
    PrintFindingsPlain(out, result.findings, kIndent, result.summary);
  }
  PrintLibraryPlain(out, report.library);
  PrintSwitchFilesPlain(out, report.switch_files);
  for (const std::string& note : report.notes) out << "note: " << PlainString(note) << '\n';
  const StepResult* failure = report.FirstFailure();
  const WriterFinding* library_failure = report.LibraryFailure();
  if (failure != nullptr) {
    out << "result: FAILED at " << InfoOf(failure->step).id << " (exit status " << report.ExitStatus()
        << "): " << PlainString(failure->summary) << '\n';
  } else if (library_failure != nullptr) {
    out << "result: FAILED at " << kLibraryId << " (exit status " << report.ExitStatus()
        << "): " << PlainString(library_failure->Text()) << '\n';
  } else {
    out << "result: ok, DB2 would get a working backend (exit status 0)\n";
  }
}

}  // namespace kelmar::check
