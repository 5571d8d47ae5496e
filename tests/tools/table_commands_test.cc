#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cli.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using test::CliResult;
using test::CliStdio;
using test::RunOrbdb;

class TableCommandsTest : public ::testing::Test {
 protected:
  static CliResult Load(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> all = {"load"};
    all.insert(all.end(), args.begin(), args.end());
    CliStdio stdio;
    stdio.input = input;
    return RunOrbdb(all, stdio);
  }
  void Create(const std::string& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"create", file};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_EQ(RunOrbdb(args).status, 0);
  }
  std::string Dump(const std::string& file, const std::string& table, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"dump", file, table};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliResult r = RunOrbdb(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  void ExpectCheckOk(const std::string& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"check", file};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliResult r = RunOrbdb(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }

  testing::DiskScratch FScratch;
  const std::string FFile = FScratch.File("db.orb");
};

constexpr const char* kAllTypes =
    "i INTEGER, s VARCHAR(30), w WIDEVARCHAR(10), b BOOLEAN, d DATE, t TIME, dt TIMESTAMP, f DOUBLE, "
    "c CURRENCY, l LARGEINT, m MEMO, wm WIDEMEMO, bl BLOB, by VARBYTES(8)";

std::string AllTypesInput() {
  const std::string big_memo(9000, 'q');  // more than two 4 KiB pages
  return std::string("i\ts\tw\tb\td\tt\tdt\tf\tc\tl\tm\twm\tbl\tby\n") +
         "1\ttab\\there\\\\back\\nnew\t\xce\xb1\xce\xb2\tt\t1753-02-28\t23:59:59.500\t2024-03-05 10:11:12\t0.1\t"
         "12.3456\t-9223372036854775808\tline one\\nline two\\ttab\t\xe2\x82\xac uro\t\\\\x00ff10\t\\\\x4142430000000000\n" +
         "2\t\\N\t\\N\tf\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t" + big_memo + "\t\\N\t\\N\t\\N\n" +
         "3\t\\N\t\\N\tt\t0001-01-01\t00:00:00\t1899-12-29\t-1.5e+300\t0\t0\t\\N\t\\N\t\\N\t\\N\n";
}

TEST_F(TableCommandsTest, DumpThenLoadRoundTripsEveryValue) {
  Create(FFile);
  const std::string input = AllTypesInput();
  CliResult r = Load({FFile, "T", "--fields", kAllTypes, "--index", "i"}, input);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string dumped = Dump(FFile, "T");
  EXPECT_EQ(dumped, input);

  // Into a new, encrypted file, through the dump's own text.
  const std::string second = FScratch.File("second.orb");
  Create(second, {"--cipher", "rijndael_128", "--password", "pw"});
  r = Load({second, "T", "--password", "pw", "--fields", kAllTypes}, dumped);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Dump(second, "T", {"--password", "pw"}), input);

  r = RunOrbdb({"tables", FFile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "T\t3\n");
  ExpectCheckOk(FFile);
  ExpectCheckOk(second, {"--password", "pw"});
}

