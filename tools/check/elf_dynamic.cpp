#include "check/elf_dynamic.h"

#include <elf.h>

#include <cerrno>
#include <cstring>

#include "base/regular_file.h"

namespace kelmar::check {
namespace {

bool IsThisPlatform(const Elf64_Ehdr& header) {
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
         header.e_ident[EI_DATA] == ELFDATA2LSB && header.e_machine == EM_X86_64;
}

bool ReadHeader(const RegularFile& file, Elf64_Ehdr& header, std::string& error) {
  if (!file.ReadAt(0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    error = "not an ELF object";
    return false;
  }
  if (!IsThisPlatform(header)) {
    error = "an ELF object for another platform (not 64-bit x86-64)";
    return false;
  }
  return true;
}

// The program headers of a 64-bit x86-64 ELF object.
bool ReadSegments(const RegularFile& file, std::vector<Elf64_Phdr>& segments, std::string& error) {
  if (!file.is_open()) {
    error = std::string("cannot open it: ") + (file.not_regular() ? "not a regular file" : std::strerror(errno));
    return false;
  }
  Elf64_Ehdr header{};
  if (!ReadHeader(file, header, error)) return false;
  if (header.e_phentsize != sizeof(Elf64_Phdr)) {
    error = "damaged ELF object: unexpected program header size";
    return false;
  }
  segments.resize(header.e_phnum);
  if (!file.ReadAt(header.e_phoff, segments.data(), segments.size() * sizeof(Elf64_Phdr))) {
    error = "damaged ELF object: program headers cut off";
    return false;
  }
  return true;
}

// Where the object's image address `address` lies in the file.
std::optional<std::uint64_t> FileOffsetOf(const std::vector<Elf64_Phdr>& segments, std::uint64_t address) {
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_LOAD && address >= segment.p_vaddr && address - segment.p_vaddr < segment.p_filesz) {
      return segment.p_offset + (address - segment.p_vaddr);
    }
  }
  return std::nullopt;
}

// The string at `offset` of a string table of `size` bytes; it must end inside.
std::optional<std::string> TableString(const std::vector<char>& table, std::uint64_t offset) {
  if (offset >= table.size()) return std::nullopt;
  const char* begin = table.data() + offset;
  const void* end = std::memchr(begin, '\0', table.size() - offset);
  if (end == nullptr) return std::nullopt;
  return std::string(begin, static_cast<const char*>(end));
}

// A dynamic section or string table larger than this is taken for damage.
constexpr std::uint64_t kMaxTableBytes = 64u << 20;

}  // namespace

Candidate ExamineCandidate(const std::string& path) {
  using Verdict = Candidate::Verdict;
  const RegularFile file(path.c_str());
  if (file.not_regular()) return {Verdict::kRefused, "not a regular file"};
  if (!file.is_open()) return {Verdict::kAbsent, std::strerror(errno)};
  Elf64_Ehdr header{};
  if (!file.ReadAt(0, &header, sizeof header)) return {Verdict::kRefused, "file too short"};
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return {Verdict::kRefused, "invalid ELF header"};
  if (header.e_ident[EI_CLASS] != ELFCLASS64) return {Verdict::kOtherPlatform, {}};
  if (header.e_ident[EI_DATA] != ELFDATA2LSB) {
    return {Verdict::kRefused, "ELF file data encoding not little-endian"};
  }
  if (header.e_ident[EI_VERSION] != EV_CURRENT || header.e_version != EV_CURRENT) {
    return {Verdict::kRefused, "ELF file version does not match current one"};
  }
  if (header.e_ident[EI_OSABI] != ELFOSABI_SYSV && header.e_ident[EI_OSABI] != ELFOSABI_GNU) {
    return {Verdict::kRefused, "ELF file OS ABI invalid"};
  }
  if (header.e_machine != EM_X86_64) return {Verdict::kOtherPlatform, {}};
  if (header.e_type != ET_DYN && header.e_type != ET_EXEC) {
    return {Verdict::kRefused, "only ET_DYN and ET_EXEC can be loaded"};
  }
  if (header.e_phentsize != sizeof(Elf64_Phdr)) {
    return {Verdict::kRefused, "ELF file's phentsize not the expected size"};
  }
  return {Verdict::kTaken, {}};
}

