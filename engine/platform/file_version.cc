#include "engine/platform/file_version.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/platform/byte_order.h"

namespace orb {

namespace {

// Tables larger than this are not believed (a real executable's section
// header table and section name table are a few kilobytes).
constexpr uint64_t kMaxTableBytes = uint64_t{16} << 20;

PlatformStatus NoRecord() { return PlatformStatus(ENODATA, "The file has no version record"); }

// The parts of an ELF file header and section header this reader needs,
// for both classes.
//
// ELF file header, the fields read (little-endian):
// | field       | ELF32 offset, size | ELF64 offset, size |
// | e_ident     |  0, 16             |  0, 16             |
// | e_shoff     | 32, 4              | 40, 8              |
// | e_shentsize | 46, 2              | 58, 2              |
// | e_shnum     | 48, 2              | 60, 2              |
// | e_shstrndx  | 50, 2              | 62, 2              |
// e_ident: 0x7F 'E' 'L' 'F', class (1 = 32-bit, 2 = 64-bit), data (1 =
// little-endian), version 1.
//
// Section header, the fields read:
// | field     | ELF32 offset, size | ELF64 offset, size |
// | sh_name   |  0, 4              |  0, 4              |
// | sh_type   |  4, 4              |  4, 4              |
// | sh_offset | 16, 4              | 24, 8              |
// | sh_size   | 20, 4              | 32, 8              |
// | sh_link   | 24, 4              | 40, 4              |
// Section header 0 carries the real count (sh_size) and name table index
// (sh_link) when e_shnum is 0 or e_shstrndx is 0xFFFF.
struct SectionHeader {
  uint32_t Name = 0;
  uint32_t Type = 0;
  uint64_t Offset = 0;
  uint64_t Size = 0;
  uint32_t Link = 0;
};

constexpr uint32_t kShtProgbits = 1;
constexpr uint32_t kShtStrtab = 3;
constexpr uint16_t kShnXindex = 0xFFFF;

class ElfReader {
 public:
  ElfReader(int fd, uint64_t file_size) : FFd(fd), FFileSize(file_size) {}

  PlatformStatus Find(TFileVersion* version) {
    uint8_t ident[64] = {};
    PlatformStatus s = Read(0, ident, 16);
    if (!s.Ok()) return s;
    if (std::memcmp(ident, "\x7F" "ELF", 4) != 0 || ident[5] != 1 || ident[6] != 1) return NoRecord();
    if (ident[4] == 1) {
      FIs64 = false;
    } else if (ident[4] == 2) {
      FIs64 = true;
    } else {
      return NoRecord();
    }
    const size_t header_size = FIs64 ? 64 : 52;
    s = Read(0, ident, header_size);
    if (!s.Ok()) return s;
    const uint64_t shoff = FIs64 ? LoadU64LE(ident + 40) : LoadU32LE(ident + 32);
    const uint16_t entsize = LoadU16LE(ident + (FIs64 ? 58 : 46));
    uint64_t count = LoadU16LE(ident + (FIs64 ? 60 : 48));
    uint32_t names_index = LoadU16LE(ident + (FIs64 ? 62 : 50));
    if (shoff == 0 || entsize < (FIs64 ? 64 : 40)) return NoRecord();
    FTableOffset = shoff;
    FEntrySize = entsize;

    if (count == 0 || names_index == kShnXindex) {
      SectionHeader first;
      s = Section(0, &first);
      if (!s.Ok()) return s;
      if (count == 0) count = first.Size;
      if (names_index == kShnXindex) names_index = first.Link;
    }
    if (count == 0 || count > kMaxTableBytes / entsize || names_index >= count) return NoRecord();
    if (!Within(shoff, count * entsize)) return NoRecord();

    SectionHeader names;
    s = Section(names_index, &names);
    if (!s.Ok()) return s;
    if (names.Type != kShtStrtab || names.Size > kMaxTableBytes || !Within(names.Offset, names.Size)) {
      return NoRecord();
    }
    std::vector<uint8_t> name_table(names.Size);
    s = Read(names.Offset, name_table.data(), name_table.size());
    if (!s.Ok()) return s;

    const size_t wanted = sizeof kFileVersionSection;  // with its terminator
    for (uint64_t i = 1; i < count; ++i) {
      SectionHeader h;
      s = Section(i, &h);
      if (!s.Ok()) return s;
      if (h.Name >= name_table.size() || name_table.size() - h.Name < wanted) continue;
      if (std::memcmp(name_table.data() + h.Name, kFileVersionSection, wanted) != 0) continue;
      // The first section so named decides.
      if (h.Type != kShtProgbits || h.Size != TFileVersion::kSize || !Within(h.Offset, h.Size)) {
        return NoRecord();
      }
      uint8_t record[TFileVersion::kSize];
      s = Read(h.Offset, record, sizeof record);
      if (!s.Ok()) return s;
      std::optional<TFileVersion> v = TFileVersion::LoadFrom(record);
      if (!v) return NoRecord();
      *version = *v;
      return PlatformStatus();
    }
    return NoRecord();
  }

