// The store's query objects (aProdutos, aClientes, ..., EstInicial) and its stored-procedure
// object (sp_Estoque).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/record/parameter.h"
#include "data/record/record_source.h"
#include "data/store/odbc.h"
#include "data/store/parameter_scan.h"
#include "data/store/store_connection.h"

namespace importacao {

// The columns of a result as the driver describes them, with the field kind and size each
// maps to: described once while the statement that gives them stays prepared.
struct ResultShape {
  struct Column {
    odbc::ColumnDescription description;
    FieldKind kind = FieldKind::Unknown;
    int size = 0;
  };
  std::vector<Column> columns;
  std::vector<ColumnInfo> infos;
};

// A statement prepared on the store connection and kept for the next execution, with the text
// it was prepared from and, once described, the shape of its result. A use that fails discards
// it, so it is prepared anew next time: psqlODBC leaks when a prepared statement that failed is
// executed again, and the failure may have left it in any state. (PostgreSQL refuses a kept
// statement once a table it reads has changed shape, "cached plan must not change result
// type": that execution fails, the next one prepares afresh.)
class KeptStatement {
 public:
  // The statement prepared from `text`: the one kept when it was prepared from the same text and
  // the connection keeps prepared statements, else a new one (the shape forgotten).
  odbc::Statement& prepare(StoreConnection& store, const std::u16string& text);
  bool prepared() const noexcept { return statement_ != nullptr; }

  // Runs `work` on the prepared statement and returns what it returns. When it throws, the
  // statement is discarded and the error passes on.
  template <class Work>
  decltype(auto) use(Work&& work) {
    try {
      return work(*statement_);
    } catch (...) {
      discard();
      throw;
    }
  }

  void discard() noexcept;

  const std::shared_ptr<const ResultShape>& shape() const noexcept { return shape_; }
  void setShape(std::shared_ptr<const ResultShape> shape) noexcept { shape_ = std::move(shape); }

 private:
  std::unique_ptr<odbc::Statement> statement_;
  std::u16string text_;
  std::shared_ptr<const ResultShape> shape_;
};

// What finds a post's statement without building its text: insert or update, the columns it
// sets and, for an update, the columns its row check compares, each with whether the value read
// was null (compared by "is null", with no marker). Equal keys make equal texts while the
// result's columns stay those the statement was made for.
struct PostKey {
  struct Compared {
    std::size_t column = 0;
    bool originalIsNull = false;
    friend bool operator==(const Compared&, const Compared&) = default;
  };
  bool update = false;
  std::vector<std::size_t> set;
  std::vector<Compared> compared;
  friend bool operator==(const PostKey&, const PostKey&) = default;
};

// A statement with named parameters, run on the store connection.
//
// Open sends the statement, its ":name" parameters bound by position (each value converted to
// its parameter's declared type: an integer given to a text parameter arrives as its digits, a
// text is never cut), and fetches every row into the program. The fields are the declared ones,
// bound to the columns of the same name, or one per column derived from the column's type.
//
// Post writes the row back into the table the statement reads ("select ... from <table> where
// ..."): an insert of exactly the assigned columns, or an update of exactly the assigned columns
// of the row that was read, found by the table's primary key. The update also requires each
// assigned column still to hold the value it was read with (on SQL Server compared through the
// column's own type where a parameter's would differ: comparisonCast); a row that was changed
// there or deleted since it was read is not written and the post fails (nothing is locked
// meanwhile). Read-only and auto-numbered columns are never written. A post and an execute read
// every result their statement gives, and an error in any of them (a trigger's, after a first
// result that succeeded) fails them. Every statement is committed as it completes.
//
// Store failures raise StoreError with the driver's own text (its first error record, the
// component tags and trailing blanks, control characters and full stops removed), without the
// query's name in front.
class StoreQuery : public RecordSource, public StoreCommand {
 public:
  StoreQuery(std::string name, StoreConnection& connection);
  ~StoreQuery() override;

  // Declares a parameter (before setStatementText). Returns it.
  Parameter& declareParameter(Parameter parameter);

  // Sets the statement text and scans its named parameters: each name that no declared
  // parameter has gets a parameter of no type at the end of the list. Only while closed
  // (DataError "<name>: Cannot perform this operation on an open dataset").
  void setStatementText(std::string text);
  const std::string& statementText() const noexcept { return text_; }
  // The text as sent, with "?" markers, and the parameter name of each marker.
  const ScannedStatement& scannedStatement() const noexcept { return scanned_; }

  // The table posts write into. Default: the one the statement reads, when it reads one table.
  void setUpdateTable(std::string table) { updateTable_ = std::move(table); }
  std::optional<std::string> updateTable() const;

  ParameterList& parameters() noexcept { return parameters_; }
  const ParameterList& parameters() const noexcept { return parameters_; }
  // Parameter by name ("<name>: Parameter '<asked>' not found") and by 0-based position
  // ("List index out of bounds (<n>)").
  Parameter& parameterByName(std::string_view name) { return parameters_.byName(name); }
  Parameter& parameter(long long index) { return parameters_.at(index); }

  // While open: the columns an update finds its row by, as the store names them (the table's
  // primary key, else its first unique index). Throws the DataError the update itself would:
  // "<name>: Table '<table>' has no primary key, so its rows cannot be updated", or "<name>:
  // Cannot modify a read-only dataset" for a query that reads no single table.
  std::vector<std::string> updateKey() const;

  // Runs the statement once with its parameters and fetches nothing (the insert of
  // EstInicial). Returns the number of rows it affected, -1 when the driver cannot say. The
  // query's own state and fields are not touched.
  long long execute();

  // StoreCommand
  void connectionClosing() noexcept override;

