// Test helper: builds a dBASE III table in memory, byte by byte (through dbf_writer.h), so that
// tests can make the legacy tables they need (and damage single bytes of them). Header-only, for
// tests only.
//
//   auto bytes = DbfBuilder()
//                    .field("pd_cod", 'C', 14)
//                    .field("pd_vlr_rf", 'N', 12, 2)
//                    .field("CL_DTACAD", 'D', 8)
//                    .record({"0001-A", "12.50", "20240131"})
//                    .deletedRecord({"0002", "", ""})
//                    .bytes();
//   DbfBuilder().field(...).record(...).writeTo(folder / "cfa1010.DBF");
//
// Values are given as the text the field holds: character values are left-aligned and padded
// with blanks, numeric values right-aligned, the rest padded on the right; a value longer than
// its field is cut. rawRecord() takes the record's bytes as they are (deletion mark first).
//
// The three legacy tables, with every field their table objects declare (and the product fields
// the products section reads), ready for records given by field name:
//   DbfBuilder::customers().recordWith({{"CL_COD", "12"}, {"CL_NOM", "ANA"}}).writeTo(dir /
//   "CFA2010.DBF"); DbfBuilder::customers({"CL_EMAIL"})   // the same table without CL_EMAIL
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/dbf_writer.h"

namespace importacao::test_support {

class DbfBuilder {
 public:
  // Header byte 0: 0x03 dBASE III (the default), 0x83 with memo, 0x30 Visual FoxPro (adds the
  // 263-byte backlink block after the descriptors), 0xF5 FoxPro 2...
  DbfBuilder& version(std::uint8_t v) {
    version_ = v;
    return *this;
  }
  // Header byte 29: 0 (the default) does not say; 0x02 850, 0x03 1252, 0x65 866, 0xC9 1251...
  DbfBuilder& languageByte(std::uint8_t b) {
    language_ = b;
    return *this;
  }
  // A field: type 'C', 'N', 'F', 'D', 'L' (or any letter), width in bytes, decimals.
  DbfBuilder& field(std::string name, char type, int length, int decimals = 0,
                    std::uint8_t flags = 0) {
    fields_.push_back({std::move(name), type, length, decimals, flags});
    return *this;
  }
  DbfBuilder& record(std::initializer_list<std::string_view> values) {
    return addRecord(' ', values);
  }
  DbfBuilder& record(const std::vector<std::string>& values) {
    return addRecord(' ', std::vector<std::string_view>(values.begin(), values.end()));
  }
  DbfBuilder& deletedRecord(std::initializer_list<std::string_view> values) {
    return addRecord('*', values);
  }
  // A record given by field name (names compared exactly); fields not named stay blank.
  DbfBuilder& recordWith(std::initializer_list<std::pair<std::string_view, std::string_view>> named,
                         bool deleted = false) {
    std::vector<std::string_view> values(fields_.size(), std::string_view{});
    for (const auto& [name, value] : named) {
      std::size_t i = 0;
      while (i < fields_.size() && fields_[i].name != name) ++i;
      if (i == fields_.size()) throw std::logic_error("DbfBuilder: no field " + std::string(name));
      values[i] = value;
    }
    return addRecord(deleted ? '*' : ' ', values);
  }

