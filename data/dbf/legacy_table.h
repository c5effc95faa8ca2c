// The legacy table objects (tProduto, tClientes, tFornecedor): read-only record sources over a
// dBASE table file, walked in file order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/dbf/dbf_table.h"
#include "data/record/record_source.h"

namespace importacao {

class LegacyDatabase;

// The kind a field of the file has when a table object derives its fields: character -> Text
// (size: the width), numeric (N, F), currency, doubles -> Float, date -> Date, logical ->
// Boolean, Visual FoxPro and dBASE 7 integers -> Integer, date-times and time stamps ->
// DateTime, memo -> Memo, general and picture -> Graphic, the other binary types -> Blob.
FieldKind kindOfDbfField(const DbfField& field) noexcept;

// A legacy table object. Records come in file order; deleted records are neither visited nor
// counted; record number is the record's 1-based position in the file (it jumps over deleted
// records, and after the next() that sets end-of-data it is still the last record's number).
// Reads never fail: blank values are null (reading as "", 0 or the zero date-time).
//
// With declared fields (declareField before open), every declared field must find a field of
// the file by name without regard to case and fit its kind: a declared text needs a character
// field, a declared date a date field, and a declared number of any kind (Float, SmallInt,
// Integer, Word, LargeInt, Bcd) any numeric field of the file (a fraction is rounded halves to
// even for the integer kinds). Fields of the file that are not declared cannot be reached.
// Without declared fields, one field per field of the file, in file order (kindOfDbfField).
//
// Never writable: append and edit throw "<name>: Cannot modify a read-only dataset". open()
// throws DbfError for a file that cannot be found or read (see LegacyDatabase::openTableFile and
// DbfTable), and first() and next() for a file cut short by another program since the open.
class LegacyTable final : public RecordSource {
 public:
  // A table object of `database`: open() connects the database when needed and reads the file
  // named `tableName` ("cfa1010.DBF", found without regard to case) in its folder. Registers
  // with the database, which closes it on disconnect. `database` must outlive this object.
  LegacyTable(std::string name, std::string tableName, LegacyDatabase& database);

  // A table object over a table already read (previews, tests): every open presents `table`.
  LegacyTable(std::string name, DbfTable table);

  ~LegacyTable() override;

  // The file this object reads: "cfa1010.DBF".
  const std::string& tableName() const noexcept { return tableName_; }

  // While open: the file as read (header, fields, code page); nullptr when inactive.
  const DbfTable* table() const noexcept { return open_ ? &*open_ : nullptr; }

  // While open: what was odd about the file (a header count that disagrees with its size, a
  // language byte naming a code page we cannot read...); empty when inactive. The runner prints
  // these on its standard error.
  const std::vector<std::string>& warnings() const noexcept;

 protected:
  std::vector<ColumnInfo> doOpen() override;
  void doClose() noexcept override;
  bool doFirst() override;
  bool doNext() override;
  bool kindFits(FieldKind declared, FieldKind actual) const override;
  long long doRecordCount() override;
  long long doRecordNumber() const override;

 private:
  friend class LegacyDatabase;

  // How load() reads a bound column, decided once when the fields are bound: the usual
  // character, number and date columns straight into their fields, the rest through decodeField.
  enum class Path : std::uint8_t { Text, Number, Date, General };
  struct Binding {
    const DbfField* column;
    Field* field;
    Path path;
    std::size_t offset;  // of the column inside the record
    std::size_t length;
  };

  void bindColumns();
  void load();  // decodes the current record into the bound fields

  LegacyDatabase* database_ = nullptr;
  std::string tableName_;
  std::optional<DbfTable> given_;
  std::optional<DbfTable> open_;
  std::vector<Binding> bindings_;
  bool bound_ = false;
  std::size_t slot_ = 0;  // physical position of the current record
  std::string scratch_;   // converted text of the field being read, reused across the walk
  const std::array<char, 256>* toAnsi_ = nullptr;  // the text's conversion; null: none needed
};

}  // namespace importacao
