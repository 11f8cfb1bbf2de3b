#include "host/return_codes.h"

#include <array>
#include <cstring>

namespace kelmar::host {
namespace {

constexpr std::array<const char*, 33> kNames = {
    "SQLUV_OK",           "SQLUV_LINK_EXIST",        "SQLUV_COMM_ERROR",       "SQLUV_INV_VERSION",
    "SQLUV_INV_ACTION",   "SQLUV_NO_DEV_AVAIL",      "SQLUV_OBJ_NOT_FOUND",    "SQLUV_OBJS_FOUND",
    "SQLUV_INV_USERID",   "SQLUV_INV_PASSWORD",      "SQLUV_INV_OPTIONS",      "SQLUV_INIT_FAILED",
    "SQLUV_INV_DEV_HANDLE", "SQLUV_BUFF_SIZE",       "SQLUV_END_OF_DATA",      "SQLUV_END_OF_TAPE",
    "SQLUV_DATA_RESEND",  "SQLUV_COMMIT_FAILED",     "SQLUV_DEV_ERROR",        "SQLUV_WARNING",
    "SQLUV_LINK_NOT_EXIST", "SQLUV_MORE_DATA",       "SQLUV_ENDOFMEDIA_NO_DATA", "SQLUV_ENDOFMEDIA",
    "SQLUV_MAX_LINK_GRANT", "SQLUV_IO_ERROR",        "SQLUV_DELETE_FAILED",    "SQLUV_INV_BKUP_FNAME",
    "SQLUV_NOT_ENOUGH_SPACE", "SQLUV_ABORT_FAILED",  "SQLUV_UNEXPECTED_ERROR", "SQLUV_NO_DATA",
    "SQLUV_OBJ_OUT_OF_SCOPE",
};
static_assert(kNames.size() == SQLUV_OBJ_OUT_OF_SCOPE + 1);

}  // namespace

const char* ReturnCodeName(sqlint32 code) {
  if (code < 0 || static_cast<std::size_t>(code) >= kNames.size()) return nullptr;
  return kNames[static_cast<std::size_t>(code)];
}

std::string DescribeCode(sqlint32 code) {
  const char* name = ReturnCodeName(code);
  return name == nullptr ? std::to_string(code) : std::string(name) + " (" + std::to_string(code) + ")";
}

std::string DescribeOutcome(sqlint32 result, const Return_code& return_code) {
  std::string text = DescribeCode(result);
  if (return_code.return_code == kReturnCodeNotSet) {
    text += ", return code not set";
  } else if (return_code.return_code != result) {
    text += ", return code " + DescribeCode(return_code.return_code);
  }
  const std::size_t length = strnlen(return_code.description, sizeof return_code.description);
  if (return_code.return_code != kReturnCodeNotSet && length > 0) {
    text += ": \"" + std::string(return_code.description, length) + "\"";
  }
  return text;
}

}  // namespace kelmar::host