  // cfa1010.DBF: the product fields the products section reads, plus two it does not.
  static DbfBuilder products(std::initializer_list<std::string_view> leaveOut = {}) {
    return layout(leaveOut, {{"pd_cod", 'C', 14, 0},
                             {"pd_dsc", 'C', 40, 0},
                             {"pd_apl", 'C', 20, 0},
                             {"pd_und", 'C', 3, 0},
                             {"pd_frn", 'N', 6, 0},
                             {"pd_grp", 'N', 3, 0},
                             {"pd_qtd_mn", 'N', 9, 3},
                             {"pd_vlr_rf", 'N', 11, 2},
                             {"pd_qtd", 'N', 10, 3},
                             {"pd_bar", 'C', 13, 0}});
  }
  // CFA2010.DBF: the 71 fields tClientes declares, in its order.
  static DbfBuilder customers(std::initializer_list<std::string_view> leaveOut = {}) {
    return layout(leaveOut,
                  {{"CL_COD", 'N', 10, 0},    {"CL_NOM", 'C', 40, 0},    {"CL_END", 'C', 40, 0},
                   {"CL_BAI", 'C', 15, 0},    {"CL_CID", 'C', 15, 0},    {"CL_EST", 'C', 2, 0},
                   {"CL_CEP", 'C', 8, 0},     {"CL_TEL_01", 'C', 11, 0}, {"CL_CGC", 'C', 18, 0},
                   {"CL_CGF", 'C', 20, 0},    {"CL_CPF", 'C', 14, 0},    {"CL_PES_CT", 'C', 15, 0},
                   {"CL_DTA_AT", 'D', 8, 0},  {"CLIPCMP", 'D', 8, 0},    {"CLINCMP", 'N', 4, 0},
                   {"CLIUCMP", 'D', 8, 0},    {"CLIUVLR", 'N', 12, 2},   {"CLIMATR", 'N', 4, 0},
                   {"CLIMVLR", 'N', 12, 2},   {"CLINPRO", 'N', 4, 0},    {"LIMICRE", 'N', 12, 2},
                   {"COM", 'N', 5, 2},        {"COBCART", 'C', 1, 0},    {"CL_TIPO", 'C', 1, 0},
                   {"CL_FAX", 'C', 11, 0},    {"CL_OBS1", 'C', 50, 0},   {"CL_DTNASC", 'D', 8, 0},
                   {"CL_PROEMP", 'C', 23, 0}, {"CL_TPFAT", 'C', 1, 0},   {"CL_ENDTRA", 'C', 23, 0},
                   {"CL_TELTRA", 'C', 11, 0}, {"CL_PRAZO1", 'C', 3, 0},  {"CL_PRAZO2", 'C', 3, 0},
                   {"CL_PRAZO3", 'C', 3, 0},  {"CL_PRAZO4", 'C', 3, 0},  {"CL_DESCONT", 'N', 5, 2},
                   {"CL_ENDCOB", 'C', 40, 0}, {"CL_BAICOB", 'C', 15, 0}, {"CL_CEPCOB", 'C', 8, 0},
                   {"CL_CIDCOB", 'C', 15, 0}, {"CL_ESTCOB", 'C', 2, 0},  {"CL_NDEV", 'N', 3, 0},
                   {"CL_NCAVIS", 'N', 4, 0},  {"CL_NCCHEQ", 'N', 4, 0},  {"CL_NCCART", 'N', 4, 0},
                   {"CL_NCDUPL", 'N', 4, 0},  {"CL_OBS2", 'C', 50, 0},   {"CL_VDD", 'C', 2, 0},
                   {"CL_ZONA", 'N', 3, 0},    {"CL_STATUS", 'C', 1, 0},  {"CL_BANCOB", 'N', 3, 0},
                   {"CL_PRAZO5", 'C', 3, 0},  {"CL_PRAZO6", 'C', 3, 0},  {"CL_PRAZO7", 'C', 3, 0},
                   {"CL_PRAZO8", 'C', 3, 0},  {"CL_FORPAG", 'C', 1, 0},  {"CL_TRANSP", 'N', 6, 0},
                   {"CL_TIPOCOM", 'C', 1, 0}, {"CL_LOGIN", 'C', 20, 0},  {"CL_SENHA", 'C', 10, 0},
                   {"CL_CONTAB", 'C', 10, 0}, {"CL_ENDENT", 'C', 40, 0}, {"CL_BAIENT", 'C', 15, 0},
                   {"CL_CEPENT", 'C', 8, 0},  {"CL_CIDENT", 'C', 15, 0}, {"CL_ESTENT", 'C', 2, 0},
                   {"CL_OBS3", 'C', 50, 0},   {"CL_OBS4", 'C', 50, 0},   {"CL_EMAIL", 'C', 45, 0},
                   {"CL_VDD2", 'C', 2, 0},    {"CL_DTACAD", 'D', 8, 0}});
  }
  // CFA3010.DBF: the 20 fields tFornecedor declares, in its order.
  static DbfBuilder suppliers(std::initializer_list<std::string_view> leaveOut = {}) {
    return layout(leaveOut,
                  {{"FN_COD", 'N', 6, 0},    {"FN_NOM", 'C', 40, 0},    {"FN_END", 'C', 40, 0},
                   {"FN_BAI", 'C', 20, 0},   {"FN_CID", 'C', 20, 0},    {"FN_EST", 'C', 2, 0},
                   {"FN_CEP", 'C', 8, 0},    {"FN_TEL_01", 'C', 11, 0}, {"FN_TEL_02", 'C', 11, 0},
                   {"FN_TLX", 'C', 10, 0},   {"FN_FAX", 'C', 11, 0},    {"FN_CGC", 'C', 14, 0},
                   {"FN_CGF", 'C', 14, 0},   {"FN_BCO", 'C', 2, 0},     {"FN_PES_CT", 'C', 20, 0},
                   {"FN_DTA_AT", 'D', 8, 0}, {"FN_REP", 'N', 6, 2},     {"FN_EMAIL", 'C', 40, 0},
                   {"FN_CENCUS", 'N', 3, 0}, {"FN_TIPO", 'C', 1, 0}});
  }
  // A record exactly as given (deletion mark first); shorter than the record length is padded
  // with blanks, longer is kept as it is (a record that runs into the next).
  DbfBuilder& rawRecord(std::string bytes) {
    records_.push_back(std::move(bytes));
    return *this;
  }
  // Overrides what the header says; by default the count of records given, the computed lengths.
  DbfBuilder& headerCount(std::uint32_t n) {
    count_ = n;
    return *this;
  }
  DbfBuilder& recordLength(std::uint16_t n) {
    recordLength_ = n;
    return *this;
  }
  DbfBuilder& headerLength(std::uint16_t n) {
    headerLength_ = n;
    return *this;
  }
  // Whether the 0x1A end-of-file mark follows the records (default yes).
  DbfBuilder& endMarker(bool on) {
    endMarker_ = on;
    return *this;
  }
  // Bytes appended after the records (and the end marker): damage for tests.
  DbfBuilder& trailing(std::string bytes) {
    trailing_ = std::move(bytes);
    return *this;
  }

