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
// assigned column still to hold the value it was read with; a row that was changed there or
// deleted since it was read is not written and the post fails (nothing is locked meanwhile).
// Read-only and auto-numbered columns are never written. Every statement is committed as it
// completes.
//
// Store failures raise StoreError with the driver's own text (its component tags and trailing
// blanks, control characters and full stops removed), without the query's name in front.
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
  struct Column {
    odbc::ColumnDescription description;
    FieldKind kind = FieldKind::Unknown;
    int size = 0;
  };
  using Row = std::vector<Value>;

  void runMain();  // binds and executes the statement on statement_
  void fillFields();
  Value readCell(odbc::Statement& statement, SQLUSMALLINT number, const Column& column);
  // The values of the statement's markers, converted into markerBuffers_.
  std::vector<odbc::ParameterBuffer>& bindMarkers();
  static odbc::ParameterBuffer& nextBuffer(std::vector<odbc::ParameterBuffer>& buffers, std::size_t& used);
  void postInsert(std::span<Field* const> modified);
  void postUpdate(std::span<Field* const> modified);
  // The statement, its text prepared once per connection and reused while the text stays.
  odbc::Statement& prepared(std::unique_ptr<odbc::Statement>& slot, std::u16string& preparedText,
                            const std::u16string& text);
  void discard(std::unique_ptr<odbc::Statement>& slot, std::u16string& preparedText) noexcept;
  // The insert or update statement for a post, identified by the columns it names.
  odbc::Statement& writer(const std::vector<int>& signature, const std::function<std::string()>& text);
  // The table posts write into: as it goes into the statements, its name and schema as the
  // store's metadata spells them. Throws when the query reads no single table.
  struct WriteTable {
    std::string rendered;
    std::string name;
    std::string schema;
  };
  WriteTable writeTable() const;

  std::string text_;
  ScannedStatement scanned_;
  std::u16string sendText_;
  std::optional<std::string> updateTable_;
  std::optional<std::string> selectTable_;  // the one table text_ reads, found as the text is set
  ParameterList parameters_;

  std::unique_ptr<odbc::Statement> statement_;
  std::u16string statementPrepared_;
  std::unique_ptr<odbc::Statement> writer_;  // insert and update
  std::u16string writerPrepared_;
  std::vector<int> writerSignature_;
  // Parameter storage kept from one execution to the next, so a statement kept prepared keeps
  // its bindings and only the values change.
  std::vector<odbc::ParameterBuffer> markerBuffers_;
  std::u16string scratch_;  // text as fetched, before its conversion
  // Texts the store holds that code page 1252 cannot: the field reads them with '?' in place of
  // what it cannot hold, so an update checks the row against the store's own text instead.
  struct StoredText {
    std::size_t row;
    std::size_t column;
    std::u16string text;
  };
  std::vector<StoredText> storedTexts_;
  // The value an update compares a column of the current row with: what was read.
  Value originalValue(std::size_t column) const;
  std::vector<odbc::ParameterBuffer> writerBuffers_;

  // The result columns of a statement, described once while it stays prepared.
  struct Shape {
    std::vector<Column> columns;
    std::vector<ColumnInfo> infos;
  };
  std::shared_ptr<const Shape> describe(odbc::Statement& statement, SQLSMALLINT count);
  std::shared_ptr<const Shape> statementShape_;  // statement_'s
  std::shared_ptr<const Shape> shape_;           // the open result's
  std::vector<Row> rows_;
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
  std::unique_ptr<odbc::Statement> statement_;
  std::u16string prepared_;
  std::vector<odbc::ParameterBuffer> buffers_;
};

// Fills `buffer` to carry `value` to a marker, keeping the capacity of its strings (see
// parameterBuffer).
void fillParameterBuffer(odbc::ParameterBuffer& buffer, const Value& value, FieldKind kind, int size,
                         const odbc::ColumnDescription* column);

// The buffer that carries `value` to a marker: the C type from `kind` (the parameter's declared
// type, or the field's kind; Unknown: from the value's form), the SQL type from `sqlType` when
// given (the column's own type), else from the kind. Text never cut: the column size grows to
// the value's length. Exposed for tests.
odbc::ParameterBuffer parameterBuffer(const Value& value, FieldKind kind, int size,
                                      std::optional<odbc::ColumnDescription> column = std::nullopt);

}  // namespace importacao
