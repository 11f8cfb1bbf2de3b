// The sample Vorlan backend: the six entry points that libkelmar.so resolves
// and forwards DB2's calls to. Each backup image sequence or log file becomes
// one file in the installation's store directory (object_store.h).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kelmar/backend.h"
#include "object_store.h"

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

// strerror's buffer is shared between threads; these texts are constant.
const char* ErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text != nullptr ? text : "unknown error";
}

sqlint32 IoFailure(Return_code* rc, int error) {
  return error == ENOSPC ? Result(rc, SQLUV_NOT_ENOUGH_SPACE, "store is full") : Result(rc, SQLUV_IO_ERROR, ErrorText(error));
}

std::FILE* Unbuffered(std::FILE* file) {
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

sqlint32 StartWrite(Session& session, const DB2_info& info, ObjectKind kind, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<ObjectKey> key = KeyOfSession(info, kind, why_not);
  if (!key) return Result(rc, SQLUV_INIT_FAILED, why_not);
  const std::string name = FileNameOf(*key);
  session.mode = Mode::kWrite;
  session.final_path = store + '/' + name;
  // Hidden and unique until commit: a listing never shows it, and another
  // process writing the same object cannot collide with it.
  std::string partial = store + "/." + name + ".XXXXXX";
  const int fd = mkostemp(partial.data(), O_CLOEXEC);
  if (fd < 0) return IoFailure(rc, errno);
  session.partial_path = std::move(partial);
  session.file = Unbuffered(fdopen(fd, "wb"));
  if (session.file == nullptr) {
    const int error = errno;
    close(fd);
    unlink(session.partial_path.c_str());
    return IoFailure(rc, error);
  }
  return SQLUV_OK;
}

sqlint32 StartRead(Session& session, const DB2_info& info, ObjectKind kind, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<ObjectKey> key = KeyOfSession(info, kind, why_not);
  if (!key) return Result(rc, SQLUV_INIT_FAILED, why_not);
  session.mode = Mode::kRead;
  session.file = Unbuffered(std::fopen((store + '/' + FileNameOf(*key)).c_str(), "rbe"));
  if (session.file == nullptr) {
    return errno == ENOENT ? Result(rc, SQLUV_OBJ_NOT_FOUND, "no such object") : IoFailure(rc, errno);
  }
  return SQLUV_OK;
}

sqlint32 StartQuery(Session& session, const DB2_info& info, bool images, const std::string& store, Return_code* rc) {
  std::string why_not;
  const std::optional<Selection> selection = SelectionOfSession(info, images, !images, why_not);
  if (!selection) return Result(rc, SQLUV_INIT_FAILED, why_not);
  session.mode = Mode::kQuery;
  session.found = ListObjects(store, *selection);
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
    case 'W': code = StartWrite(*session, info, ObjectKind::kImage, *store, rc); break;
    case 'A': code = StartWrite(*session, info, ObjectKind::kLog, *store, rc); break;
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
  if (size > 0 && std::fwrite(data->dataptr, 1, size, session->file) != size) return IoFailure(rc, errno);
  data->actual_buff_size = data->buff_size;
  return Result(rc, SQLUV_OK);
}

sqlint32 Get(Session* session, Data* data, Return_code* rc) {
  if (session == nullptr) return Result(rc, SQLUV_INV_DEV_HANDLE, "no session");
  if (session->mode != Mode::kRead) return Result(rc, SQLUV_INV_ACTION, "session does not read");
  if (data == nullptr || data->buff_size <= 0 || data->dataptr == nullptr) {
    return Result(rc, SQLUV_BUFF_SIZE, "invalid buffer");
  }
  // fread fills the buffer unless the object ends first.
  const std::size_t got = std::fread(data->dataptr, 1, static_cast<std::size_t>(data->buff_size), session->file);
  if (std::ferror(session->file)) return IoFailure(rc, errno);
  data->actual_buff_size = static_cast<sqlint32>(got);
  if (got == static_cast<std::size_t>(data->buff_size)) return Result(rc, SQLUV_OK);
  return got > 0 ? Result(rc, SQLUV_ENDOFMEDIA) : Result(rc, SQLUV_ENDOFMEDIA_NO_DATA);
}

// Makes a written object visible under its name, durably; drops it on failure.
sqlint32 Commit(Session& session, Return_code* rc) {
  int error = 0;
  if (fsync(fileno(session.file)) != 0) error = errno;
  if (std::fclose(session.file) != 0 && error == 0) error = errno;
  session.file = nullptr;
  if (error == 0 && rename(session.partial_path.c_str(), session.final_path.c_str()) != 0) error = errno;
  if (error == 0) return Result(rc, SQLUV_OK);
  unlink(session.partial_path.c_str());
  return Result(rc, SQLUV_COMMIT_FAILED, ErrorText(error));
}

sqlint32 Discard(Session& session, Return_code* rc) {
  std::fclose(session.file);
  session.file = nullptr;
  if (unlink(session.partial_path.c_str()) != 0) return Result(rc, SQLUV_ABORT_FAILED, ErrorText(errno));
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

  const std::vector<StoredObject> doomed = ListObjects(*store, *selection);
  if (doomed.empty()) return Result(rc, SQLUV_OBJ_NOT_FOUND, "no such object");
  for (const StoredObject& object : doomed) {
    if (unlink(object.path.c_str()) != 0 && errno != ENOENT) return Result(rc, SQLUV_DELETE_FAILED, ErrorText(errno));
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
