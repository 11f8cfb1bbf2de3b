// The sample Vorlan backend: the six entry points that libkelmar.so resolves
// and forwards DB2's calls to. Each backup image sequence or log file becomes
// one file in the installation's store directory (object_store.h).
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kelmar/backend.h"
#include "object_store.h"
#include "stored_format.h"

#define XJ_EXPORT __attribute__((visibility("default")))

namespace xjkelmar {
namespace {

enum class Mode { kWrite, kRead, kQuery };

// Everything one DB2 session needs; DB2 hands it back as vendorCB. Sessions
// share nothing, so DB2 may run several at once on its threads.
struct Session {
  Mode mode = Mode::kRead;
  std::FILE* file = nullptr;  // unbuffered: DB2's buffers are large already
  std::string final_path;    // kWrite: where the object goes on commit
  std::string partial_path;  // kWrite: the object until then
  std::string path;          // kRead: the object read
  std::uint32_t parts = 1;         // kWrite: for its header
  std::uint32_t sequence = 0;      // kWrite: for its header
  std::uint64_t length = 0;        // kWrite: written so far; kRead: still to read
  std::uint64_t expected_sum = 0;  // kRead: the header's checksum
  Checksum checksum;               // of the data moved so far
  std::vector<StoredObject> found;  // kQuery
  std::size_t next_found = 0;

  char vendor_id[32] = "XjKelmar sample store";
  char version[4] = "1";
  char release[4] = "0";
  char level[4] = "0";
  char server_id[8] = "local";
  Vendor_info vendor{vendor_id, version, release, level, server_id, 0, 0, nullptr};

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    if (file != nullptr) std::fclose(file);
  }
};

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  // An empty view may hold no pointer at all, which memcpy must not get.
  if (n > 0) std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

sqlint32 Result(Return_code* rc, sqlint32 code, std::string_view description = {}) {
  if (rc != nullptr) {
    rc->return_code = code;
    CopyField(rc->description, description);
  }
  return code;
}

// An exception must never cross into DB2.
template <typename Body>
sqlint32 Guarded(Return_code* rc, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return Result(rc, SQLUV_UNEXPECTED_ERROR, "unexpected failure");
  }
}

sqlint32 IoFailure(Return_code* rc, const std::string& what, int error) {
  const std::string description = StoreError(what, error);
  if (error == ENOSPC) return Result(rc, SQLUV_NOT_ENOUGH_SPACE, "store is full");
  return Result(rc, SQLUV_IO_ERROR, description);
}