std::optional<ElfDynamic> ReadElfDynamic(const std::string& path, std::string& error) {
  const RegularFile file(path.c_str());
  std::vector<Elf64_Phdr> segments;
  if (!ReadSegments(file, segments, error)) return std::nullopt;

  const Elf64_Phdr* dynamic_segment = nullptr;
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type == PT_DYNAMIC) dynamic_segment = &segment;
  }
  if (dynamic_segment == nullptr) {
    error = "no dynamic section: not a shared object";
    return std::nullopt;
  }
  if (dynamic_segment->p_filesz > kMaxTableBytes) {
    error = "damaged ELF object: dynamic section too large";
    return std::nullopt;
  }
  std::vector<Elf64_Dyn> entries(dynamic_segment->p_filesz / sizeof(Elf64_Dyn));
  if (!file.ReadAt(dynamic_segment->p_offset, entries.data(), entries.size() * sizeof(Elf64_Dyn))) {
    error = "damaged ELF object: dynamic section cut off";
    return std::nullopt;
  }

  std::optional<std::uint64_t> strtab_address;
  std::uint64_t strtab_size = 0;
  std::vector<std::uint64_t> needed_offsets;
  std::optional<std::uint64_t> rpath_offset;
  std::optional<std::uint64_t> runpath_offset;
  for (const Elf64_Dyn& entry : entries) {
    if (entry.d_tag == DT_NULL) break;
    switch (entry.d_tag) {
      case DT_STRTAB: strtab_address = entry.d_un.d_ptr; break;
      case DT_STRSZ: strtab_size = entry.d_un.d_val; break;
      case DT_NEEDED: needed_offsets.push_back(entry.d_un.d_val); break;
      case DT_RPATH: rpath_offset = entry.d_un.d_val; break;
      case DT_RUNPATH: runpath_offset = entry.d_un.d_val; break;
      default: break;
    }
  }

  const std::optional<std::uint64_t> strtab_offset =
      strtab_address ? FileOffsetOf(segments, *strtab_address) : std::nullopt;
  if (!strtab_offset || strtab_size > kMaxTableBytes) {
    error = "damaged ELF object: no readable string table";
    return std::nullopt;
  }
  std::vector<char> strings(strtab_size);
  if (!file.ReadAt(*strtab_offset, strings.data(), strings.size())) {
    error = "damaged ELF object: string table cut off";
    return std::nullopt;
  }

  ElfDynamic dynamic;
  const auto text_at = [&](std::uint64_t offset, std::string& into) {
    std::optional<std::string> text = TableString(strings, offset);
    if (!text) {
      error = "damaged ELF object: a name lies outside the string table";
      return false;
    }
    into = std::move(*text);
    return true;
  };
  for (const std::uint64_t offset : needed_offsets) {
    if (!text_at(offset, dynamic.needed.emplace_back())) return std::nullopt;
  }
  if (rpath_offset && !text_at(*rpath_offset, dynamic.rpath.emplace())) return std::nullopt;
  if (runpath_offset && !text_at(*runpath_offset, dynamic.runpath.emplace())) return std::nullopt;
  return dynamic;
}

std::optional<std::vector<ElfNote>> ReadElfNotes(const std::string& path, std::string& error) {
  const RegularFile file(path.c_str());
  std::vector<Elf64_Phdr> segments;
  if (!ReadSegments(file, segments, error)) return std::nullopt;
  std::vector<ElfNote> notes;
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type != PT_NOTE) continue;
    if (segment.p_filesz > kMaxTableBytes) {
      error = "damaged ELF object: note segment too large";
      return std::nullopt;
    }
    std::vector<char> bytes(segment.p_filesz);
    if (!file.ReadAt(segment.p_offset, bytes.data(), bytes.size())) {
      error = "damaged ELF object: note segment cut off";
      return std::nullopt;
    }
    // The description and the next note start at the segment's alignment: 4, or 8 for GNU property notes.
    const std::uint64_t align = segment.p_align == 8 ? 8 : 4;
    const auto aligned = [align](std::uint64_t offset) { return (offset + align - 1) / align * align; };
    for (std::uint64_t at = 0; at + sizeof(Elf64_Nhdr) <= bytes.size();) {
      Elf64_Nhdr header{};
      std::memcpy(&header, bytes.data() + at, sizeof header);
      const std::uint64_t name_at = at + sizeof header;
      const std::uint64_t description_at = aligned(name_at + header.n_namesz);
      if (description_at > bytes.size() || header.n_descsz > bytes.size() - description_at) {
        error = "damaged ELF object: a note runs past its segment";
        return std::nullopt;
      }
      ElfNote& note = notes.emplace_back();
      note.owner = std::string(bytes.data() + name_at, strnlen(bytes.data() + name_at, header.n_namesz));
      note.type = header.n_type;
      note.description.assign(bytes.data() + description_at, header.n_descsz);
      at = aligned(description_at + header.n_descsz);
    }
  }
  return notes;
}

}  // namespace kelmar::check
