// The dataset layer's table: a Paradox table named by database (an alias or
// a folder) and table name, opened shared or exclusive, created from field
// definitions, browsed record by record and extended with Insert/Post.
// Failures raise EDBEngineError (engine codes) or EDatabaseError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DbExceptions.h"
#include "FieldText.h"
#include "FieldValue.h"
#include "FieldTypes.h"
#include "ParadoxTable.h"
#include "TableLock.h"
#include "TableWriter.h"

namespace engine {

enum TTableType { ttDefault, ttParadox };
enum TDataSetState { dsInactive, dsBrowse, dsInsert };

// One field definition for CreateTable. Size is the width of A fields, the
// byte count of Y fields, the leader length of blob fields (0..240; at least
// 1 for M) and the number of decimals of # fields; other types ignore it.
struct TFieldDef {
  std::string Name;
  FieldType DataType = FieldType::Alpha;
  int Size = 0;
  bool Required = false;
};

class TFieldDefs {
 public:
  void Add(const std::string& name, FieldType type, int size = 0, bool required = false) {
    items_.push_back({name, type, size, required});
  }
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }

 private:
  std::vector<TFieldDef> items_;
};

class TTable;

// A field of the current record (or of the record being inserted).
class TField {
 public:
  TField(TTable* table, int index) : table_(table), index_(index) {}
  const std::string& FieldName() const;
  FieldType DataType() const;
  bool IsNull() const;
  // Text in UTF-8: A and M as stored, numbers, dates "YYYY-MM-DD" ...
  std::string AsString() const;
  void SetAsString(const std::string& text);
  double AsDateTime() const;
  void SetAsDateTime(double value);
  std::int64_t AsInteger() const;
  double AsFloat() const;
  void Clear();

 private:
  TTable* table_;
  int index_;
};

class TTable {
 public:
  TTable() = default;
  ~TTable();
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;

  std::string DatabaseName;  // alias or folder
  std::string TableName;     // with or without .DB
  TTableType TableType = ttParadox;
  bool Exclusive = false;
  TFieldDefs FieldDefs;
  int KeyFields = 0;     // CreateTable: the first n fields form the key
  std::string Password;  // CreateTable: protects the new table
  // Whether an open of a protected table that no listed password fits asks
  // the session's password request (which shows a window); without it the
  // open fails.
  bool AskPassword = true;
  // Opens for the table's structure alone (fields, indexes, checks): the
  // records are neither read nor checked, and cannot be browsed.
  bool StructureOnly = false;

  void Open();
  void Close();
  bool Active() const { return state_ != dsInactive; }
  TDataSetState State() const { return state_; }
  // Creates the table from FieldDefs, replacing an existing one.
  void CreateTable();

  void Insert();
  void Append() { Insert(); }
  void Post();
  void Cancel();

  void First();
  void Next();
  bool Eof() const { return eof_; }
  int RecordCount() const;

  TField& FieldByName(const std::string& name);
  TField* FindField(const std::string& name);
  int FieldCount() const;

  // The engine handles the direct calls work on.
  ParadoxTable* Handle();
  const std::string& TablePath() const { return path_; }
  std::string DatabasePath() const;

 private:
  friend class TField;
  std::string ResolvePath() const;
  void Raise(Status status) const;
  void LoadFields();
  void Reopen();
  const FieldDesc& Desc(int index) const;
  FieldValue CurrentValue(int index) const;

  TDataSetState state_ = dsInactive;
  std::string path_;
  TableLock lock_;
  std::unique_ptr<ParadoxTable> table_;
  std::unique_ptr<TableWriter> writer_;
  std::unique_ptr<TableCursor> cursor_;
  bool eof_ = true;
  bool structure_only_ = false;  // as opened
  std::vector<TField> fields_;
  std::vector<FieldValue> buffer_;  // the record being inserted
};

}  // namespace engine