std::FILE* Unbuffered(std::FILE* file) {
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

sqlint32 StartWrite(Session& session, const Init_input& in, ObjectKind kind, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<ObjectKey> key = KeyOfSession(*in.DB2_session, kind, why_not);
  if (!key) return Result(rc, SQLUV_INIT_FAILED, why_not);
  // Every part names how many the image has, so a restore can tell that none is missing.
  session.parts = kind == ObjectKind::kImage ? in.num_sessions : 1;
  session.sequence = static_cast<std::uint32_t>(key->sequence);
  if (session.sequence > session.parts) return Result(rc, SQLUV_INIT_FAILED, "sequence beyond num_sessions");
  const std::string name = FileNameOf(*key);
  session.mode = Mode::kWrite;
  session.final_path = store + '/' + name;
  // Hidden and unique until commit: a listing never shows it, and another
  // process writing the same object cannot collide with it.
  std::string partial = store + "/." + name + ".XXXXXX";
  const int fd = mkostemp(partial.data(), O_CLOEXEC);
  if (fd < 0) return IoFailure(rc, "cannot create a file in " + store, errno);
  session.partial_path = std::move(partial);
  const ObjectHeader header = UnfinishedHeader();
  const ssize_t written = write(fd, &header, sizeof header);
  session.file = written == static_cast<ssize_t>(sizeof header) ? Unbuffered(fdopen(fd, "wb")) : nullptr;
  if (session.file == nullptr) {
    const int error = written < 0 || written == static_cast<ssize_t>(sizeof header) ? errno : ENOSPC;
    close(fd);
    unlink(session.partial_path.c_str());
    return IoFailure(rc, "cannot write " + session.partial_path, error);
  }
  return SQLUV_OK;
}

sqlint32 StartRead(Session& session, const DB2_info& info, ObjectKind kind, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<ObjectKey> key = KeyOfSession(info, kind, why_not);
  if (!key) return Result(rc, SQLUV_INIT_FAILED, why_not);
  session.mode = Mode::kRead;
  session.path = store + '/' + FileNameOf(*key);
  session.file = Unbuffered(std::fopen(session.path.c_str(), "rbe"));
  if (session.file == nullptr) {
    return errno == ENOENT ? Result(rc, SQLUV_OBJ_NOT_FOUND, "no such object")
                           : IoFailure(rc, "cannot open " + session.path, errno);
  }
  // Only a whole image is handed out: a part whose siblings are missing or
  // unfinished is not found, as there is no image to restore.
  if (kind == ObjectKind::kImage) {
    const std::string lacks = WhatImageLacks(store, *key);
    if (!lacks.empty()) return Result(rc, SQLUV_OBJ_NOT_FOUND, lacks);
  }
  ObjectHeader header{};
  if (!ReadHeader(fileno(session.file), header) || std::fseek(session.file, sizeof header, SEEK_SET) != 0) {
    return Result(rc, SQLUV_IO_ERROR, "object is damaged");
  }
  session.length = header.length;
  session.expected_sum = header.checksum;
  return SQLUV_OK;
}

sqlint32 StartQuery(Session& session, const DB2_info& info, bool images, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<Selection> selection = SelectionOfSession(info, images, !images, why_not);
  if (!selection) return Result(rc, SQLUV_INIT_FAILED, why_not);
  session.mode = Mode::kQuery;
  std::optional<std::vector<StoredObject>> found = ListObjects(store, *selection, true, why_not);
  if (!found) return Result(rc, SQLUV_IO_ERROR, why_not);
  session.found = std::move(*found);
  return SQLUV_OK;
}

sqlint32 OpenSession(Init_input* in, Init_output* out, Return_code* rc) {
  if (in == nullptr || in->DB2_session == nullptr || out == nullptr) {
    return Result(rc, SQLUV_INIT_FAILED, "missing session records");
  }
  const DB2_info& info = *in->DB2_session;
  const char action = info.action != nullptr ? info.action[0] : '\0';
  if (action == '\0' || std::strchr("WARTIL", action) == nullptr) {
    return Result(rc, SQLUV_INV_ACTION, "action not for sqluvint");
  }
  std::string why_not;
  const std::optional<std::string> store = StoreDirectory(why_not);
  if (!store) return Result(rc, SQLUV_INIT_FAILED, why_not);

  auto session = std::make_unique<Session>();
  sqlint32 code = SQLUV_OK;
  switch (action) {
    case 'W': code = StartWrite(*session, *in, ObjectKind::kImage, *store, rc); break;
    case 'A': code = StartWrite(*session, *in, ObjectKind::kLog, *store, rc); break;
    case 'R': code = StartRead(*session, info, ObjectKind::kImage, *store, rc); break;
    case 'T': code = StartRead(*session, info, ObjectKind::kLog, *store, rc); break;
    case 'I': code = StartQuery(*session, info, true, *store, rc); break;
    case 'L': code = StartQuery(*session, info, false, *store, rc); break;
  }
  if (code != SQLUV_OK) return code;
  out->vendor_session = &session->vendor;
  out->pVendorCB = session.release();
  return Result(rc, SQLUV_OK);
}

sqlint32 Put(Session* session, Data* data, Return_code* rc) {
  if (session == nullptr) return Result(rc, SQLUV_INV_DEV_HANDLE, "no session");
  if (session->mode != Mode::kWrite) return Result(rc, SQLUV_INV_ACTION, "session does not write");
  if (data == nullptr || data->buff_size < 0 || (data->buff_size > 0 && data->dataptr == nullptr)) {
    return Result(rc, SQLUV_BUFF_SIZE, "invalid buffer");
  }
  const auto size = static_cast<std::size_t>(data->buff_size);
  if (size > 0 && std::fwrite(data->dataptr, 1, size, session->file) != size) {
    return IoFailure(rc, "cannot write " + session->partial_path, errno);
  }
  session->checksum.Add(static_cast<const char*>(data->dataptr), size);
  session->length += size;
  data->actual_buff_size = data->buff_size;
  return Result(rc, SQLUV_OK);
}

sqlint32 Get(Session* session, Data* data, Return_code* rc) {
  if (session == nullptr) return Result(rc, SQLUV_INV_DEV_HANDLE, "no session");
  if (session->mode != Mode::kRead) return Result(rc, SQLUV_INV_ACTION, "session does not read");
  if (data == nullptr || data->buff_size <= 0 || data->dataptr == nullptr) {
    return Result(rc, SQLUV_BUFF_SIZE, "invalid buffer");
  }
  // The object's length is known from its header: a file that gives less
  // shrank, and the last bytes are handed out only when the checksum holds.
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(session->length, data->buff_size));
  const std::size_t got = std::fread(data->dataptr, 1, size, session->file);
  if (std::ferror(session->file)) return IoFailure(rc, "cannot read " + session->path, errno);
  if (got != size) return Result(rc, SQLUV_IO_ERROR, "object is truncated");
  session->checksum.Add(static_cast<const char*>(data->dataptr), got);
  session->length -= got;
  if (session->length == 0 && session->checksum.Value() != session->expected_sum) {
    data->actual_buff_size = 0;
    return Result(rc, SQLUV_IO_ERROR, "checksum mismatch");
  }
  data->actual_buff_size = static_cast<sqlint32>(got);
  if (got == static_cast<std::size_t>(data->buff_size)) return Result(rc, SQLUV_OK);
  return got > 0 ? Result(rc, SQLUV_ENDOFMEDIA) : Result(rc, SQLUV_ENDOFMEDIA_NO_DATA);
}