 protected:
  std::vector<ColumnInfo> doOpen() override;
  void doClose() noexcept override;
  bool doFirst() override;
  bool doNext() override;
  void doPost(std::span<Field* const> modified, bool inserting) override;
  bool canModify() const override;
  bool kindFits(FieldKind declared, FieldKind actual) const override;

 private:
  using Column = ResultShape::Column;
  using Row = std::vector<Value>;
  // Texts the store holds that code page 1252 cannot: the field reads them with '?' in place of
  // what it cannot hold, so an update checks the row against the store's own text instead.
  struct StoredText {
    std::size_t row;
    std::size_t column;
    std::u16string text;
  };
  // A modified field that goes into the row, with the column it is bound to.
  struct Assigned {
    std::size_t column;
    const Field* field;
  };

  void fillFields();
  Value readCell(odbc::Statement& statement, SQLUSMALLINT number, const Column& column,
                 std::size_t row, std::vector<StoredText>& storedTexts);
  // The values of the statement's markers, converted into markerBuffers_.
  std::vector<odbc::ParameterBuffer>& bindMarkers();
  static odbc::ParameterBuffer& nextBuffer(std::vector<odbc::ParameterBuffer>& buffers,
                                           std::size_t& used);
  // The modified fields bound to columns the store lets a post write (read-only and
  // auto-numbered columns never are), in the order of their first assignment.
  std::vector<Assigned> writableAssignments(std::span<Field* const> modified) const;
  void postInsert(std::span<Field* const> modified);
  void postUpdate(std::span<Field* const> modified);
  // Runs the post's statement with writerBuffers_ bound, the statement kept for `key` or one
  // prepared from `text()`; returns whether it changed a row.
  bool runWriter(const PostKey& key, const std::function<std::string()>& text);
  // The table posts write into: as it goes into the statements, its name and schema as the
  // store's metadata spells them. Throws when the query reads no single table.
  struct WriteTable {
    std::string rendered;
    std::string name;
    std::string schema;
  };
  WriteTable writeTable() const;
  // The columns of the result that hold the table's key (its primary key, else its first unique
  // index), in key order. Fails when the table has none or one of them is not in the result.
  std::vector<std::size_t> keyColumnIndexes(const WriteTable& table) const;
  // The value an update compares a column of the current row with: what was read.
  Value originalValue(std::size_t column) const;
  std::shared_ptr<const ResultShape> describe(odbc::Statement& statement, SQLSMALLINT count);

  std::string text_;
  ScannedStatement scanned_;
  std::u16string sendText_;
  std::optional<std::string> updateTable_;
  std::optional<std::string> selectTable_;  // the one table text_ reads, found as the text is set
  ParameterList parameters_;

  KeptStatement select_;  // the statement itself, opened or executed
  KeptStatement writer_;  // a post's insert or update
  PostKey writerKey_;     // what writer_ was made for
  // Parameter storage kept from one execution to the next, so a statement kept prepared keeps
  // its bindings and only the values change.
  std::vector<odbc::ParameterBuffer> markerBuffers_;
  std::vector<odbc::ParameterBuffer> writerBuffers_;
  std::u16string scratch_;  // text as fetched, before its conversion

  std::shared_ptr<const ResultShape> shape_;  // the open result's
  std::vector<Row> rows_;
  std::vector<StoredText> storedTexts_;
  std::size_t current_ = 0;
};

// A stored procedure called on the store connection with its parameters by position.
//
// How a procedure is called depends on the store (detected from the driver): SQL Server
// "{? = call name(?,...)}" with the return value bound; PostgreSQL "select name(?,...)" on a
// function of that name; SQLite an insert of one row of the inputs into a view of that name
// whose INSTEAD OF INSERT trigger does the work. Results are not read.
class StoredProc : public StoreCommand {
 public:
  StoredProc(std::string name, StoreConnection& connection);
  ~StoredProc() override;

  const std::string& name() const noexcept { return name_; }

  // The procedure's name as the store knows it ("Sp_EstoqueInicial;1": group 1).
  void setProcedureName(std::string name) { procedureName_ = std::move(name); }
  const std::string& procedureName() const noexcept { return procedureName_; }

  Parameter& declareParameter(Parameter parameter) { return parameters_.add(std::move(parameter)); }
  ParameterList& parameters() noexcept { return parameters_; }
  Parameter& parameter(long long index) { return parameters_.at(index); }
  Parameter& parameterByName(std::string_view name) { return parameters_.byName(name); }

  // Calls the procedure once with the input parameters' values (converted to their declared
  // types). The return value, where the store gives one, lands in the return-value parameter.
  // Store failures raise StoreError with the driver's text.
  void execProc();

  // The call statement as sent to the store of the open connection.
  std::string callText() const;

  void connectionClosing() noexcept override;

 private:
  std::string name_;
  std::string procedureName_;
  ParameterList parameters_;
  KeptStatement call_;
  std::vector<odbc::ParameterBuffer> buffers_;
};

// Fills `buffer` to carry `value` to a marker, keeping the capacity of its strings (see
// parameterBuffer).
void fillParameterBuffer(odbc::ParameterBuffer& buffer, const Value& value, FieldKind kind,
                         int size, const odbc::ColumnDescription* column);

// The buffer that carries `value` to a marker: the C type from `kind` (the parameter's declared
// type, or the field's kind; Unknown: from the value's form), the SQL type from `sqlType` when
// given (the column's own type), else from the kind. Text never cut: the column size grows to
// the value's length. Exposed for tests.
odbc::ParameterBuffer parameterBuffer(const Value& value, FieldKind kind, int size,
                                      std::optional<odbc::ColumnDescription> column = std::nullopt);

}  // namespace importacao
