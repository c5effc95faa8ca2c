// Writes a legacy product table for the reading benchmark: N records (default 1,000,000) of 300
// bytes, the product fields the import reads plus filler fields, text in code page 850 with some
// accented letters, a few deleted and blank values. Deterministic: the same N gives the same file.
//   make_products OUT.DBF [N]
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct FieldSpec {
  const char* name;
  char type;
  int length;
  int decimals;
};

// 299 bytes of fields plus the deletion mark: 300 bytes a record.
constexpr FieldSpec kFields[] = {
    {"pd_cod", 'C', 14, 0},    {"pd_dsc", 'C', 40, 0},    {"pd_apl", 'C', 20, 0},
    {"pd_und", 'C', 3, 0},     {"pd_frn", 'N', 6, 0},     {"pd_grp", 'N', 3, 0},
    {"pd_qtd_mn", 'N', 9, 3},  {"pd_vlr_cs", 'N', 11, 2}, {"pd_vlr_rf", 'N', 11, 2},
    {"pd_qtd", 'N', 10, 3},    {"pd_bar", 'C', 13, 0},    {"pd_obs", 'C', 60, 0},
    {"pd_loc", 'C', 30, 0},    {"pd_dtc", 'D', 8, 0},     {"pd_fab", 'C', 30, 0},
    {"pd_ncm", 'C', 10, 0},    {"pd_ref", 'C', 21, 0},
};

std::uint64_t state = 0x9E3779B97F4A7C15ULL;
std::uint64_t nextRandom() {  // xorshift64*
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545F4914F6CDD1DULL;
}
std::uint64_t below(std::uint64_t n) { return nextRandom() % n; }

const char* const kWords[] = {"PARAFUSO", "ARRUELA", "PORCA", "CABO", "TOMADA", "L\x83MPADA",
                              "FITA", "COLA", "TINTA", "PINCEL", "LIXA", "SERRA", "MARTELO",
                              "ALICATE", "CHAVE", "TUBO", "CONEX\x8DO", "REGISTRO", "V\x80LVULA",
                              "TORNEIRA", "A\x80O", "ALUM\xD6NIO", "PL\xB5STICO", "GALVANIZADO"};
const char* const kUnits[] = {"UN", "PC", "CX", "KG", "MT", "LT"};

void put(char* at, int width, const std::string& text, bool right) {
  std::memset(at, ' ', static_cast<std::size_t>(width));
  const auto n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(width));
  std::memcpy(at + (right ? width - static_cast<int>(n) : 0), text.data(), n);
}

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

void putU16(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_products OUT.DBF [RECORDS]\n";
    return 2;
  }
  const long records = argc > 2 ? std::atol(argv[2]) : 1000000;
  int recordLength = 1;
  for (const auto& f : kFields) recordLength += f.length;

  std::string header(32, '\0');
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 31;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<char>((records >> (8 * i)) & 0xFF);
  const std::size_t headerLength = 32 + 32 * std::size(kFields) + 1;
  putU16(header, 8, static_cast<unsigned>(headerLength));
  putU16(header, 10, static_cast<unsigned>(recordLength));
  header[29] = 0x02;  // code page 850
  for (const auto& f : kFields) {
    std::string d(32, '\0');
    std::memcpy(d.data(), f.name, std::strlen(f.name));
    d[11] = f.type;
    d[16] = static_cast<char>(f.length);
    d[17] = static_cast<char>(f.decimals);
    header += d;
  }
  header.push_back('\x0D');

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  std::vector<char> rec(static_cast<std::size_t>(recordLength));
  std::vector<char> block;
  block.reserve(rec.size() * 4096);
  for (long r = 0; r < records; ++r) {
    rec[0] = below(1000) == 0 ? '*' : ' ';
    char* at = rec.data() + 1;
    for (const auto& f : kFields) {
      std::string v;
      const std::string name = f.name;
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
        for (int i = 0; i < f.length - f.decimals - 2; ++i) scale *= 10;
        v = number(static_cast<double>(below(static_cast<std::uint64_t>(scale))) +
                       static_cast<double>(below(1000)) / 1000.0, f.decimals);
      } else if (f.type == 'D') {
        v = std::to_string(1990 + below(35)) + "0" + std::to_string(1 + below(9)) + "1" +
            std::to_string(below(9));
      }
      put(at, f.length, v, f.type == 'N');
      at += f.length;
    }
    block.insert(block.end(), rec.begin(), rec.end());
    if (block.size() >= rec.size() * 4096) {
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