  // The sum of the field widths plus the deletion mark.
  std::uint16_t naturalRecordLength() const { return dbfRecordLength(fields_); }
  std::uint16_t naturalHeaderLength() const { return dbfHeaderLength(version_, fields_.size()); }

  std::vector<std::byte> bytes() const {
    const std::uint16_t rl = recordLength_.value_or(naturalRecordLength());
    std::string out = dbfHeader(
        {version_, language_, count_.value_or(static_cast<std::uint32_t>(records_.size())),
         headerLength_.value_or(naturalHeaderLength()), rl},
        fields_);
    for (const auto& r : records_) {
      std::string rec = r;
      if (rec.size() < rl) rec.resize(rl, ' ');
      out += rec;
    }
    if (endMarker_) out.push_back('\x1A');
    out += trailing_;
    std::vector<std::byte> result(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) result[i] = static_cast<std::byte>(out[i]);
    return result;
  }

  void writeTo(const std::filesystem::path& path) const {
    const auto b = bytes();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    if (!out) throw std::runtime_error("DbfBuilder: cannot write " + path.string());
  }

 private:
  struct LayoutField {
    const char* name;
    char type;
    int length;
    int decimals;
  };
  static DbfBuilder layout(std::initializer_list<std::string_view> leaveOut,
                           std::initializer_list<LayoutField> fields) {
    DbfBuilder b;
    for (const auto& f : fields) {
      bool skip = false;
      for (std::string_view name : leaveOut) skip = skip || name == f.name;
      if (!skip) b.field(f.name, f.type, f.length, f.decimals);
    }
    return b;
  }

  template <class Values>
  DbfBuilder& addRecord(char mark, const Values& values) {
    std::string rec;
    appendDbfRecord(rec, mark, fields_, values);
    records_.push_back(std::move(rec));
    return *this;
  }

  std::uint8_t version_ = 0x03;
  std::uint8_t language_ = 0;
  std::vector<DbfFieldSpec> fields_;
  std::vector<std::string> records_;
  std::optional<std::uint32_t> count_;
  std::optional<std::uint16_t> recordLength_;
  std::optional<std::uint16_t> headerLength_;
  bool endMarker_ = true;
  std::string trailing_;
};

}  // namespace importacao::test_support