// Puts the finished object under its name unless one is there already:
// nothing a commit does may replace what another backup stored.
int PublishWithoutReplacing(const std::string& from, const std::string& to) {
  // The system call itself: glibc before 2.28 has no renameat2().
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: link fails as well when the name is taken.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

// Makes a written object visible under its name, durably; drops it on failure.
sqlint32 Commit(Session& session, Return_code* rc) {
  int error = 0;
  const ObjectHeader header =
      FinishedHeader(session.parts, session.sequence, session.length, session.checksum.Value());
  const ssize_t written = pwrite(fileno(session.file), &header, sizeof header, 0);
  if (written != static_cast<ssize_t>(sizeof header)) error = written < 0 ? errno : ENOSPC;
  if (error == 0 && fsync(fileno(session.file)) != 0) error = errno;
  if (std::fclose(session.file) != 0 && error == 0) error = errno;
  session.file = nullptr;
  if (error == 0) error = PublishWithoutReplacing(session.partial_path, session.final_path);
  if (error == 0) return Result(rc, SQLUV_OK);
  unlink(session.partial_path.c_str());
  if (error == EEXIST) return Result(rc, SQLUV_COMMIT_FAILED, "object already exists");
  return Result(rc, SQLUV_COMMIT_FAILED, StoreError("cannot commit " + session.final_path, error));
}

sqlint32 Discard(Session& session, Return_code* rc) {
  std::fclose(session.file);
  session.file = nullptr;
  if (unlink(session.partial_path.c_str()) != 0) {
    return Result(rc, SQLUV_ABORT_FAILED, StoreError("cannot remove " + session.partial_path, errno));
  }
  return Result(rc, SQLUV_OK);
}

sqlint32 End(sqlint32 action, Session* session, Init_output* out, Return_code* rc) {
  if (session == nullptr) return Result(rc, SQLUV_INV_DEV_HANDLE, "no session");
  // The session stays open so that DB2 can end it properly.
  if (action != SQLUV_COMMIT && action != SQLUV_ABORT) return Result(rc, SQLUV_INV_ACTION, "unknown end action");
  const std::unique_ptr<Session> ended(session);
  if (out != nullptr && out->pVendorCB == session) {
    out->pVendorCB = nullptr;
    out->vendor_session = nullptr;
  }
  if (session->mode != Mode::kWrite) return Result(rc, SQLUV_OK);
  return action == SQLUV_COMMIT ? Commit(*session, rc) : Discard(*session, rc);
}

sqlint32 Delete(Init_input* in, Return_code* rc) {
  if (in == nullptr || in->DB2_session == nullptr) return Result(rc, SQLUV_DELETE_FAILED, "missing session records");
  const DB2_info& info = *in->DB2_session;
  const char action = info.action != nullptr ? info.action[0] : '\0';
  if (action != 'M' && action != 'O' && action != 'B') return Result(rc, SQLUV_INV_ACTION, "action not for sqluvdel");
  std::string why_not;
  const std::optional<Selection> selection = SelectionOfSession(info, action != 'O', action != 'M', why_not);
  if (!selection) return Result(rc, SQLUV_DELETE_FAILED, why_not);
  const std::optional<std::string> store = StoreDirectory(why_not);
  if (!store) return Result(rc, SQLUV_DELETE_FAILED, why_not);

  const std::optional<std::vector<StoredObject>> doomed = ListObjects(*store, *selection, false, why_not);
  if (!doomed) return Result(rc, SQLUV_DELETE_FAILED, why_not);
  if (doomed->empty()) return Result(rc, SQLUV_OBJ_NOT_FOUND, "no such object");
  for (const StoredObject& object : *doomed) {
    if (unlink(object.path.c_str()) != 0 && errno != ENOENT) {
      return Result(rc, SQLUV_DELETE_FAILED, StoreError("cannot remove " + object.path, errno));
    }
  }
  return Result(rc, SQLUV_OK);
}

sqlint32 NextObject(Session* session, db2VendorQueryInfo* query, Return_code* rc) {
  if (session == nullptr) return Result(rc, SQLUV_INV_DEV_HANDLE, "no session");
  if (session->mode != Mode::kQuery || query == nullptr) return Result(rc, SQLUV_INV_ACTION, "session does not query");
  if (session->next_found == session->found.size()) return Result(rc, SQLUV_NO_DATA);

  const StoredObject& object = session->found[session->next_found++];
  *query = db2VendorQueryInfo{};
  query->sizeEstimate = object.size;
  query->dbPartitionNum = static_cast<SQL_PDB_NODE_TYPE>(object.key.node);
  query->sequenceNum = static_cast<unsigned short>(object.key.sequence);
  CopyField(query->db2Instance, object.key.instance);
  CopyField(query->dbname, object.key.database);
  CopyField(query->dbalias, object.key.database);
  CopyField(query->timestamp, object.key.timestamp);
  CopyField(query->filename, object.key.log_name);
  return Result(rc, SQLUV_OK);
}

}  // namespace
}  // namespace xjkelmar

