#include "host/session_records.h"

#include <unistd.h>

#include <climits>
#include <cstdio>

#include "host/return_codes.h"

namespace kelmar::host {
namespace {

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

std::string SequenceText(int sequence) {
  if (sequence <= 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%03d", sequence);
  return text;
}

}  // namespace

SessionRecords::SessionRecords(const SessionIdentity& identity, const tools::VendorOptions& options)
    : action_(1, identity.action),
      filename_(identity.log_name),
      db2instance_(identity.instance),
      dbname_(identity.database),
      alias_(identity.database),
      timestamp_(identity.timestamp),
      sequence_(SequenceText(identity.sequence)),
      nodename_(HostName()),
      owner_(identity.instance),
      options_(options.bytes),
      sequence_number_(identity.sequence) {
  info_.DB2_id = db2_id_.data();
  info_.version = version_.data();
  info_.release = release_.data();
  info_.level = level_.data();
  info_.action = action_.data();
  info_.filename = filename_.data();
  info_.server_id = server_id_.data();
  info_.db2instance = db2instance_.data();
  info_.type = type_.data();
  info_.dbname = dbname_.data();
  info_.alias = alias_.data();
  info_.timestamp = timestamp_.data();
  info_.sequence = sequence_.data();
  info_.max_bytes_per_txn = static_cast<sqlint32>(identity.buffer_size);
  info_.nodename = nodename_.data();
  info_.owner = owner_.data();
  info_.nodeNum = static_cast<SQL_PDB_NODE_TYPE>(identity.node);

  input_.DB2_session = &info_;
  input_.size_options = static_cast<unsigned short>(options.present ? options.size : 0);
  input_.size_HI_order = static_cast<sqluint32>(identity.size_estimate >> 32);
  input_.size_LOW_order = static_cast<sqluint32>(identity.size_estimate & 0xffffffffu);
  input_.options = options.present ? options_.data() : nullptr;
  input_.prompt_lvl = prompt_level_.data();
  input_.num_sessions = static_cast<unsigned short>(identity.num_sessions);
}

Return_code* SessionRecords::FreshReturnCode() {
  return_code_ = Return_code{};
  return_code_.return_code = kReturnCodeNotSet;
  return &return_code_;
}

}  // namespace kelmar::host