 private:
  bool Within(uint64_t offset, uint64_t length) const {
    return offset <= FFileSize && length <= FFileSize - offset;
  }

  // Reads exactly `count` bytes at `offset`; a range past the end of the
  // file means the file is not what it claims to be.
  PlatformStatus Read(uint64_t offset, uint8_t* out, size_t count) const {
    if (!Within(offset, count)) return NoRecord();
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(FFd, out + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return PlatformStatus::FromErrno(errno);
      }
      if (n == 0) return NoRecord();  // the file shrank under us
      done += static_cast<size_t>(n);
    }
    return PlatformStatus();
  }

  PlatformStatus Section(uint64_t index, SectionHeader* out) const {
    uint8_t raw[64];
    const size_t size = FIs64 ? 64 : 40;
    if (index > (UINT64_MAX - FTableOffset) / FEntrySize) return NoRecord();
    PlatformStatus s = Read(FTableOffset + index * FEntrySize, raw, size);
    if (!s.Ok()) return s;
    out->Name = LoadU32LE(raw);
    out->Type = LoadU32LE(raw + 4);
    out->Offset = FIs64 ? LoadU64LE(raw + 24) : LoadU32LE(raw + 16);
    out->Size = FIs64 ? LoadU64LE(raw + 32) : LoadU32LE(raw + 20);
    out->Link = LoadU32LE(raw + (FIs64 ? 40 : 24));
    return PlatformStatus();
  }

  int FFd;
  uint64_t FFileSize;
  bool FIs64 = true;
  uint64_t FTableOffset = 0;
  uint64_t FEntrySize = 0;
};

}  // namespace

std::string TFileVersion::ToString() const {
  return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
         std::to_string(Build);
}

std::optional<TFileVersion> TFileVersion::LoadFrom(const uint8_t* in) {
  if (std::memcmp(in, "ORB-FVER", 8) != 0) return std::nullopt;
  if (LoadU16LE(in + 8) != kSize || LoadU16LE(in + 10) != kLayout) return std::nullopt;
  if (LoadU32LE(in + 20) != Check(in)) return std::nullopt;
  for (int i = 24; i < kSize; ++i) {
    if (in[i] != 0) return std::nullopt;
  }
  return TFileVersion{LoadU16LE(in + 12), LoadU16LE(in + 14), LoadU16LE(in + 16), LoadU16LE(in + 18)};
}

PlatformStatus ReadFileVersion(const std::string& path, TFileVersion* version) {
  // O_NONBLOCK: opening a FIFO or a device never waits; only regular files
  // are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return PlatformStatus::FromErrno(errno);
  struct stat st;
  PlatformStatus s;
  if (::fstat(fd, &st) != 0) {
    s = PlatformStatus::FromErrno(errno);
  } else if (!S_ISREG(st.st_mode)) {
    s = NoRecord();
  } else {
    s = ElfReader(fd, static_cast<uint64_t>(st.st_size)).Find(version);
  }
  ::close(fd);
  return s;
}

PlatformStatus ReadOwnFileVersion(TFileVersion* version) {
  // /proc/self/exe opens the running image even when its name has since
  // been replaced or removed.
  return ReadFileVersion("/proc/self/exe", version);
}

std::string OwnExecutablePath() {
  std::string text(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", text.data(), text.size());
  if (n <= 0 || static_cast<size_t>(n) >= text.size()) return std::string();
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace orb
