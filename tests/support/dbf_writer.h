// Writing dBASE III tables, byte by byte: the header with its field descriptors, and records
// from the text each field holds. The tests' builder (dbf_builder.h) and the benchmarks' table
// generator (bench/dbf/make_products.cpp) both write through it. Header-only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace importacao::test_support {

struct DbfFieldSpec {
  std::string name;  // its first 10 bytes are written
  char type;         // 'C', 'N', 'F', 'D', 'L' (or any letter)
  int length;        // width in bytes
  int decimals = 0;
  std::uint8_t flags = 0;
};

// What the header says besides the fields.
struct DbfHeaderValues {
  std::uint8_t version = 0x03;  // 0x03 dBASE III, 0x83 with memo, 0x30 Visual FoxPro...
  std::uint8_t language = 0;    // 0 does not say; 0x02 850, 0x03 1252, 0x65 866, 0xC9 1251...
  std::uint32_t count = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
};

// The sum of the field widths plus the deletion mark.
inline std::uint16_t dbfRecordLength(std::span<const DbfFieldSpec> fields) {
  int n = 1;
  for (const auto& f : fields) n += f.length;
  return static_cast<std::uint16_t>(n);
}

// The header, the descriptors and their end mark; Visual FoxPro's versions add the 263-byte
// backlink block.
inline std::uint16_t dbfHeaderLength(std::uint8_t version, std::size_t fieldCount) {
  const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
  return static_cast<std::uint16_t>(32 + 32 * fieldCount + 1 + (vfp ? 263 : 0));
}

namespace dbf_writer_detail {
inline void putU16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
}  // namespace dbf_writer_detail

// The header's bytes (last update 2024-01-31), exactly values.headerLength of them: the
// descriptors and their 0x0D end mark, padded with zero bytes or cut short to that length.
inline std::string dbfHeader(const DbfHeaderValues& values, std::span<const DbfFieldSpec> fields) {
  using dbf_writer_detail::putU16;
  std::string out(32, '\0');
  out[0] = static_cast<char>(values.version);
  out[1] = 124;
  out[2] = 1;
  out[3] = 31;
  putU16(out, 4, static_cast<std::uint16_t>(values.count & 0xFFFF));
  putU16(out, 6, static_cast<std::uint16_t>(values.count >> 16));
  putU16(out, 8, values.headerLength);
  putU16(out, 10, values.recordLength);
  out[29] = static_cast<char>(values.language);
  for (const auto& f : fields) {
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
  out.resize(values.headerLength, '\0');
  return out;
}

// Appends one record to `out`: the mark (' ', or '*' for a deleted record), then each field's
// value, cut to the field's width and padded with blanks (numbers, 'N' and 'F', on the left; the
// rest on the right); fields without a value are blank. Throws std::logic_error when there are
// more values than fields.
template <class Values>
void appendDbfRecord(std::string& out, char mark, std::span<const DbfFieldSpec> fields,
                     const Values& values) {
  out.push_back(mark);
  std::size_t i = 0;
  for (std::string_view v : values) {
    if (i >= fields.size()) throw std::logic_error("DbfBuilder: more values than fields");
    const auto& f = fields[i++];
    const auto width = static_cast<std::size_t>(f.length);
    const std::string_view cell = v.substr(0, width);
    const bool right = f.type == 'N' || f.type == 'F';
    if (right) out.append(width - cell.size(), ' ');
    out += cell;
    if (!right) out.append(width - cell.size(), ' ');
  }
  for (; i < fields.size(); ++i) out.append(static_cast<std::size_t>(fields[i].length), ' ');
}

}  // namespace importacao::test_support