extern "C" {

XJ_EXPORT sqlint32 sqluvintpp(Init_input* in, Init_output* out, Return_code* rc) {
  return xjkelmar::Guarded(rc, [&] { return xjkelmar::OpenSession(in, out, rc); });
}

XJ_EXPORT sqlint32 sqluvgetpp(void* vendorCB, Data* data, Return_code* rc) {
  return xjkelmar::Guarded(rc, [&] { return xjkelmar::Get(static_cast<xjkelmar::Session*>(vendorCB), data, rc); });
}

XJ_EXPORT sqlint32 sqluvputpp(void* vendorCB, Data* data, Return_code* rc) {
  return xjkelmar::Guarded(rc, [&] { return xjkelmar::Put(static_cast<xjkelmar::Session*>(vendorCB), data, rc); });
}

XJ_EXPORT sqlint32 sqluvendpp(sqlint32 action, void* vendorCB, Init_output* out, Return_code* rc) {
  return xjkelmar::Guarded(
      rc, [&] { return xjkelmar::End(action, static_cast<xjkelmar::Session*>(vendorCB), out, rc); });
}

XJ_EXPORT sqlint32 sqluvdelpp(Init_input* in, Init_output* /*vendorDevData*/, Return_code* rc) {
  return xjkelmar::Guarded(rc, [&] { return xjkelmar::Delete(in, rc); });
}

XJ_EXPORT sqlint32 db2VendorGetNextObjpp(void* vendorCB, db2VendorQueryInfo* queryInfo, Return_code* rc) {
  return xjkelmar::Guarded(
      rc, [&] { return xjkelmar::NextObject(static_cast<xjkelmar::Session*>(vendorCB), queryInfo, rc); });
}

}  // extern "C"

// The entry points have exactly the types that the loader resolves them as.
static_assert(std::is_same_v<decltype(&sqluvintpp), sqluvint_fn>);
static_assert(std::is_same_v<decltype(&sqluvgetpp), sqluvget_fn>);
static_assert(std::is_same_v<decltype(&sqluvputpp), sqluvput_fn>);
static_assert(std::is_same_v<decltype(&sqluvendpp), sqluvend_fn>);
static_assert(std::is_same_v<decltype(&sqluvdelpp), sqluvdel_fn>);
static_assert(std::is_same_v<decltype(&db2VendorGetNextObjpp), db2VendorGetNextObj_fn>);
