// DB2's vendor storage interface as DB2 lays it out for 64-bit Linux programs.
// Written from DB2's published record layouts; the library touches only a few
// members, which are pinned by the static_asserts at the end.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int sqlint32;
typedef unsigned int sqluint32;
typedef short SQL_PDB_NODE_TYPE;

struct sqlu_gen_list;  // DB2's object list; never looked into here

struct DB2_info {
  char* DB2_id;
  char* version;
  char* release;
  char* level;
  char* action;  // one-character text naming the caller action
  char* filename;
  char* server_id;
  char* db2instance;
  char* type;
  char* dbname;
  char* alias;
  char* timestamp;
  char* sequence;
  sqlu_gen_list* obj_list;
  sqlint32 max_bytes_per_txn;
  char* image_filename;
  void* reserve;
  char* nodename;
  char* password;
  char* owner;
  char* mcNameP;
  SQL_PDB_NODE_TYPE nodeNum;
};

struct Vendor_info {
  char* vendor_id;
  char* version;
  char* release;
  char* level;
  char* server_id;
  sqlint32 max_bytes_per_txn;
  sqlint32 num_objects_in_backup;
  void* reserve;
};

struct Init_input {
  DB2_info* DB2_session;
  unsigned short size_options;
  sqluint32 size_HI_order;
  sqluint32 size_LOW_order;
  void* options;
  void* reserve;
  char* prompt_lvl;
  unsigned short num_sessions;
};

struct Init_output {
  Vendor_info* vendor_session;
  void* pVendorCB;  // DB2 hands this back as vendorCB on every later call
  void* reserve;
};

inline constexpr int SQLUV_COMMENT_LEN = 30;

struct Return_code {
  sqlint32 return_code;
  char description[SQLUV_COMMENT_LEN];
  void* reserve;
};

struct Data {
  sqlint32 obj_num;
  sqlint32 buff_size;
  sqlint32 actual_buff_size;
  void* dataptr;
  void* reserve;
};

struct db2VendorQueryInfo {
  std::uint64_t sizeEstimate;
  sqluint32 type;
  SQL_PDB_NODE_TYPE dbPartitionNum;
  unsigned short sequenceNum;
  char db2Instance[9];
  char dbname[9];
  char dbalias[9];
  char timestamp[15];
  char filename[1025];
  char owner[129];
  char mgmtClass[257];
  char oldestLogfile[13];
};

// DB2's published return codes.
inline constexpr sqlint32 SQLUV_OK = 0;
inline constexpr sqlint32 SQLUV_LINK_EXIST = 1;
inline constexpr sqlint32 SQLUV_COMM_ERROR = 2;
inline constexpr sqlint32 SQLUV_INV_VERSION = 3;
inline constexpr sqlint32 SQLUV_INV_ACTION = 4;
inline constexpr sqlint32 SQLUV_NO_DEV_AVAIL = 5;
inline constexpr sqlint32 SQLUV_OBJ_NOT_FOUND = 6;
inline constexpr sqlint32 SQLUV_OBJS_FOUND = 7;
inline constexpr sqlint32 SQLUV_INV_USERID = 8;
inline constexpr sqlint32 SQLUV_INV_PASSWORD = 9;
inline constexpr sqlint32 SQLUV_INV_OPTIONS = 10;
inline constexpr sqlint32 SQLUV_INIT_FAILED = 11;
inline constexpr sqlint32 SQLUV_INV_DEV_HANDLE = 12;
inline constexpr sqlint32 SQLUV_BUFF_SIZE = 13;
inline constexpr sqlint32 SQLUV_END_OF_DATA = 14;
inline constexpr sqlint32 SQLUV_END_OF_TAPE = 15;
inline constexpr sqlint32 SQLUV_DATA_RESEND = 16;
inline constexpr sqlint32 SQLUV_COMMIT_FAILED = 17;
inline constexpr sqlint32 SQLUV_DEV_ERROR = 18;
inline constexpr sqlint32 SQLUV_WARNING = 19;
inline constexpr sqlint32 SQLUV_LINK_NOT_EXIST = 20;
inline constexpr sqlint32 SQLUV_MORE_DATA = 21;
inline constexpr sqlint32 SQLUV_ENDOFMEDIA_NO_DATA = 22;
inline constexpr sqlint32 SQLUV_ENDOFMEDIA = 23;
inline constexpr sqlint32 SQLUV_MAX_LINK_GRANT = 24;
inline constexpr sqlint32 SQLUV_IO_ERROR = 25;
inline constexpr sqlint32 SQLUV_DELETE_FAILED = 26;
inline constexpr sqlint32 SQLUV_INV_BKUP_FNAME = 27;
inline constexpr sqlint32 SQLUV_NOT_ENOUGH_SPACE = 28;
inline constexpr sqlint32 SQLUV_ABORT_FAILED = 29;
inline constexpr sqlint32 SQLUV_UNEXPECTED_ERROR = 30;
inline constexpr sqlint32 SQLUV_NO_DATA = 31;
inline constexpr sqlint32 SQLUV_OBJ_OUT_OF_SCOPE = 32;

// sqluvend actions.
inline constexpr sqlint32 SQLUV_COMMIT = 0;
inline constexpr sqlint32 SQLUV_ABORT = 1;

// The interface version the library declares (version 8.2 of the vendor interface).
inline constexpr sqluint32 kVendorApiVersion = 8020000;

// The exported vendor interface.
sqlint32 sqluvint(Init_input* in, Init_output* out, Return_code* return_code);
sqlint32 sqluvget(void* vendorCB, Data* data, Return_code* return_code);
sqlint32 sqluvput(void* vendorCB, Data* data, Return_code* return_code);
sqlint32 sqluvend(sqlint32 action, void* vendorCB, Init_output* out, Return_code* return_code);
sqlint32 sqluvdel(Init_input* in, Init_output* vendorDevData, Return_code* return_code);
sqlint32 db2VendorGetNextObj(void* vendorCB, db2VendorQueryInfo* queryInfo, Return_code* return_code);
void db2VendorQueryApiVersion(sqluint32* supportedVersion);

}  // extern "C"

// The members the library reads or writes must sit where DB2 puts them.
static_assert(offsetof(Init_input, DB2_session) == 0);
static_assert(offsetof(Init_input, size_options) == 8);
static_assert(offsetof(Init_input, options) == 24);
static_assert(sizeof(Init_input) == 56);
static_assert(offsetof(DB2_info, action) == 32);
static_assert(offsetof(DB2_info, nodeNum) == 168);
static_assert(sizeof(DB2_info) == 176);
static_assert(sizeof(Vendor_info) == 56);
static_assert(sizeof(Init_output) == 24);
static_assert(offsetof(Return_code, return_code) == 0);
static_assert(offsetof(Return_code, reserve) == 40);
static_assert(sizeof(Return_code) == 48);
static_assert(offsetof(Data, dataptr) == 16);
static_assert(sizeof(Data) == 32);
static_assert(offsetof(db2VendorQueryInfo, filename) == 58);
static_assert(offsetof(db2VendorQueryInfo, oldestLogfile) == 1469);
static_assert(sizeof(db2VendorQueryInfo) == 1488);
