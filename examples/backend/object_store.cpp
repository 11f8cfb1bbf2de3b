#include "object_store.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include "stored_format.h"

namespace xjkelmar {
namespace {

constexpr std::string_view kImagePrefix = "image";
constexpr std::string_view kLogPrefix = "log";
constexpr std::size_t kTimestampDigits = 14;
constexpr std::size_t kMaxDb2NameLength = 8;  // DB2's instance and database names
constexpr std::size_t kMaxLogNameLength = 255;
constexpr int kMaxSequence = 999;
constexpr int kMaxNode = 999;

std::string_view TextOf(const char* text) { return text == nullptr ? std::string_view{} : std::string_view{text}; }

bool AllOf(std::string_view text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_' || c == '@' || c == '#' || c == '$';
}
bool IsLogNameChar(char c) { return IsNameChar(c) || c == '.' || c == '-'; }

bool IsDb2Name(std::string_view name) {
  return !name.empty() && name.size() <= kMaxDb2NameLength && AllOf(name, IsNameChar);
}

// Log names never start with a dot: the store keeps its unfinished files under such names.
bool IsLogName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxLogNameLength && name[0] != '.' && AllOf(name, IsLogNameChar);
}

bool IsTimestampPrefix(std::string_view text) { return text.size() <= kTimestampDigits && AllOf(text, IsDigit); }

std::optional<int> NumberIn(std::string_view text, int max) {
  if (text.empty() || text.size() > 3 || !AllOf(text, IsDigit)) return std::nullopt;
  int value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  if (value > max) return std::nullopt;
  return value;
}

bool SetOwnerFields(const DB2_info& info, std::string& instance, std::string& database, int& node,
                    std::string& why_not) {
  instance = std::string(TextOf(info.db2instance));
  database = std::string(TextOf(info.dbname));
  node = info.nodeNum;
  if (!IsDb2Name(instance)) {
    why_not = "invalid instance name";
  } else if (!IsDb2Name(database)) {
    why_not = "invalid database name";
  } else if (node < 0 || node > kMaxNode) {
    why_not = "invalid node number";
  } else {
    return true;
  }
  return false;
}

std::vector<std::string_view> SplitAtDots(std::string_view text, std::size_t max_fields) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < max_fields) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) break;
    fields.push_back(text.substr(0, dot));
    text.remove_prefix(dot + 1);
  }
  fields.push_back(text);
  return fields;
}

}  // namespace

std::optional<ObjectKey> KeyOfSession(const DB2_info& info, ObjectKind kind, std::string& why_not) {
  ObjectKey key;
  key.kind = kind;
  if (!SetOwnerFields(info, key.instance, key.database, key.node, why_not)) return std::nullopt;
  if (kind == ObjectKind::kImage) {
    key.timestamp = std::string(TextOf(info.timestamp));
    const std::optional<int> sequence = NumberIn(TextOf(info.sequence), kMaxSequence);
    if (key.timestamp.size() != kTimestampDigits || !IsTimestampPrefix(key.timestamp)) {
      why_not = "invalid timestamp";
      return std::nullopt;
    }
    if (!sequence || *sequence == 0) {
      why_not = "invalid sequence";
      return std::nullopt;
    }
    key.sequence = *sequence;
  } else {
    key.log_name = std::string(TextOf(info.filename));
    if (!IsLogName(key.log_name)) {
      why_not = "invalid log file name";
      return std::nullopt;
    }
  }
  return key;
}

std::optional<Selection> SelectionOfSession(const DB2_info& info, bool images, bool logs, std::string& why_not) {
  Selection selection;
  selection.images = images;
  selection.logs = logs;
  if (!SetOwnerFields(info, selection.instance, selection.database, selection.node, why_not)) return std::nullopt;
  // A delete of everything ignores the filters that name one object.
  if (images && logs) return selection;
  if (images) {
    selection.timestamp = std::string(TextOf(info.timestamp));
    if (!IsTimestampPrefix(selection.timestamp)) {
      why_not = "invalid timestamp";
      return std::nullopt;
    }
    // One part of one image, as a backup that could not commit them all deletes the others.
    const std::string_view sequence = TextOf(info.sequence);
    const std::optional<int> number = NumberIn(sequence, kMaxSequence);
    if (!sequence.empty() && (!number || *number == 0 || selection.timestamp.size() != kTimestampDigits)) {
      why_not = "invalid sequence";
      return std::nullopt;
    }
    selection.sequence = number.value_or(0);
  } else {
    selection.log_name = std::string(TextOf(info.filename));
    if (!selection.log_name.empty() && !IsLogName(selection.log_name)) {
      why_not = "invalid log file name";
      return std::nullopt;
    }
  }
  return selection;
}

std::string FileNameOf(const ObjectKey& key) {
  std::string name(key.kind == ObjectKind::kImage ? kImagePrefix : kLogPrefix);
  name += '.' + key.instance + '.' + key.database + '.' + std::to_string(key.node) + '.';
  if (key.kind == ObjectKind::kImage) {
    name += key.timestamp + '.' + std::to_string(key.sequence);
  } else {
    name += key.log_name;
  }
  return name;
}

