// The records DB2 hands a vendor library for one session, laid out and filled
// the way DB2 fills them. They stay where they are for the whole session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/vendor_options.h"
#include "kelmar/db2_vendor.h"

namespace kelmar::host {

// What one session is about, in DB2's terms.
struct SessionIdentity {
  char action = 'W';
  std::string database;
  std::string instance;
  int node = 0;
  std::string timestamp;  // images; a prefix selects in queries and deletes
  int sequence = 0;       // images: 1 for the first session of a backup
  std::string log_name;   // logs
  unsigned num_sessions = 1;
  std::uint64_t size_estimate = 0;
  std::size_t buffer_size = 0;
};

class SessionRecords {
 public:
  SessionRecords(const SessionIdentity& identity, const tools::VendorOptions& options);
  SessionRecords(const SessionRecords&) = delete;
  SessionRecords& operator=(const SessionRecords&) = delete;

  Init_input* input() { return &input_; }
  Init_output* output() { return &output_; }
  int sequence() const { return sequence_number_; }
  // The handle the vendor library gave back from sqluvint.
  void* vendor_cb() const { return output_.pVendorCB; }

  // Cleared before each call, so that what a call leaves is its own.
  Return_code* FreshReturnCode();
  const Return_code& return_code() const { return return_code_; }

 private:
  std::string db2_id_ = "DB2";
  std::string version_ = "11";
  std::string release_ = "5";
  std::string level_ = "0";
  std::string action_;
  std::string filename_;
  std::string server_id_;
  std::string db2instance_;
  std::string type_ = "0";  // a full database backup
  std::string dbname_;
  std::string alias_;
  std::string timestamp_;
  std::string sequence_;
  std::string nodename_;
  std::string owner_;
  std::string prompt_level_ = "0";
  std::vector<char> options_;
  int sequence_number_ = 0;

  DB2_info info_{};
  Init_input input_{};
  Init_output output_{};
  Return_code return_code_{};
};

}  // namespace kelmar::host
