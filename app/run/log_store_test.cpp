#include "app/run/log_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace importacao {
namespace {

struct ExpectedRow {
  std::string bytes;
  std::size_t line;
  bool continuation;
};

std::vector<ExpectedRow> rowsOf(const LogStore& store) {
  std::vector<ExpectedRow> rows;
  for (std::size_t i = 0; i < store.rowCount(); ++i) {
    const auto row = store.row(i);
    rows.push_back({std::string(row.bytes), row.line, row.continuation});
  }
  return rows;
}

MATCHER_P3(IsRow, bytes, line, continuation, "") {
  return arg.bytes == bytes && arg.line == static_cast<std::size_t>(line) &&
         arg.continuation == continuation;
}

TEST(LogStore, LinesComeBackByteForByteAndCarriageReturnsStartRows) {
  using ::testing::ElementsAre;
  LogStore store;
  const std::string error = "Erro gravando o Produto - 123\rduplicate key value";
  const std::string accents = "Importando Cliente - 7 \xe7\xe3o";  // cp1252 "ção"
  const std::string withNul("a\0b", 3);
  store.append("Lendo Tabela de Produtos");
  store.append(error);
  store.append("");
  store.append(accents);
  store.append("tail\r");
  store.append(withNul);
  store.append("\r\rx");

  ASSERT_EQ(store.lineCount(), 7u);
  EXPECT_EQ(store.line(0), "Lendo Tabela de Produtos");
  EXPECT_EQ(store.line(1), error);
  EXPECT_EQ(store.line(2), "");
  EXPECT_EQ(store.line(3), accents);
  EXPECT_EQ(store.line(5), withNul);
  EXPECT_EQ(store.rowCount(), 11u);
  EXPECT_THAT(rowsOf(store),
              ElementsAre(IsRow("Lendo Tabela de Produtos", 0, false),
                          IsRow("Erro gravando o Produto - 123", 1, false),
                          IsRow("duplicate key value", 1, true), IsRow("", 2, false),
                          IsRow(accents, 3, false), IsRow("tail", 4, false), IsRow("", 4, true),
                          IsRow(withNul, 5, false), IsRow("", 6, false), IsRow("", 6, true),
                          IsRow("x", 6, true)));
  EXPECT_EQ(store.firstRowOf(6), 8u);
}

TEST(LogStore, LongestRowIsTrackedAcrossContinuations) {
  struct Case {
    std::vector<std::string> lines;
    std::size_t bytes;
    std::size_t row;
  } cases[] = {
      {{}, 0, 0},
      {{"ab", "abcd", "abc"}, 4, 1},
      {{"ab\rabcdef", "abcd"}, 6, 1},
      {{"abc", "x\ryy\rzzzzz"}, 5, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.lines));
    LogStore store;
    for (const auto& l : c.lines) store.append(l);
    EXPECT_EQ(store.longestRowBytes(), c.bytes);
    EXPECT_EQ(store.longestRowIndex(), c.row);
  }
}

// Lines move between blocks; a line bigger than a block gets its own. Earlier views stay valid.
TEST(LogStore, ManyAndHugeLinesKeepTheirBytesAndClearGivesMemoryBack) {
  LogStore store;
  const std::string huge(3u << 20, 'h');
  std::vector<std::string> expected;
  for (int i = 0; i < 200000; ++i) {
    expected.push_back("Importando Produto - " + std::to_string(i));
    if (i == 1000) expected.push_back(huge);
  }
  for (const auto& l : expected) store.append(l);
  ASSERT_EQ(store.lineCount(), expected.size());
  for (std::size_t i = 0; i < expected.size(); i += 997) EXPECT_EQ(store.line(i), expected[i]);
  EXPECT_EQ(store.line(1001), huge);
  EXPECT_EQ(store.line(expected.size() - 1), expected.back());
  EXPECT_EQ(store.row(store.rowCount() - 1).bytes, expected.back());

  // The store costs the bytes plus a small fixed share per line, not a multiple of them.
  std::size_t bytes = 0;
  for (const auto& l : expected) bytes += l.size();
  EXPECT_LT(store.memoryUsed(), bytes + expected.size() * 64 + (2u << 20));

  store.clear();
  EXPECT_EQ(store.lineCount(), 0u);
  EXPECT_EQ(store.rowCount(), 0u);
  EXPECT_EQ(store.longestRowBytes(), 0u);
  EXPECT_EQ(store.memoryUsed(), 0u);
  store.append("again");
  EXPECT_EQ(store.line(0), "again");
}

}  // namespace
}  // namespace importacao
