// The legacy database object ConDb: the folder of the legacy dBASE tables, as a named database
// with a parameter list, and the table objects that read from it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/dbf/dbf_table.h"
#include "data/dbf/legacy_table.h"

namespace importacao {

// The database object. Its parameter list starts as "PATH=", "DEFAULT DRIVER=PARADOX",
// "ENABLE BCD=FALSE"; only PATH means anything here (the folder of the tables), the others are
// kept as they stand. Parameter names compare without regard to case.
//
// While disconnected, PATH and the code page override may be set; connect() makes the folder
// the place where the table objects find their files, and disconnect() closes every table
// object open on it. A PATH that is absent or empty means the process's current working folder.
//
// Errors: DataError "<name>: Cannot perform this operation on an open database" for a setting
// made while connected; DbfError naming the folder or the file for what cannot be read.
// Not copyable or movable (table objects point at it).
class LegacyDatabase {
 public:
  explicit LegacyDatabase(std::string name = "ConDb");
  ~LegacyDatabase();
  LegacyDatabase(const LegacyDatabase&) = delete;
  LegacyDatabase& operator=(const LegacyDatabase&) = delete;
  LegacyDatabase(LegacyDatabase&&) = delete;
  LegacyDatabase& operator=(LegacyDatabase&&) = delete;

  const std::string& name() const noexcept { return name_; }  // "ConDb"
  static constexpr std::string_view kDatabaseName = "Arquivos";
  static constexpr std::string_view kDriverName = "STANDARD";

  // The parameter list, "NAME=value" entries in order.
  const std::vector<std::string>& params() const noexcept { return params_; }
  // The value of the named entry; nullopt when there is none.
  std::optional<std::string> param(std::string_view paramName) const;
  // Replaces the value of the named entry in place, or appends "NAME=value" at the end when
  // there is none; an empty value removes the entry instead. Only while disconnected.
  void setParam(std::string_view paramName, std::string_view value);
  // setParam("PATH", folder).
  void setPath(std::string_view folder) { setParam("PATH", folder); }

  // The code page every table is read in, over its own (.cpg file, language byte): the runner's
  // option or the settings key. nullopt: each table's own. Only while disconnected; a code page
  // we cannot read is refused when a table is opened.
  void setCodePageOverride(std::optional<int> codePage);
  std::optional<int> codePageOverride() const noexcept { return codePage_; }

  bool connected() const noexcept { return connected_; }
  // Checks that the folder can be listed and connects. Throws DbfError naming the folder when
  // it cannot. Nothing when connected.
  void connect();
  // Closes every table object of this database, then disconnects. Nothing when disconnected.
  void disconnect() noexcept;

  // The folder of the tables: PATH, or the current working folder when PATH is absent or empty.
  std::filesystem::path folder() const;

  // Connects when needed, finds `tableName` in the folder without regard to case and reads it
  // with the code page override. Throws DbfError: "Table 'cfa1010.DBF' not found in folder
  // '/dados'", or the reader's own message.
  DbfTable openTableFile(std::string_view tableName);

 private:
  friend class LegacyTable;
  void attach(LegacyTable& table);
  void detach(LegacyTable& table) noexcept;
  void requireDisconnected() const;

  std::string name_;
  std::vector<std::string> params_;
  std::optional<int> codePage_;
  bool connected_ = false;
  std::vector<LegacyTable*> tables_;
};

// Declares the 71 fields of the customer table CFA2010.DBF on `table` (inactive).
void declareClientesFields(LegacyTable& table);
// Declares the 20 fields of the supplier table CFA3010.DBF on `table` (inactive).
void declareFornecedorFields(LegacyTable& table);

// The legacy database object and its three table objects as the main window declares them:
// tProduto reads "cfa1010.DBF" with the fields of the file; tClientes "CFA2010.DBF" and
// tFornecedor "CFA3010.DBF" with their declared fields. Not copyable or movable.
struct LegacyObjects {
  LegacyObjects();
  LegacyDatabase ConDb;
  LegacyTable tProduto;
  LegacyTable tClientes;
  LegacyTable tFornecedor;
};

}  // namespace importacao
