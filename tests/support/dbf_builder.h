// Test helper: builds a dBASE III table in memory, byte by byte, so that tests can make the
// legacy tables they need (and damage single bytes of them). Header-only, for tests only.
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
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace importacao::testing {

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
  std::uint16_t naturalRecordLength() const {
    int n = 1;
    for (const auto& f : fields_) n += f.length;
    return static_cast<std::uint16_t>(n);
  }
  std::uint16_t naturalHeaderLength() const {
    const bool vfp = version_ == 0x30 || version_ == 0x31 || version_ == 0x32;
    return static_cast<std::uint16_t>(32 + 32 * fields_.size() + 1 + (vfp ? 263 : 0));
  }

  std::vector<std::byte> bytes() const {
    const std::uint16_t rl = recordLength_.value_or(naturalRecordLength());
    const std::uint16_t hl = headerLength_.value_or(naturalHeaderLength());
    std::string out(32, '\0');
    out[0] = static_cast<char>(version_);
    out[1] = 124;  // last update 2024-01-31
    out[2] = 1;
    out[3] = 31;
    putU32(out, 4, count_.value_or(static_cast<std::uint32_t>(records_.size())));
    putU16(out, 8, hl);
    putU16(out, 10, rl);
    out[29] = static_cast<char>(language_);
    for (const auto& f : fields_) {
      std::string d(32, '\0');
      d.replace(0, std::min<std::size_t>(f.name.size(), 10), f.name.substr(0, 10));
      d[11] = f.type;
      d[16] = static_cast<char>(f.length & 0xFF);
      // A character field wider than 255 keeps its high byte in the decimals byte (Clipper).
      const int high = f.type == 'C' && f.length > 255 ? f.length >> 8 : f.decimals;
      d[17] = static_cast<char>(high & 0xFF);
      d[18] = static_cast<char>(f.flags);
      out += d;
    }
    out.push_back('\x0D');
    if (out.size() < hl) out.resize(hl, '\0');  // the backlink block, or padding
    out.resize(hl);                              // a header length that cuts the descriptors
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
  struct FieldSpec {
    std::string name;
    char type;
    int length;
    int decimals;
    std::uint8_t flags;
  };

  template <class Values>
  DbfBuilder& addRecord(char mark, const Values& values) {
    std::string rec(1, mark);
    std::size_t i = 0;
    for (std::string_view v : values) {
      if (i >= fields_.size()) throw std::logic_error("DbfBuilder: more values than fields");
      const auto& f = fields_[i++];
      const auto width = static_cast<std::size_t>(f.length);
      std::string cell(v.substr(0, width));
      const std::string pad(width - cell.size(), ' ');
      const bool right = f.type == 'N' || f.type == 'F';
      rec += right ? pad + cell : cell + pad;
    }
    for (; i < fields_.size(); ++i) rec += std::string(static_cast<std::size_t>(fields_[i].length), ' ');
    records_.push_back(std::move(rec));
    return *this;
  }

  static void putU16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
  }
  static void putU32(std::string& s, std::size_t at, std::uint32_t v) {
    putU16(s, at, static_cast<std::uint16_t>(v & 0xFFFF));
    putU16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
  }

  std::uint8_t version_ = 0x03;
  std::uint8_t language_ = 0;
  std::vector<FieldSpec> fields_;
  std::vector<std::string> records_;
  std::optional<std::uint32_t> count_;
  std::optional<std::uint16_t> recordLength_;
  std::optional<std::uint16_t> headerLength_;
  bool endMarker_ = true;
  std::string trailing_;
};

}  // namespace importacao::testing
