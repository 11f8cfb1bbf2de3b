// kelmar-check's report as operators read it and as scripts read it.
#pragma once

#include <sys/stat.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_report.h"

namespace kelmar::check {

// One line per step ("title  outcome  summary"), its facts and items
// indented below, and a closing line with the verdict and the exit status.
void PrintPlain(std::ostream& out, const CheckReport& report);

// One JSON object: "ok", "exit_status", "failed_step", "notes" and "steps",
// each step with "step", "status", "summary", its facts by key and, for
// needed libraries and entry points, a list of items.
void PrintJson(std::ostream& out, const CheckReport& report);

// One line per finding but the one that `shown` already says, "FAILED: ..."
// or "warning: ...", after `indent`.
void PrintFindingsPlain(std::ostream& out, const std::vector<WriterFinding>& findings, const std::string& indent,
                        std::string_view shown = {});

// A JSON array of objects with "path", "reason" and "fails".
void PrintFindingsJson(std::ostream& out, const std::vector<WriterFinding>& findings);

// `text` as a JSON string, quotes included. Bytes that are not UTF-8 become
// U+FFFD, so that the output stays valid JSON whatever a path holds.
std::string JsonString(std::string_view text);

// `text` as the plain output shows every field: a control character (C0,
// DEL or C1) and a byte that is not UTF-8 become \r, \n, \t or \xNN, and a
// backslash \\, so that no path can move the cursor, send the terminal an
// escape sequence or hide a character.
std::string PlainString(std::string_view text);

// What a file that is not a regular one is, as the report names it.
inline const char* FileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "directory";
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISSOCK(mode)) return "socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "device";
  return "special file";
}

}  // namespace kelmar::check
