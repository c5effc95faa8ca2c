// Writes a legacy product table for the reading benchmark: N records (default 1,000,000) of 300
// bytes, the product fields the import reads plus filler fields, text in code page 850 with some
// accented letters, a few deleted and blank values. Deterministic: the same N gives the same file.
//   make_products OUT.DBF [N]
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/dbf_writer.h"

namespace {

using importacao::test_support::DbfFieldSpec;

// 299 bytes of fields plus the deletion mark: 300 bytes a record.
const DbfFieldSpec kFields[] = {
    {"pd_cod", 'C', 14, 0},   {"pd_dsc", 'C', 40, 0},    {"pd_apl", 'C', 20, 0},
    {"pd_und", 'C', 3, 0},    {"pd_frn", 'N', 6, 0},     {"pd_grp", 'N', 3, 0},
    {"pd_qtd_mn", 'N', 9, 3}, {"pd_vlr_cs", 'N', 11, 2}, {"pd_vlr_rf", 'N', 11, 2},
    {"pd_qtd", 'N', 10, 3},   {"pd_bar", 'C', 13, 0},    {"pd_obs", 'C', 60, 0},
    {"pd_loc", 'C', 30, 0},   {"pd_dtc", 'D', 8, 0},     {"pd_fab", 'C', 30, 0},
    {"pd_ncm", 'C', 10, 0},   {"pd_ref", 'C', 21, 0},
};

std::uint64_t state = 0x9E3779B97F4A7C15ULL;
std::uint64_t nextRandom() {  // xorshift64*
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545F4914F6CDD1DULL;
}
std::uint64_t below(std::uint64_t n) { return nextRandom() % n; }

const char* const kWords[] = {"PARAFUSO",   "ARRUELA",     "PORCA",       "CABO",       "TOMADA",
                              "L\x83MPADA", "FITA",        "COLA",        "TINTA",      "PINCEL",
                              "LIXA",       "SERRA",       "MARTELO",     "ALICATE",    "CHAVE",
                              "TUBO",       "CONEX\x8DO",  "REGISTRO",    "V\x80LVULA", "TORNEIRA",
                              "A\x80O",     "ALUM\xD6NIO", "PL\xB5STICO", "GALVANIZADO"};
const char* const kUnits[] = {"UN", "PC", "CX", "KG", "MT", "LT"};

std::string number(double value, int decimals) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

std::string words(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    if (i) s += ' ';
    s += kWords[below(std::size(kWords))];
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_products OUT.DBF [RECORDS]\n";
    return 2;
  }
  const long records = argc > 2 ? std::atol(argv[2]) : 1000000;
  const std::uint16_t recordLength = importacao::test_support::dbfRecordLength(kFields);
  const std::string header = importacao::test_support::dbfHeader(
      {.version = 0x03,
       .language = 0x02,  // code page 850
       .count = static_cast<std::uint32_t>(records),
       .headerLength = importacao::test_support::dbfHeaderLength(0x03, std::size(kFields)),
       .recordLength = recordLength},
      kFields);

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  const std::size_t blockSize = std::size_t{recordLength} * 4096;
  std::string block;
  block.reserve(blockSize);
  std::vector<std::string> values(std::size(kFields));
  for (long r = 0; r < records; ++r) {
    const char mark = below(1000) == 0 ? '*' : ' ';
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
      const DbfFieldSpec& f = kFields[i];
      std::string& v = values[i];
      v.clear();
      const std::string& name = f.name;
      if (below(50) == 0 && name != "pd_cod") {
        v = "";  // a blank value now and then
      } else if (name == "pd_cod") {
        v = number(static_cast<double>(r + 1), 0) + "-" + std::to_string(below(10));
      } else if (name == "pd_und") {
        v = kUnits[below(std::size(kUnits))];
      } else if (name == "pd_bar") {
        v = "789" + std::to_string(1000000000 + below(999999999));
      } else if (f.type == 'C') {
        v = words(1 + static_cast<int>(below(static_cast<std::uint64_t>(f.length / 8 + 1))));
      } else if (f.type == 'N') {
        double scale = 1;
        for (int d = 0; d < f.length - f.decimals - 2; ++d) scale *= 10;
        v = number(static_cast<double>(below(static_cast<std::uint64_t>(scale))) +
                       static_cast<double>(below(1000)) / 1000.0,
                   f.decimals);
      } else if (f.type == 'D') {
        v = std::to_string(1990 + below(35)) + "0" + std::to_string(1 + below(9)) + "1" +
            std::to_string(below(9));
      }
    }
    importacao::test_support::appendDbfRecord(block, mark, kFields, values);
    if (block.size() >= blockSize) {
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
      block.clear();
    }
  }
  block.push_back('\x1A');
  out.write(block.data(), static_cast<std::streamsize>(block.size()));
  if (!out) {
    std::cerr << "make_products: cannot write " << argv[1] << '\n';
    return 1;
  }
  return 0;
}
