// orbdb load: rows from standard input into a table.
//
// The input is COPY text (see copy_text.h): a first line naming the fields,
// then one row a line. Fields the header leaves out are null (or their
// default); an empty text is null for strings, memos and BLOBs, as the
// engine stores no empty values. All rows go in one transaction, or one every --commit-every
// rows; a bad line stops the load with its line number, and what that
// transaction had inserted is rolled back.

#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/field_types.h"
#include "engine/base/orb_exception.h"
#include "engine/cursor/local_blob_stream.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/copy_stream.h"
#include "tools/orbdb/copy_text.h"
#include "tools/orbdb/copy_value.h"
#include "tools/orbdb/db_options.h"
#include "tools/orbdb/field_spec.h"
#include "tools/orbdb/progress.h"
#include "tools/orbdb/table_access.h"

namespace orbdb {
namespace {

struct LoadOptions {
  DatabaseOptions database;
  std::string table;
  std::string fields;
  std::vector<std::string> indexes;
  int64_t commit_every = 0;
};

std::vector<std::u16string> SplitNames(const std::string& list) {
  std::vector<std::u16string> names;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t first = name.find_first_not_of(' ');
    const size_t last = name.find_last_not_of(' ');
    name = first == std::string::npos ? "" : name.substr(first, last - first + 1);
    if (name.empty()) throw UsageError("--index: empty field name in '" + list + "'");
    names.push_back(orb::Utf8ToWide(name));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
}

// Creates the table from --fields when it does not exist; without --fields
// opening the missing table raises the engine's error later.
void CreateTableIfMissing(orb::TORBLocalSession& session, const LoadOptions& options) {
  if (options.fields.empty() || session.TableExists(orb::Utf8ToWide(options.table))) return;
  orb::TORBFieldDefs field_defs;
  ParseFieldSpec(options.fields, field_defs);
  orb::TORBLocalCursor creator;
  creator.FSession = &session;
  creator.FTableName = orb::Utf8ToWide(options.table);
  creator.CreateTable(field_defs, orb::TORBIndexDefs(), orb::TORBConstraintDefs());
}

// Adds an index over each --index list that no index serves yet.
void AddIndexes(orb::TORBLocalCursor& cursor, const LoadOptions& options) {
  for (const std::string& list : options.indexes) {
    const std::vector<std::u16string> names = SplitNames(list);
    const std::vector<std::u16string> ascending(names.size(), u"ASC");
    const std::vector<std::u16string> case_sensitive(names.size(), u"CS");
    if (cursor.IndexExists(names, ascending, case_sensitive)) continue;
    orb::TORBIndexDef def;
    std::u16string index_name = u"idx";
    for (const std::u16string& name : names) index_name += u"_" + name;
    def.SetName(std::u16string_view(index_name));
    def.SetColumnCount(static_cast<int32_t>(names.size()));
    for (size_t i = 0; i < names.size(); ++i) def.GetIndexColumn(static_cast<int32_t>(i))->SetFieldName(names[i]);
    cursor.AddIndex(def);
  }
}

// Field numbers of the header's names.
std::vector<int32_t> HeaderFields(orb::TORBLocalCursor& cursor, const std::string& header) {
  std::vector<int32_t> numbers;
  for (const CopyField& name : ParseCopyRow(header)) {
    if (!name || name->empty()) throw CopyFormatError("the header names an empty field");
    const int32_t number = cursor.FFieldDefs.GetDefNumberByName(std::u16string_view(orb::Utf8ToWide(*name)));
    if (number < 0) throw CopyFormatError("the table has no field '" + *name + "'");
    for (int32_t seen : numbers) {
      if (seen == number) throw CopyFormatError("the header names field '" + *name + "' twice");
    }
    numbers.push_back(number);
  }
  return numbers;
}

void WriteBlob(orb::TORBLocalCursor& cursor, int32_t field_no, const std::string& bytes) {
  orb::TORBLocalBLOBStream* stream = cursor.InternalCreateBlobStream(true, false, field_no, orb::bomWrite, false);
  if (stream == nullptr) throw CopyFormatError("the field cannot hold a BLOB value");
  try {
    stream->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  } catch (...) {
    cursor.InternalCloseBLOB(stream);
    throw;
  }
  cursor.InternalCloseBLOB(stream);
}

// Strings longer than their field are refused rather than cut. Byte fields
// keep no length of their own, so a BYTES(n) or VARBYTES(n) value must have
// exactly n bytes: a shorter one would read back padded.
void CheckFits(const orb::TORBVariant& value, const orb::TORBFieldDef& def) {
  if (def.FBaseFieldType == orb::bftBytes || def.FBaseFieldType == orb::bftVarBytes) {
    if (value.DataSize() != def.FFieldSize) {
      throw CopyFormatError("the field takes exactly " + std::to_string(def.FFieldSize) + " bytes, the value has " +
                            std::to_string(value.DataSize()));
    }
    return;
  }
  if (value.IsStringDataType() && value.StrLen() > def.FFieldSize) {
    throw CopyFormatError("value too long (" + std::to_string(value.StrLen()) + " > " +
                          std::to_string(def.FFieldSize) + ")");
  }
}

// `value` is scratch space kept from row to row.
void SetField(orb::TORBLocalCursor& cursor, int32_t field_no, const CopyField& text, orb::TORBVariant& value) {
  const orb::TORBFieldDef& def = *cursor.FFieldDefs.GetDef(field_no);
  const bool blob = orb::IsBLOBFieldType(def.FBaseFieldType);
  // The engine stores no empty values: empty text is null.
  if (!text || (text->empty() && (blob || orb::IsStringFieldType(def.FBaseFieldType)))) {
    cursor.SetFieldValue(orb::TORBVariant(def.FBaseFieldType), field_no, true);
  } else if (blob) {
    const std::string bytes = CopyTextToBlob(*text, def.FBaseFieldType);
    if (bytes.empty()) {
      cursor.SetFieldValue(orb::TORBVariant(def.FBaseFieldType), field_no, true);
    } else {
      WriteBlob(cursor, field_no, bytes);
    }
  } else {
    CopyTextToValue(*text, def.FBaseFieldType, value);
    CheckFits(value, def);
    cursor.SetFieldValue(value, field_no, true);
  }
}

// Inserts the first `count` fields of `row`.
void InsertRow(orb::TORBLocalCursor& cursor, const std::vector<int32_t>& fields, const std::vector<CopyField>& row,
               size_t count, std::vector<orb::TORBVariant>& values) {
  if (count != fields.size()) {
    throw CopyFormatError("expected " + std::to_string(fields.size()) + " fields, found " + std::to_string(count));
  }
  cursor.InternalInitRecord(cursor.FCurrentRecordBuffer, true);
  for (size_t i = 0; i < fields.size(); ++i) {
    try {
      SetField(cursor, fields[i], row[i], values[i]);
    } catch (const CopyFormatError& e) {
      throw CopyFormatError("field '" + orb::AnsiToUtf8(cursor.FFieldDefs.GetDef(fields[i])->GetName()) + "': " +
                            e.what());
    }
  }
  cursor.InternalPost(true);
  orb::Check(cursor.FErrorCode, cursor.FErrorMessage);
}

// Bytes of standard input when it is a regular file, else 0.
int64_t InputSize() {
  struct stat st {};
  if (fstat(0, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
  return 0;
}

int RunLoad(const LoadOptions& options) {
  std::unique_ptr<orb::TORBLocalSession> session = ConnectDatabase(options.database, false);
  CreateTableIfMissing(*session, options);
  TTableCursor table(*session, options.table);
  orb::TORBLocalCursor& cursor = table.Cursor();
  AddIndexes(cursor, options);

  int64_t line_no = 0;
  int64_t rows = 0;
  TProgress progress("loading", InputSize());
  session->StartTransaction();
  try {
    TCopyLineReader input(0);
    std::string_view line;
    std::vector<int32_t> fields;
    std::vector<CopyField> row;
    std::vector<orb::TORBVariant> values;
    while (input.NextLine(line)) {
      ++line_no;
      if (line_no == 1) {
        fields = HeaderFields(cursor, std::string(line));
        values.resize(fields.size());
        continue;
      }
      if (line == "\\.") break;  // COPY's end-of-data marker
      const size_t count = ParseCopyRow(line, row);
      InsertRow(cursor, fields, row, count, values);
      ++rows;
      if (options.commit_every > 0 && rows % options.commit_every == 0) {
        session->Commit(false);
        session->StartTransaction();
      }
      progress.Update(input.BytesRead());
    }
    if (line_no == 0) throw CopyFormatError("no header line naming the fields");
    session->Commit(false);
  } catch (const std::exception& e) {
    try {
      session->Rollback();
    } catch (...) {
    }
    std::cerr << "orbdb: ";
    if (line_no > 0) std::cerr << "line " << line_no << ": ";
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

void AddLoadCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("load", "insert rows read from standard input (COPY text format) into a table");
  auto options = std::make_shared<LoadOptions>();
  AddDatabaseOptions(sub, options->database);
  sub->add_option("TABLE", options->table, "the table")->required();
  sub->add_option("--fields", options->fields,
                  "create the table when it does not exist, with these fields: \"NAME TYPE, NAME VARCHAR(20), ...\"");
  sub->add_option("--index", options->indexes, "add an index over these fields (FIELD[,FIELD...]); may be repeated");
  AddNumberOption(sub, "--commit-every", &options->commit_every, 1, INT64_MAX,
                  "commit after every N rows instead of once at the end");
  OnRun(sub, [options] { return RunLoad(*options); });
}

const CommandRegistration kLoad{"load", AddLoadCommand};

}  // namespace
}  // namespace orbdb