TEST_F(TableCommandsTest, EmptyTextLoadsAsNullAndTooLongValuesAreRefused) {
  Create(FFile);
  CliResult r = Load({FFile, "T", "--fields", "s VARCHAR(3), m MEMO, bl BLOB, wm WIDEMEMO, b BYTES(2)"},
                     "s\tm\tbl\twm\tb\n\t\t\t\t\\\\x0102\n\\N\t\\N\t\\\\x\t\\N\t\\N\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Dump(FFile, "T"), "s\tm\tbl\twm\tb\n\\N\t\\N\t\\N\t\\N\t\\\\x0102\n\\N\t\\N\t\\N\t\\N\t\\N\n");
  const char* too_long[] = {"s\nabcd\n", "s\n\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\n"};
  for (const char* input : too_long) {
    r = Load({FFile, "T"}, input);
    EXPECT_EQ(r.status, 1) << input;
    EXPECT_NE(r.err.find("line 2: field 's': value too long"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunOrbdb({"tables", FFile}).out, "T\t2\n");
}

// Values that the fields cannot hold as given are refused with their line
// and field, never stored changed; the wide types take every character.
TEST_F(TableCommandsTest, ValuesThatWouldBeStoredChangedAreRefused) {
  Create(FFile);
  ASSERT_EQ(Load({FFile, "T", "--fields",
                  "s VARCHAR(10), w WIDEVARCHAR(10), m MEMO, wm WIDEMEMO, d DATE, t TIME, dt TIMESTAMP, "
                  "b BYTES(4), vb VARBYTES(4), c CURRENCY"},
                 "s\n")
                .status,
            0);
  struct Case {
    const char* field;
    std::string value;
    const char* error;
  };
  const Case cases[] = {
      {"s", "\xce\xa9mega", "holds '\xce\xa9', which is not in the code page"},
      {"m", "\xe6\x97\xa5", "holds '\xe6\x97\xa5', which is not in the code page"},
      {"s", "\xef\xbf\xbd", "not in the code page"},  // U+FFFD as such
      {"s", "ab\xff", "is not valid UTF-8 (at byte 3)"},
      {"w", "ab\xc3", "is not valid UTF-8"},
      {"wm", "\xed\xa0\x80", "is not valid UTF-8"},
      {"s", "ab\\000cd", "holds a NUL character"},
      {"w", "ab\\x00cd", "holds a NUL character"},
      {"m", std::string("ab\0cd", 5), "'ab\\000cd' holds a NUL character"},
      {"d", "2023x01x01.", "is not a valid"},
      {"d", "2023-01-01.", "is not a valid"},
      {"d", "2023-1-01", "is not a valid"},
      {"d", "2023-02-30", "is not a valid"},
      {"t", "12:00:00x", "is not a valid"},
      {"t", "12:00", "is not a valid"},
      {"dt", "2023-01-01 12:00:00.1234", "is not a valid"},
      {"dt", "2023-01-01x12:00:00", "is not a valid"},
      {"b", "\\\\x01", "takes exactly 4 bytes, the value has 1"},
      {"b", "\\\\x0102030405", "takes exactly 4 bytes, the value has 5"},
      {"vb", "\\\\x01", "takes exactly 4 bytes, the value has 1"},
      {"vb", "\\\\x0102030405", "takes exactly 4 bytes, the value has 5"},
      {"c", "1.23456", "has more than four decimals"},
  };
  for (const Case& c : cases) {
    const CliResult r = Load({FFile, "T"}, std::string(c.field) + "\n" + c.value + "\n");
    EXPECT_EQ(r.status, 1) << c.value;
    EXPECT_NE(r.err.find("line 2: field '" + std::string(c.field) + "': "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunOrbdb({"tables", FFile}).out, "T\t0\n");

  // What the byte-string fields refuse, the wide ones take as it is.
  const std::string accepted =
      "s\tw\tm\twm\td\tt\tdt\tb\tvb\tc\n"
      "caf\xc3\xa9 \xe2\x82\xac\t\xce\xa9mega\tx\t\xe6\x97\xa5\xf0\x9f\x98\x80\t2023-01-01\t12:00:00.5\t"
      "2023-01-01 12:00:00\t\\\\x01020304\t\\\\x00000001\t-12.3456\n";
  ASSERT_EQ(Load({FFile, "T"}, accepted).status, 0);
  EXPECT_EQ(Dump(FFile, "T"),
            "s\tw\tm\twm\td\tt\tdt\tb\tvb\tc\n"
            "caf\xc3\xa9 \xe2\x82\xac\t\xce\xa9mega\tx\t\xe6\x97\xa5\xf0\x9f\x98\x80\t2023-01-01\t12:00:00.500\t"
            "2023-01-01 12:00:00\t\\\\x01020304\t\\\\x00000001\t-12.3456\n");
}

// An error message quotes at most 80 characters of a bad value, escaped, so
// that it stays on one line.
TEST_F(TableCommandsTest, ErrorMessagesQuoteAShortEscapedValue) {
  Create(FFile);
  ASSERT_EQ(Load({FFile, "T", "--fields", "d DATE"}, "d\n").status, 0);
  const std::string value = "line\\none" + std::string(200, 'x');
  const CliResult r = Load({FFile, "T"}, "d\n" + value + "\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'line\\none" + std::string(72, 'x') + "'..."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(std::string(73, 'x')), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST_F(TableCommandsTest, ABadLineStopsTheLoadAndKeepsNothingOfItsTransaction) {
  Create(FFile);
  ASSERT_EQ(Load({FFile, "T", "--fields", "id INTEGER, name VARCHAR(5)"}, "id\tname\n1\ta\n").status, 0);
  struct Case {
    std::vector<std::string> extra;
    std::string input;
    std::string error;
    int rows_after;
  };
  const Case cases[] = {
      {{}, "id\tname\n2\tb\n3\tc\nx\td\n", "line 4: field 'id': 'x' is not a valid", 1},
      {{}, "id\tname\n2\tb\n3\n", "line 3: expected 2 fields, found 1", 1},
      {{}, "id\tname\n2\tb\\\n", "line 2: backslash at the end", 1},
      {{}, "id\tnope\n", "line 1: the table has no field 'nope'", 1},
      {{"--commit-every", "2"}, "id\tname\n2\tb\n3\tc\n4\td\n5\te\n6\n", "line 6: expected 2 fields", 5},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {FFile, "T"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CliResult r = Load(args, c.input);
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_EQ(RunOrbdb({"tables", FFile}).out, "T\t" + std::to_string(c.rows_after) + "\n") << c.input;
  }
  ExpectCheckOk(FFile);
}

TEST_F(TableCommandsTest, EngineErrorsGoToStandardError) {
  Create(FFile);
  // No such table and no --fields.
  CliResult r = Load({FFile, "Missing"}, "a\n1\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("30396"), std::string::npos) << r.err;
  r = RunOrbdb({"dump", FFile, "Missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("30396"), std::string::npos) << r.err;
  // A unique index refuses a duplicate: the line is named and nothing stays.
  ASSERT_EQ(Load({FFile, "U", "--fields", "k INTEGER"}, "k\n").status, 0);
  r = Load({FFile, "U", "--index", "k"}, "k\n1\n2\n");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunOrbdb({"tables", FFile});
  EXPECT_EQ(r.out, "U\t2\n");
  // A bad --fields list.
  r = Load({FFile, "V", "--fields", "a VARCHAR"}, "a\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("30161"), std::string::npos) << r.err;
  r = RunOrbdb({"tables", FScratch.File("none.orb")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.empty());
}

// Page numbers of the file's record pages, ascending (default page size).
std::vector<long> RecordPages(const std::string& file) {
  constexpr long kFirstPage = 380;
  constexpr long kPageSize = 4096;
  const std::string bytes = test::ReadWholeFile(file);
  std::vector<long> pages;
  for (long at = kFirstPage, page = 0; at + kPageSize <= static_cast<long>(bytes.size()); at += kPageSize, ++page) {
    const auto lo = static_cast<unsigned char>(bytes[static_cast<size_t>(at) + 8]);
    const auto hi = static_cast<unsigned char>(bytes[static_cast<size_t>(at) + 9]);
    if ((lo | hi << 8) == 10) pages.push_back(page);  // a table record page
  }
  return pages;
}

void ZeroPage(const std::string& file, long page) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(380 + page * 4096);
  f.write(std::string(4096, '\0').data(), 4096);
}

// A table that cannot be read to its end is never dumped with exit status
// 0: the rows read before the damage are written, then the engine's
// message, exit 1.
TEST_F(TableCommandsTest, DumpOfADamagedTableWritesWhatItReadsAndFails) {
  Create(FFile);
  std::string input = "id\tname\n";
  for (int i = 1; i <= 3000; ++i) input += std::to_string(i) + "\tname-" + std::to_string(i) + std::string(30, 'x') + "\n";
  ASSERT_EQ(Load({FFile, "Big", "--fields", "id INTEGER, name VARCHAR(50)"}, input).status, 0);
  ASSERT_EQ(Load({FFile, "Small", "--fields", "id INTEGER"}, "id\n1\n2\n3\n4\n5\n").status, 0);
  // Output that cannot be written is a failure with its reason, too.
  CliStdio full;
  full.append_output_to = "/dev/full";
  CliResult r = RunOrbdb({"dump", FFile, "Big"}, full);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot write to standard output: No space left on device"), std::string::npos) << r.err;

  const std::vector<long> pages = RecordPages(FFile);
  ASSERT_GE(pages.size(), 4u);
  ZeroPage(FFile, pages.back());               // Small's only page: no row can be read
  ZeroPage(FFile, pages[pages.size() - 4]);    // one of Big's last pages

  r = RunOrbdb({"dump", FFile, "Small"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "id\n");
  EXPECT_NE(r.err.find("Table 'Small' is incomplete: 0 of its 5 rows could be read"), std::string::npos) << r.err;

  r = RunOrbdb({"dump", FFile, "Big"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("20153"), std::string::npos) << r.err;
  // Every row before the damaged page, whole: the output is a prefix of
  // the input that ends with a line, and holds more than the first block.
  ASSERT_GT(r.out.size(), 1000u);
  EXPECT_EQ(r.out.back(), '\n');
  EXPECT_EQ(input.compare(0, r.out.size(), r.out), 0);
  EXPECT_LT(r.out.size(), input.size());
}

// A file left marked as needing repair (an interrupted commit) is not
// written to; reading it warns.
TEST_F(TableCommandsTest, AFileNeedingRepairIsNotWrittenAndReadingItWarns) {
  Create(FFile);
  ASSERT_EQ(Load({FFile, "T", "--fields", "id INTEGER"}, "id\n1\n").status, 0);
  {
    std::fstream f(FFile, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(42);  // the header's WriteChangesState: a commit was writing
    f.put('\x01');
  }
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--exclusive"}}) {
    std::vector<std::string> args = {FFile, "T"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliResult r = Load(args, "id\n2\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("needs repair"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("30637"), std::string::npos) << r.err;
  }
  CliResult r = RunOrbdb({"tables", FFile});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "T\t1\n");
  EXPECT_NE(r.err.find("warning: database file '" + FFile + "' needs repair"), std::string::npos) << r.err;
  r = RunOrbdb({"dump", FFile, "T"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "id\n1\n");
  EXPECT_NE(r.err.find("needs repair"), std::string::npos) << r.err;
}

TEST_F(TableCommandsTest, TwoLoadsIntoOneTableAtOnceBothSucceed) {
  Create(FFile);
  ASSERT_EQ(Load({FFile, "T", "--fields", "id INTEGER, name VARCHAR(10)", "--index", "id"}, "id\tname\n").status, 0);
  auto input = [](int from) {
    std::string text = "id\tname\n";
    for (int i = from; i < from + 2000; ++i) text += std::to_string(i) + "\tn" + std::to_string(i) + "\n";
    return text;
  };
  CliResult first;
  CliResult second;
  std::thread a([&] { first = Load({FFile, "T", "--commit-every", "50"}, input(0)); });
  std::thread b([&] { second = Load({FFile, "T", "--commit-every", "50"}, input(100000)); });
  a.join();
  b.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(RunOrbdb({"tables", FFile}).out, "T\t4000\n");
  const std::string dumped = Dump(FFile, "T");
  for (int id : {0, 1999, 100000, 101999}) {
    EXPECT_NE(dumped.find("\n" + std::to_string(id) + "\tn" + std::to_string(id) + "\n"), std::string::npos) << id;
  }
  ExpectCheckOk(FFile);
}

}  // namespace
}  // namespace orb
