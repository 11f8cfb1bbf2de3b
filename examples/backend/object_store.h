// Where the sample backend keeps what DB2 hands it: one file per backup image
// sequence or archived log file, in the store directory of its installation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelmar/db2_vendor.h"

namespace xjkelmar {

enum class ObjectKind { kImage, kLog };

// What names one stored object. Images are told apart by timestamp and
// sequence, log files by their name.
struct ObjectKey {
  ObjectKind kind = ObjectKind::kImage;
  std::string instance;
  std::string database;
  int node = 0;
  std::string timestamp;  // images only
  int sequence = 0;       // images only
  std::string log_name;   // logs only
};

// The objects that a query or a delete is about; empty filters match all.
struct Selection {
  bool images = false;
  bool logs = false;
  std::string instance;
  std::string database;
  int node = 0;
  std::string timestamp;  // images: only this backup
  int sequence = 0;       // images: only this part of it; 0 for all
  std::string log_name;   // logs: only this file
};

struct StoredObject {
  ObjectKey key;
  std::string path;
  std::uint64_t size = 0;  // of the data, without the header (stored_format.h)
};

// The key of the object that DB2's session record describes, or the reason
// why the record names no valid object. DB2's texts become file names, so
// only plain names are accepted.
std::optional<ObjectKey> KeyOfSession(const DB2_info& info, ObjectKind kind, std::string& why_not);

// The selection that a query or delete session record asks for.
std::optional<Selection> SelectionOfSession(const DB2_info& info, bool images, bool logs, std::string& why_not);

std::string FileNameOf(const ObjectKey& key);
std::optional<ObjectKey> ParseFileName(std::string_view name);
bool Matches(const Selection& selection, const ObjectKey& key);

// The text of `error`; safe on every thread.
std::string ErrorText(int error);

// A failed file operation of the store, `what` naming the path ("cannot
// create a file in /opt/vorlan/store"). DB2 keeps only the return code, whose
// 30 bytes hold no path: this returns its description, "store: " and the
// error, and writes the whole of it on standard error, where kelmar-host shows
// it beside the return code.
std::string StoreError(const std::string& what, int error);

// `<home>/store` for a backend loaded from `<home>/Base`: the directory beside
// the one this library was loaded from. Created when missing.
std::optional<std::string> StoreDirectory(std::string& why_not);

// The stored objects that `selection` matches: images by timestamp and
// sequence, then log files by name. With `whole_images_only`, the parts of an
// image that cannot be restored whole are left out. None, with `why_not` set,
// when the store cannot be listed.
std::optional<std::vector<StoredObject>> ListObjects(const std::string& store, const Selection& selection,
                                                     bool whole_images_only, std::string& why_not);

// Why the image that part `key` belongs to cannot be restored whole ("part 3
// of 4 is missing"); empty when every part is there, finished, and as long
// as its header says. DB2 gets this text as a return code's description.
std::string WhatImageLacks(const std::string& store, const ObjectKey& key);

}  // namespace xjkelmar
