#include "data/dbf/legacy_database.h"

#include <algorithm>
#include <system_error>

#include "data/errors.h"
#include "normalise/ascii.h"
#include "platform/file.h"
#include "platform/path.h"

namespace importacao {
namespace {

std::string_view nameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

struct Declared {
  const char* name;
  FieldKind kind;
  int size;  // 0: the kind's default
};

constexpr FieldKind T = FieldKind::Text;
constexpr FieldKind F = FieldKind::Float;
constexpr FieldKind D = FieldKind::Date;
constexpr FieldKind S = FieldKind::SmallInt;

constexpr Declared kClientes[] = {
    {"CL_COD", F, 0},     {"CL_NOM", T, 40},    {"CL_END", T, 40},    {"CL_BAI", T, 15},
    {"CL_CID", T, 15},    {"CL_EST", T, 2},     {"CL_CEP", T, 8},     {"CL_TEL_01", T, 11},
    {"CL_CGC", T, 18},    {"CL_CGF", T, 20},    {"CL_CPF", T, 14},    {"CL_PES_CT", T, 15},
    {"CL_DTA_AT", D, 0},  {"CLIPCMP", D, 0},    {"CLINCMP", S, 0},    {"CLIUCMP", D, 0},
    {"CLIUVLR", F, 0},    {"CLIMATR", S, 0},    {"CLIMVLR", F, 0},    {"CLINPRO", S, 0},
    {"LIMICRE", F, 0},    {"COM", F, 0},        {"COBCART", T, 1},    {"CL_TIPO", T, 1},
    {"CL_FAX", T, 11},    {"CL_OBS1", T, 50},   {"CL_DTNASC", D, 0},  {"CL_PROEMP", T, 23},
    {"CL_TPFAT", T, 1},   {"CL_ENDTRA", T, 23}, {"CL_TELTRA", T, 11}, {"CL_PRAZO1", T, 3},
    {"CL_PRAZO2", T, 3},  {"CL_PRAZO3", T, 3},  {"CL_PRAZO4", T, 3},  {"CL_DESCONT", F, 0},
    {"CL_ENDCOB", T, 40}, {"CL_BAICOB", T, 15}, {"CL_CEPCOB", T, 8},  {"CL_CIDCOB", T, 15},
    {"CL_ESTCOB", T, 2},  {"CL_NDEV", S, 0},    {"CL_NCAVIS", S, 0},  {"CL_NCCHEQ", S, 0},
    {"CL_NCCART", S, 0},  {"CL_NCDUPL", S, 0},  {"CL_OBS2", T, 50},   {"CL_VDD", T, 2},
    {"CL_ZONA", S, 0},    {"CL_STATUS", T, 1},  {"CL_BANCOB", S, 0},  {"CL_PRAZO5", T, 3},
    {"CL_PRAZO6", T, 3},  {"CL_PRAZO7", T, 3},  {"CL_PRAZO8", T, 3},  {"CL_FORPAG", T, 1},
    {"CL_TRANSP", F, 0},  {"CL_TIPOCOM", T, 1}, {"CL_LOGIN", T, 20},  {"CL_SENHA", T, 10},
    {"CL_CONTAB", T, 10}, {"CL_ENDENT", T, 40}, {"CL_BAIENT", T, 15}, {"CL_CEPENT", T, 8},
    {"CL_CIDENT", T, 15}, {"CL_ESTENT", T, 2},  {"CL_OBS3", T, 50},   {"CL_OBS4", T, 50},
    {"CL_EMAIL", T, 45},  {"CL_VDD2", T, 2},    {"CL_DTACAD", D, 0},
};
static_assert(std::size(kClientes) == 71);

constexpr Declared kFornecedor[] = {
    {"FN_COD", F, 0},     {"FN_NOM", T, 40},   {"FN_END", T, 40},    {"FN_BAI", T, 20},
    {"FN_CID", T, 20},    {"FN_EST", T, 2},    {"FN_CEP", T, 8},     {"FN_TEL_01", T, 11},
    {"FN_TEL_02", T, 11}, {"FN_TLX", T, 10},   {"FN_FAX", T, 11},    {"FN_CGC", T, 14},
    {"FN_CGF", T, 14},    {"FN_BCO", T, 2},    {"FN_PES_CT", T, 20}, {"FN_DTA_AT", D, 0},
    {"FN_REP", F, 0},     {"FN_EMAIL", T, 40}, {"FN_CENCUS", S, 0},  {"FN_TIPO", T, 1},
};
static_assert(std::size(kFornecedor) == 20);

template <std::size_t N>
void declareAll(LegacyTable& table, const Declared (&fields)[N]) {
  for (const auto& f : fields) {
    table.declareField(f.name, f.kind, f.size > 0 ? std::optional<int>(f.size) : std::nullopt);
  }
}

}  // namespace

LegacyDatabase::LegacyDatabase(std::string name)
    : name_(std::move(name)), params_{"PATH=", "DEFAULT DRIVER=PARADOX", "ENABLE BCD=FALSE"} {}

LegacyDatabase::~LegacyDatabase() {
  disconnect();
  for (LegacyTable* table : tables_) table->database_ = nullptr;
}

std::optional<std::string> LegacyDatabase::param(std::string_view paramName) const {
  for (const auto& entry : params_) {
    if (equalsNoCaseAscii(nameOf(entry), paramName)) {
      const auto eq = entry.find('=');
      return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
    }
  }
  return std::nullopt;
}

void LegacyDatabase::requireDisconnected() const {
  if (connected_) {
    throw DataError(name_ + ": Cannot perform this operation on an open database");
  }
}

void LegacyDatabase::setParam(std::string_view paramName, std::string_view value) {
  requireDisconnected();
  auto it = std::find_if(params_.begin(), params_.end(), [&](const std::string& entry) {
    return equalsNoCaseAscii(nameOf(entry), paramName);
  });
  if (value.empty()) {
    if (it != params_.end()) params_.erase(it);
    return;
  }
  std::string entry = std::string(paramName) + "=" + std::string(value);
  if (it != params_.end()) {
    *it = std::move(entry);
  } else {
    params_.push_back(std::move(entry));
  }
}

void LegacyDatabase::setCodePageOverride(std::optional<int> codePage) {
  requireDisconnected();
  codePage_ = codePage;
}

std::filesystem::path LegacyDatabase::folder() const {
  auto path = param("PATH");
  if (path && !path->empty()) return pathFromUtf8(*path);
  std::error_code ec;
  auto here = std::filesystem::current_path(ec);
  return ec ? std::filesystem::path(".") : here;
}

void LegacyDatabase::connect() {
  if (connected_) return;
  const auto where = folder();
  std::error_code ec;
  std::filesystem::directory_iterator probe(where, ec);
  if (ec) {
    throw DbfError("Folder of the legacy tables '" + utf8Path(where) +
                   "' cannot be read: " + errorText(ec));
  }
  connected_ = true;
}

void LegacyDatabase::disconnect() noexcept {
  if (!connected_) return;
  for (LegacyTable* table : tables_) table->close();
  connected_ = false;
}

DbfTable LegacyDatabase::openTableFile(std::string_view tableName) {
  connect();
  const auto where = folder();
  auto path = findFileIgnoringCase(where, tableName);
  if (!path) {
    throw DbfError("Table '" + std::string(tableName) + "' not found in folder '" +
                   utf8Path(where) + "'");
  }
  return DbfTable::open(*path, {codePage_, std::nullopt});
}

void LegacyDatabase::attach(LegacyTable& table) { tables_.push_back(&table); }

void LegacyDatabase::detach(LegacyTable& table) noexcept { std::erase(tables_, &table); }

void declareClientesFields(LegacyTable& table) { declareAll(table, kClientes); }
void declareFornecedorFields(LegacyTable& table) { declareAll(table, kFornecedor); }

LegacyObjects::LegacyObjects()
    : ConDb("ConDb"),
      tProduto("tProduto", "cfa1010.DBF", ConDb),
      tClientes("tClientes", "CFA2010.DBF", ConDb),
      tFornecedor("tFornecedor", "CFA3010.DBF", ConDb) {
  declareClientesFields(tClientes);
  declareFornecedorFields(tFornecedor);
}

}  // namespace importacao
