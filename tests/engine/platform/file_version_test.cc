#include "engine/platform/file_version.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/platform/byte_order.h"
#include "engine/platform/version.h"
#include "tests/engine/platform/platform_test_util.h"

namespace orb {
namespace {

using testing::ScratchDir;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs `program` and returns its stdout.
std::string RunAndCapture(const std::string& program) {
  std::string out;
  FILE* p = popen(("'" + program + "'").c_str(), "r");
  if (p == nullptr) return out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

const std::string kChild = std::string(ORB_TEST_BIN_DIR) + "/orb_version_child";

std::string ProjectVersion() {
  return TFileVersion{ORB_VERSION_MAJOR, ORB_VERSION_MINOR, ORB_VERSION_PATCH, ORB_VERSION_BUILD}.ToString();
}

// A minimal ELF file with three sections: the null section, the section
// name table and ".orb_version" holding `version`.
//
// ELF64: | 0 header (64) | 64 record (32) | 96 names (24) | 128 sections 3 x 64 |
// ELF32: | 0 header (52) | 64 record (32) | 96 names (24) | 128 sections 3 x 40 |
struct MiniElf {
  static constexpr uint64_t kRecord = 64, kNames = 96, kSections = 128;
  bool Is64 = true;
  std::vector<uint8_t> Bytes;

  explicit MiniElf(bool is64, TFileVersion version = {3, 4, 5, 6}) : Is64(is64) {
    const char names[] = "\0.shstrtab\0.orb_version";  // 24 bytes with the final '\0'
    Bytes.assign(kSections + 3 * EntrySize(), 0);
    std::memcpy(Bytes.data(), "\x7F" "ELF", 4);
    Bytes[4] = is64 ? 2 : 1;
    Bytes[5] = 1;
    Bytes[6] = 1;
    if (is64) {
      StoreU64LE(&Bytes[40], kSections);
    } else {
      StoreU32LE(&Bytes[32], kSections);
    }
    StoreU16LE(&Bytes[ShEntSize()], static_cast<uint16_t>(EntrySize()));
    StoreU16LE(&Bytes[ShEntSize() + 2], 3);
    StoreU16LE(&Bytes[ShEntSize() + 4], 1);
    version.SaveTo(&Bytes[kRecord]);
    std::memcpy(&Bytes[kNames], names, sizeof names);
    SetSection(1, 1, 3, kNames, sizeof names);
    SetSection(2, 11, 1, kRecord, TFileVersion::kSize);
  }

  uint64_t EntrySize() const { return Is64 ? 64 : 40; }
  size_t ShEntSize() const { return Is64 ? 58 : 46; }
  uint8_t* Section(int i) { return &Bytes[kSections + i * EntrySize()]; }

  void SetSection(int i, uint32_t name, uint32_t type, uint64_t offset, uint64_t size) {
    uint8_t* s = Section(i);
    StoreU32LE(s, name);
    StoreU32LE(s + 4, type);
    SetOffset(i, offset);
    SetSize(i, size);
  }
  void SetOffset(int i, uint64_t v) {
    if (Is64) StoreU64LE(Section(i) + 24, v); else StoreU32LE(Section(i) + 16, static_cast<uint32_t>(v));
  }
  void SetSize(int i, uint64_t v) {
    if (Is64) StoreU64LE(Section(i) + 32, v); else StoreU32LE(Section(i) + 20, static_cast<uint32_t>(v));
  }
  void SetLink(int i, uint32_t v) { StoreU32LE(Section(i) + (Is64 ? 40 : 24), v); }
  void SetShOff(uint64_t v) {
    if (Is64) StoreU64LE(&Bytes[40], v); else StoreU32LE(&Bytes[32], static_cast<uint32_t>(v));
  }
  void SetShNum(uint16_t v) { StoreU16LE(&Bytes[ShEntSize() + 2], v); }
  void SetShStrNdx(uint16_t v) { StoreU16LE(&Bytes[ShEntSize() + 4], v); }
};

TEST(FileVersionTest, RecordRoundTripAndText) {
  for (TFileVersion v : {TFileVersion{2021, 11, 29, 21}, TFileVersion{0, 0, 0, 0},
                         TFileVersion{65535, 65535, 65535, 65535}}) {
    const auto bytes = TFileVersion::Encode(v.Major, v.Minor, v.Release, v.Build);
    std::optional<TFileVersion> back = TFileVersion::LoadFrom(bytes.data());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, v);
  }
  EXPECT_EQ((TFileVersion{2021, 11, 29, 21}).ToString(), "2021.11.29.21");
  EXPECT_EQ((TFileVersion{65535, 0, 7, 65535}).ToString(), "65535.0.7.65535");

  // Any single damaged byte makes it no record.
  const auto good = TFileVersion::Encode(1, 2, 3, 4);
  for (int i = 0; i < TFileVersion::kSize; ++i) {
    auto bad = good;
    bad[i] ^= 0x01;
    EXPECT_FALSE(TFileVersion::LoadFrom(bad.data()).has_value()) << "byte " << i;
  }
}

TEST(FileVersionTest, ExecutableWithRecordReadsProjectVersion) {
  const std::string out = RunAndCapture(kChild);
  const std::string real = std::filesystem::canonical(kChild).string();
  EXPECT_EQ(out, "version " + ProjectVersion() + "\npath " + real + "\n");

  TFileVersion v;
  PlatformStatus s = ReadFileVersion(kChild, &v);
  ASSERT_TRUE(s.Ok()) << s.Text();
  EXPECT_EQ(v.ToString(), ProjectVersion());
}

TEST(FileVersionTest, FilesWithoutRecordGiveNoRecord) {
  ScratchDir dir;
  WriteBytes(dir.File("text"), std::vector<uint8_t>(100, 'x'));
  WriteBytes(dir.File("empty"), {});
  // A FIFO with no writer: opening it must not wait for one.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (const std::string& path :
       {std::string(ORB_ORBDB_PATH), std::string("/bin/true"), dir.File("text"), dir.File("empty"), dir.File("fifo"), dir.path()}) {
    TFileVersion v;
    PlatformStatus s = ReadFileVersion(path, &v);
    EXPECT_EQ(s.Code(), ENODATA) << path;
  }
  TFileVersion v;
  EXPECT_EQ(ReadFileVersion(dir.File("missing"), &v).Code(), ENOENT);
  // The test program itself carries no record.
  EXPECT_EQ(ReadOwnFileVersion(&v).Code(), ENODATA);
}

TEST(FileVersionTest, TruncatedExecutableGivesNoRecord) {
  ScratchDir dir;
  const std::vector<uint8_t> whole = ReadBytes(kChild);
  ASSERT_GT(whole.size(), 4096u);
  const uint64_t shoff = LoadU64LE(&whole[40]);
  for (uint64_t len : {uint64_t{0}, uint64_t{4}, uint64_t{16}, uint64_t{63}, uint64_t{64}, whole.size() / 2,
                       shoff, shoff + 1, shoff + 64, whole.size() - 1}) {
    ASSERT_LE(len, whole.size());
    const std::string path = dir.File("cut");
    WriteBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(len)));
    TFileVersion v;
    EXPECT_EQ(ReadFileVersion(path, &v).Code(), ENODATA) << "length " << len;
  }
  // The whole copy still reads.
  WriteBytes(dir.File("copy"), whole);
  TFileVersion v;
  EXPECT_TRUE(ReadFileVersion(dir.File("copy"), &v).Ok());
}

