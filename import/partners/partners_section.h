// The "Clientes" and "Fornecedor" sections: every legacy customer of CFA2010.DBF becomes its row
// of clientes, every legacy supplier of CFA3010.DBF its row of fornecedores, found by the legacy
// code read as an integer and updated, or inserted when there is none. The municipality codes of
// their addresses are looked up in the store's municipality table through ADOQuery1.
//
// Per legacy record, everything inside the run's per-record capture:
//   customers  log "Cliente - " and CL_COD as text; find aClientes by idcliente; append or edit;
//              the 41 assignments; the main and the billing municipality lookups; post.
//              Error line: "Erro gravando o Registro " + record number + "-" + CL_NOM + CR +
//              message.
//   suppliers  log "Fornecedor - " and FN_COD as text; find aFornecedor by idfornecedor; append
//              or edit; the 23 assignments by column name, as generic values; the municipality
//              lookup; post. Error line: the same, with FN_COD as text in place of the name.
// Nothing is undone when a record fails: the rows posted for earlier records stay.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "data/record/record_source.h"
#include "import/keyed_query.h"
#include "import/section.h"

namespace importacao {

// The log texts of the sections (code page 1252 bytes).
inline constexpr std::string_view kLineCustomer = "Cliente - ";
inline constexpr std::string_view kLineSupplier = "Fornecedor - ";
inline constexpr std::string_view kLineRecordError = "Erro gravando o Registro ";

// The fixed texts the sections write into Observacao.
inline constexpr std::string_view kCustomerRemark = "Cliente Importado do Sistema Antigo";
inline constexpr std::string_view kSupplierRemark = "Fornecedor Importado do Sistema Antigo";

// The municipality code a row keeps when the lookup finds nothing.
inline constexpr std::string_view kNoMunicipality = "0";

// The store objects the two sections work with (app/run/import_objects.cpp hands over the run's).
struct PartnerStore {
  KeyedQuery aClientes;    // clientes by idcliente; the 61 declared fields
  KeyedQuery aFornecedor;  // fornecedores by idfornecedor; fields derived from the columns
  KeyedQuery ADOQuery1;    // municipality by uf and cidade; reads codmun
};

// How a legacy customer is classified: a legal entity ("J", taxpayer kind "1", Cnpj from the
// company number) or a natural person ("F", taxpayer kind "2", Cnpj from the CPF).
enum class PersonKind { Legal, Natural };

// Legal when the company number (CL_CGC) still holds a character other than a blank once its
// '-', '.' and '/' are out. Legacy systems keep an empty company number with its input mask
// ("  .   .   /    -"): that is no company number, and neither is one of punctuation only.
PersonKind customerPersonKind(std::string_view companyNumber);

// Looks up the municipality of `uf` and `cidade`, both passed as they are: closes ADOQuery1,
// sets its parameters, opens it. Returns the codmun of the first row the store returns, nullopt
// when there is none. ADOQuery1 is left open. Throws DataError for what the store or the record
// layer raises.
std::optional<std::string> lookupMunicipality(KeyedQuery ADOQuery1, std::string_view uf,
                                              std::string_view cidade);

// What the two sections share: their objects, and the buffers they build texts in.
class PartnerSectionBase : public Section {
 public:
  PartnerSectionBase(const PartnerSectionBase&) = delete;
  PartnerSectionBase& operator=(const PartnerSectionBase&) = delete;

 protected:
  // `table`, the store objects and `clock` must outlive the section.
  PartnerSectionBase(RecordSource& table, PartnerStore store, const Clock& clock)
      : table_(table), store_(store), clock_(clock) {}

  RecordSource& table_;
  const PartnerStore store_;
  const Clock& clock_;
  std::string line_;    // a log line being built, reused
  std::string remark_;  // the customer's Observacao being built, reused
};

// The "Clientes" section over tClientes, aClientes and ADOQuery1.
class CustomersSection final : public PartnerSectionBase {
 public:
  CustomersSection(RecordSource& tClientes, PartnerStore store, const Clock& clock)
      : PartnerSectionBase(tClientes, store, clock) {}

  std::string_view caption() const override { return "Clientes"; }

  // Logs "Cliente - " with CL_COD as text, then writes the customer's row. Returns Inserted
  // when clientes had no row for the code, Updated when it had one. Throws DataError for the
  // first failure of the record layer or the store (the row is then not posted), and what the
  // log raises.
  RecordOutcome importRecord(RunLog& log) override;

  // "Erro gravando o Registro " + record number + "-" + CL_NOM + "\r" + error.what().
  std::string errorLine(const DataError& error) override;
};

// The "Fornecedor" section over tFornecedor, aFornecedor and ADOQuery1.
class SuppliersSection final : public PartnerSectionBase {
 public:
  SuppliersSection(RecordSource& tFornecedor, PartnerStore store, const Clock& clock)
      : PartnerSectionBase(tFornecedor, store, clock) {}

  std::string_view caption() const override { return "Fornecedor"; }

  // Logs "Fornecedor - " with FN_COD as text, then writes the supplier's row, each column found
  // by name ("aFornecedor: Field 'codmun' not found" when fornecedores lacks one). Returns and
  // throws as CustomersSection::importRecord.
  RecordOutcome importRecord(RunLog& log) override;

  // "Erro gravando o Registro " + record number + "-" + FN_COD as text + "\r" + error.what().
  std::string errorLine(const DataError& error) override;
};

}  // namespace importacao
