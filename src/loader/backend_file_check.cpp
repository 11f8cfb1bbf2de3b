#include "loader/backend_file_check.h"

#include <elf.h>

#include <cstring>
#include <limits>

#include "base/bounded_text.h"
#include "base/regular_file.h"

namespace kelmar {
namespace {

// The object's program headers as this platform's dynamic loader reads them.
bool HasReadableProgramHeaders(const Elf64_Ehdr& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
         header.e_ident[EI_DATA] == ELFDATA2LSB && header.e_phentsize == sizeof(Elf64_Phdr);
}

// offset + bytes, held at the largest value instead of wrapping.
std::uint64_t EndOf(std::uint64_t offset, std::uint64_t bytes) {
  return offset > std::numeric_limits<std::uint64_t>::max() - bytes ? std::numeric_limits<std::uint64_t>::max()
                                                                     : offset + bytes;
}

unsigned long long Shown(std::uint64_t value) { return static_cast<unsigned long long>(value); }

}  // namespace

bool CheckBackendFile(const char* path, std::span<char> reason) {
  const RegularFile file(path);
  if (file.not_regular()) {
    FormatBounded(reason, "not a regular file");
    return false;
  }
  Elf64_Ehdr header{};
  if (!file.is_open() || !file.ReadAt(0, &header, sizeof header) || !HasReadableProgramHeaders(header)) return true;

  const std::uint64_t size = file.size();
  const std::uint64_t table_end = EndOf(header.e_phoff, std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr));
  if (table_end > size) {
    FormatBounded(reason, "file is cut short: program headers end at %llu, file has %llu bytes", Shown(table_end),
                  Shown(size));
    return false;
  }
  for (unsigned index = 0; index < header.e_phnum; ++index) {
    Elf64_Phdr segment{};
    if (!file.ReadAt(header.e_phoff + index * sizeof segment, &segment, sizeof segment)) {
      FormatBounded(reason, "program header %u cannot be read", index);
      return false;
    }
    const std::uint64_t end = EndOf(segment.p_offset, segment.p_filesz);
    if (segment.p_type == PT_LOAD && end > size) {
      FormatBounded(reason, "file is cut short: segment %u ends at %llu, file has %llu bytes", index, Shown(end),
                    Shown(size));
      return false;
    }
  }
  return true;
}

}  // namespace kelmar