TEST(FileVersionTest, MalformedSectionTablesGiveNoRecord) {
  struct Case {
    const char* name;
    std::function<void(MiniElf&)> damage;
    bool found;
  };
  const uint64_t kHuge = ~uint64_t{0};
  const std::vector<Case> cases = {
      {"intact", [](MiniElf&) {}, true},
      {"extended section count", [](MiniElf& e) { e.SetShNum(0); e.SetSize(0, 3); }, true},
      {"extended name table index", [](MiniElf& e) { e.SetShStrNdx(0xFFFF); e.SetLink(0, 1); }, true},
      {"not ELF", [](MiniElf& e) { e.Bytes[1] = 'e'; }, false},
      {"big-endian", [](MiniElf& e) { e.Bytes[5] = 2; }, false},
      {"unknown class", [](MiniElf& e) { e.Bytes[4] = 3; }, false},
      {"no section table", [](MiniElf& e) { e.SetShOff(0); }, false},
      {"section table past the end", [](MiniElf& e) { e.SetShOff(e.Bytes.size()); }, false},
      {"section table offset wraps", [kHuge](MiniElf& e) { e.SetShOff(kHuge - 8); }, false},
      {"entry size too small", [](MiniElf& e) { StoreU16LE(&e.Bytes[e.ShEntSize()], 8); }, false},
      {"section count past the end", [](MiniElf& e) { e.SetShNum(0xFFFE); }, false},
      {"extended count huge", [kHuge](MiniElf& e) { e.SetShNum(0); e.SetSize(0, kHuge); }, false},
      {"extended count zero", [](MiniElf& e) { e.SetShNum(0); }, false},
      {"name table index out of range", [](MiniElf& e) { e.SetShStrNdx(7); }, false},
      {"extended name table index out of range", [](MiniElf& e) { e.SetShStrNdx(0xFFFF); e.SetLink(0, 99); }, false},
      {"name table of the wrong type", [](MiniElf& e) { StoreU32LE(e.Section(1) + 4, 1); }, false},
      {"name table past the end", [](MiniElf& e) { e.SetSize(1, 1u << 30); }, false},
      {"name table offset wraps", [kHuge](MiniElf& e) { e.SetOffset(1, kHuge - 2); }, false},
      {"name without terminator", [](MiniElf& e) { e.SetSize(1, 23); }, false},
      {"name offset past the table", [](MiniElf& e) { StoreU32LE(e.Section(2), 1000); }, false},
      {"record without file bytes", [](MiniElf& e) { StoreU32LE(e.Section(2) + 4, 8); }, false},
      {"record section too long", [](MiniElf& e) { e.SetSize(2, 64); }, false},
      {"record section too short", [](MiniElf& e) { e.SetSize(2, 16); }, false},
      {"record past the end", [](MiniElf& e) { e.SetOffset(2, e.Bytes.size() - 16); }, false},
      {"record offset wraps", [kHuge](MiniElf& e) { e.SetOffset(2, kHuge - 4); }, false},
      {"record damaged", [](MiniElf& e) { e.Bytes[MiniElf::kRecord + 13] ^= 0x40; }, false},
  };
  ScratchDir dir;
  for (bool is64 : {true, false}) {
    for (const Case& c : cases) {
      MiniElf elf(is64);
      c.damage(elf);
      const std::string path = dir.File("elf");
      WriteBytes(path, elf.Bytes);
      TFileVersion v;
      PlatformStatus s = ReadFileVersion(path, &v);
      if (c.found) {
        ASSERT_TRUE(s.Ok()) << c.name << (is64 ? " (64)" : " (32)") << ": " << s.Text();
        EXPECT_EQ(v, (TFileVersion{3, 4, 5, 6})) << c.name;
      } else {
        EXPECT_EQ(s.Code(), ENODATA) << c.name << (is64 ? " (64)" : " (32)");
      }
    }
  }
}

TEST(FileVersionTest, RandomlyDamagedHeadersNeverCrash) {
  // Damage in the file header and the section table either leaves the
  // record readable or gives no record.
  ScratchDir dir;
  std::mt19937 rng(20261210);
  for (bool is64 : {true, false}) {
    const MiniElf intact(is64);
    std::vector<size_t> spots;
    for (size_t i = 0; i < 64; ++i) spots.push_back(i);
    for (size_t i = MiniElf::kSections; i < intact.Bytes.size(); ++i) spots.push_back(i);
    for (int round = 0; round < 400; ++round) {
      MiniElf elf = intact;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) elf.Bytes[spots[rng() % spots.size()]] = static_cast<uint8_t>(rng());
      const std::string path = dir.File("fuzz");
      WriteBytes(path, elf.Bytes);
      TFileVersion v;
      PlatformStatus s = ReadFileVersion(path, &v);
      if (s.Ok()) {
        EXPECT_EQ(v, (TFileVersion{3, 4, 5, 6})) << "round " << round;
      } else {
        EXPECT_EQ(s.Code(), ENODATA) << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace orb