std::optional<ObjectKey> ParseFileName(std::string_view name) {
  // Log names may hold dots, so they are the last field and split no further.
  const std::vector<std::string_view> fields = SplitAtDots(name, 6);
  if (fields.size() < 5) return std::nullopt;
  ObjectKey key;
  key.instance = std::string(fields[1]);
  key.database = std::string(fields[2]);
  const std::optional<int> node = NumberIn(fields[3], kMaxNode);
  if (!IsDb2Name(key.instance) || !IsDb2Name(key.database) || !node) return std::nullopt;
  key.node = *node;

  if (fields[0] == kImagePrefix && fields.size() == 6) {
    key.kind = ObjectKind::kImage;
    key.timestamp = std::string(fields[4]);
    const std::optional<int> sequence = NumberIn(fields[5], kMaxSequence);
    if (key.timestamp.size() != kTimestampDigits || !IsTimestampPrefix(key.timestamp) || !sequence) return std::nullopt;
    key.sequence = *sequence;
    return key;
  }
  if (fields[0] == kLogPrefix) {
    key.kind = ObjectKind::kLog;
    const std::size_t log_name_at = fields[4].data() - name.data();
    key.log_name = std::string(name.substr(log_name_at));
    if (!IsLogName(key.log_name)) return std::nullopt;
    return key;
  }
  return std::nullopt;
}

bool Matches(const Selection& selection, const ObjectKey& key) {
  if (key.instance != selection.instance || key.database != selection.database || key.node != selection.node) {
    return false;
  }
  if (key.kind == ObjectKind::kImage) {
    return selection.images && key.timestamp.compare(0, selection.timestamp.size(), selection.timestamp) == 0 &&
           (selection.sequence == 0 || key.sequence == selection.sequence);
  }
  return selection.logs && (selection.log_name.empty() || key.log_name == selection.log_name);
}

std::string ErrorText(int error) {
  char buffer[128];
  return strerror_r(error, buffer, sizeof buffer);  // GNU: the text in `buffer` or a constant
}

std::string StoreError(const std::string& what, int error) {
  const std::string text = ErrorText(error);
  std::fprintf(stderr, "libXjKelmar.so: %s: %s\n", what.c_str(), text.c_str());
  return "store: " + text;
}

std::optional<std::string> StoreDirectory(std::string& why_not) {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&StoreDirectory), &self) == 0 || self.dli_fname == nullptr) {
    why_not = "cannot locate the backend library";
    return std::nullopt;
  }
  char resolved[PATH_MAX];
  std::string library = realpath(self.dli_fname, resolved) != nullptr ? resolved : self.dli_fname;
  // <home>/Base/libXjKelmar.so -> <home>/store
  for (int level = 0; level < 2; ++level) {
    const std::size_t slash = library.rfind('/');
    library.resize(slash == std::string::npos ? 0 : slash);
  }
  std::string store = (library.empty() ? std::string(".") : library) + "/store";
  if (mkdir(store.c_str(), 0700) != 0 && errno != EEXIST) {
    why_not = StoreError("cannot create the store directory " + store, errno);
    return std::nullopt;
  }
  return store;
}

std::optional<std::vector<StoredObject>> ListObjects(const std::string& store, const Selection& selection,
                                                     bool whole_images_only, std::string& why_not) {
  std::vector<StoredObject> objects;
  DIR* listing = opendir(store.c_str());
  if (listing == nullptr) {
    why_not = StoreError("cannot list " + store, errno);
    return std::nullopt;
  }
  while (const dirent* entry = readdir(listing)) {
    const std::optional<ObjectKey> key = ParseFileName(entry->d_name);
    if (!key || !Matches(selection, *key)) continue;
    StoredObject object{*key, store + '/' + entry->d_name, 0};
    struct stat status {};
    if (stat(object.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    const auto size = static_cast<std::uint64_t>(status.st_size);
    object.size = size > sizeof(ObjectHeader) ? size - sizeof(ObjectHeader) : 0;
    objects.push_back(std::move(object));
  }
  closedir(listing);
  if (whole_images_only) {
    std::map<std::string, bool> whole;  // by timestamp: each image is looked at once
    std::erase_if(objects, [&](const StoredObject& object) {
      if (object.key.kind != ObjectKind::kImage) return false;
      const auto [verdict, first] = whole.try_emplace(object.key.timestamp, false);
      if (first) verdict->second = WhatImageLacks(store, object.key).empty();
      return !verdict->second;
    });
  }
  std::sort(objects.begin(), objects.end(), [](const StoredObject& a, const StoredObject& b) {
    return std::tie(a.key.kind, a.key.timestamp, a.key.sequence, a.key.log_name) <
           std::tie(b.key.kind, b.key.timestamp, b.key.sequence, b.key.log_name);
  });
  return objects;
}

std::string WhatImageLacks(const std::string& store, const ObjectKey& key) {
  const auto header_of = [&](int sequence, ObjectHeader& header) {
    ObjectKey part = key;
    part.sequence = sequence;
    const int fd = open((store + '/' + FileNameOf(part)).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : -1;
    const bool finished = ReadHeader(fd, header);
    close(fd);
    return finished && header.sequence == static_cast<std::uint32_t>(sequence) ? 1 : -1;
  };
  ObjectHeader own{};
  const int found = header_of(key.sequence, own);
  if (found <= 0) return "part " + std::to_string(key.sequence) + (found == 0 ? " is missing" : " is damaged");
  if (own.parts > kMaxSequence) return "part " + std::to_string(key.sequence) + " is damaged";
  const std::string of = " of " + std::to_string(own.parts);
  for (std::uint32_t sequence = 1; sequence <= own.parts; ++sequence) {
    ObjectHeader header{};
    const int state = header_of(static_cast<int>(sequence), header);
    if (state == 0) return "part " + std::to_string(sequence) + of + " is missing";
    if (state < 0 || header.parts != own.parts) return "part " + std::to_string(sequence) + of + " is damaged";
  }
  return {};
}

}  // namespace xjkelmar
