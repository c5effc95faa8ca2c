#include "import/partners/partners_section.h"

#include <cstdint>
#include <utility>

#include "data/errors.h"
#include "data/record/number_text.h"
#include "normalise/normalise.h"

namespace importacao {
namespace {

// Every customer and supplier belongs to company 1, store 1, classification 1, broker 1 and
// salesperson 1, and lives in Brazil.
constexpr std::int64_t kCompany = 1;
constexpr std::int64_t kShop = 1;
constexpr std::int64_t kClassification = 1;
constexpr std::int64_t kBroker = 1;
constexpr std::int64_t kSalesperson = 1;
constexpr std::string_view kBrazil = "1058";

Value integer(std::int64_t value) { return Value{value}; }
Value text(std::string_view value) { return Value{std::string(value)}; }

// The error line of both sections: the record's number in its table, a hyphen, what names the
// record, a lone carriage return and the message.
std::string recordErrorLine(const RecordSource& table, std::string_view identification,
                            const DataError& error) {
  std::string line(kLineRecordError);
  line += integerToText(table.recordNumber());
  line += '-';
  line += identification;
  line += '\r';
  line += error.what();
  return line;
}

}  // namespace

PersonKind customerPersonKind(std::string_view companyNumber) {
  // Only '-', '.' and '/' count as punctuation; a blank left over is the mask's filling.
  for (char c : StripCodePunctuation(companyNumber)) {
    if (c != ' ') return PersonKind::Legal;
  }
  return PersonKind::Natural;
}

std::optional<std::string> lookupMunicipality(KeyedQuery ADOQuery1, std::string_view uf,
                                              std::string_view cidade) {
  reopen(ADOQuery1, {{"uf", text(uf)}, {"cidade", text(cidade)}});
  if (ADOQuery1.source.isEmpty()) return std::nullopt;
  return ADOQuery1.source.fieldByName("codmun").asText();
}

RecordOutcome CustomersSection::importRecord(RunLog& log) {
  RecordSource& tClientes = table_;
  // Legacy texts are read in place: the table's fields hold them until the walk moves on.
  auto legacy = [&](std::string_view name) -> const std::string& {
    return tClientes.fieldByName(name).asTextRef();
  };

  const Field& code = tClientes.fieldByName("CL_COD");
  line_.assign(kLineCustomer);
  line_ += code.asTextRef();
  log.AddLogLine(line_);

  const std::int64_t key = code.asInteger();
  const bool inserting = findForWriting(store_.aClientes, {{"idcliente", integer(key)}});
  RecordSource& aClientes = store_.aClientes.source;
  auto column = [&](std::string_view name) -> Field& { return aClientes.fieldByName(name); };

  const std::string& name = legacy("CL_NOM");
  const std::string& companyNumber = legacy("CL_CGC");
  const bool legal = customerPersonKind(companyNumber) == PersonKind::Legal;
  // The two addresses' state and city are written and then looked up.
  const std::string& state = legacy("CL_EST");
  const std::string& city = legacy("CL_CID");
  const std::string& billingState = legacy("CL_ESTCOB");
  const std::string& billingCity = legacy("CL_CIDCOB");

  column("IdCliente").assignInteger(key);
  column("Idempresa").assignInteger(kCompany);
  column("NomeCliente").assignText(RemoveAccents(ProperCaseName(name)));
  column("NomeFantasia").assignText(name);
  column("Cep").assignText("0");
  column("DDD").assignInteger(0);
  column("Telefone").assignText(legacy("CL_TEL_01"));
  column("IdPais").assignText(kBrazil);
  column("IdClassificacao").assignInteger(kClassification);
  column("TipoPessoa").assignText(legal ? "J" : "F");
  column("Cnpj").assignText(StripCodePunctuation(legal ? companyNumber : legacy("CL_CPF")));
  column("TipoContribuinte").assignText(legal ? "1" : "2");
  column("InscEst").assignText(legacy("CL_CGF"));
  column("LimiteCredito").assignFloat(tClientes.fieldByName("LIMICRE").asFloat());
  remark_.assign(kCustomerRemark);
  remark_ += '\r';
  remark_ += legacy("CL_OBS1");
  column("Observacao").assignText(remark_);
  column("Contato").assignText(legacy("CL_PROEMP"));
  // An empty registration date reads as the zero date-time: the customer registers today.
  const DateTime registered = tClientes.fieldByName("CL_DTACAD").asDateTime();
  column("DataCadastro").assignDateTime(registered.days != 0.0 ? registered : clock_.today());
  column("DataAtualizacao").assignDateTime(clock_.now());
  column("Endereco").assignText(legacy("CL_END"));
  column("Numero").assignInteger(0);
  column("Complemento").assignText("");
  column("Bairro").assignText(legacy("CL_BAI"));
  column("Cidade").assignText(city);
  column("Estado").assignText(state);
  column("End_Cob").assignText(legacy("CL_ENDCOB"));
  column("Num_Cob").assignInteger(0);
  column("Compl_Cob").assignText("");
  column("Bai_Cob").assignText(legacy("CL_BAICOB"));
  column("Cid_Cob").assignText(billingCity);
  column("Est_Cob").assignText(billingState);
  column("PontoRefer").assignText("");
  column("IdCorretor").assignInteger(kBroker);
  column("ComissaoRep").assignInteger(0);
  column("IdLoja").assignInteger(kShop);
  column("LiberaConsignacao").assignText("N");
  column("Status").assignText("A");
  column("DescontoVenda").assignInteger(0);
  column("IdVendedor").assignInteger(kSalesperson);
  column("ComissaoVendedor").assignInteger(0);
  Field& codMun = column("CodMun");
  Field& codMunCob = column("CodMun_Cob");
  codMun.assignText(kNoMunicipality);
  codMunCob.assignText(kNoMunicipality);

  if (auto found = lookupMunicipality(store_.ADOQuery1, state, city)) {
    codMun.assignText(*found);
  }
  if (auto found = lookupMunicipality(store_.ADOQuery1, billingState, billingCity)) {
    codMunCob.assignText(*found);
  }

  aClientes.post();
  return inserting ? RecordOutcome::Inserted : RecordOutcome::Updated;
}

std::string CustomersSection::errorLine(const DataError& error) {
  return recordErrorLine(table_, table_.fieldByName("CL_NOM").asText(), error);
}

RecordOutcome SuppliersSection::importRecord(RunLog& log) {
  RecordSource& tFornecedor = table_;
  auto legacy = [&](std::string_view name) -> const std::string& {
    return tFornecedor.fieldByName(name).asTextRef();
  };

  const Field& code = tFornecedor.fieldByName("FN_COD");
  line_.assign(kLineSupplier);
  line_ += code.asTextRef();
  log.AddLogLine(line_);

  const std::int64_t key = code.asInteger();
  const bool inserting = findForWriting(store_.aFornecedor, {{"idfornecedor", integer(key)}});
  RecordSource& aFornecedor = store_.aFornecedor.source;
  // The fields are fornecedores' own columns: each is found by name and given a generic value
  // that the record layer converts to the column's kind.
  auto set = [&](std::string_view name, const Value& value) -> Field& {
    Field& field = aFornecedor.fieldByName(name);
    field.assignValue(value);
    return field;
  };
  // Both names are the same conversion of FN_NOM: made once.
  const Value name = text(RemoveAccents(ProperCaseName(legacy("FN_NOM"))));
  const std::string& state = legacy("FN_EST");
  const std::string& city = legacy("FN_CID");

  set("Idfornecedor", integer(key));
  set("Idempresa", integer(kCompany));
  set("NomeFornecedor", name);
  set("NomeFantasia", name);
  set("Cep", text(StripCodePunctuation(legacy("FN_CEP"))));
  set("DDD", integer(0));
  set("Telefone", text(legacy("FN_TEL_01")));
  set("TipoPessoa", text("J"));
  set("cnpj", text(StripCodePunctuation(legacy("FN_CGC"))));
  set("inscest", text(legacy("FN_CGF")));
  set("Observacao", text(kSupplierRemark));
  set("Contato", text(""));
  set("DataAtualizacao", Value{clock_.now()});
  set("Endereco", text(legacy("FN_END")));
  set("Numero", integer(0));
  set("Bairro", text(legacy("FN_BAI")));
  set("Cidade", text(city));
  set("Estado", text(state));
  set("Status", text("A"));
  set("Fornecedor", text("1"));
  set("TipoContribuinte", text("1"));
  set("idpais", text(kBrazil));
  Field& codmun = set("codmun", text(kNoMunicipality));

  if (auto found = lookupMunicipality(store_.ADOQuery1, state, city)) {
    codmun.assignValue(Value{std::move(*found)});
  }

  aFornecedor.post();
  return inserting ? RecordOutcome::Inserted : RecordOutcome::Updated;
}

std::string SuppliersSection::errorLine(const DataError& error) {
  return recordErrorLine(table_, table_.fieldByName("FN_COD").asText(), error);
}

}  // namespace importacao
