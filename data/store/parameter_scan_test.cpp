#include "data/store/parameter_scan.h"

#include <gtest/gtest.h>

namespace importacao {
namespace {

TEST(ParameterScan, NamesBecomeMarkersByTheColonRules) {
  struct {
    std::string_view statement;
    std::string_view text;
    std::vector<std::string> names;
  } cases[] = {
      {"select * from t where a = :a", "select * from t where a = ?", {"a"}},
      // every terminator: LF, CR, blank, ')', ',', ';', end
      {"(:a)", "(?)", {"a"}},
      {":a,:b;:c\n:d\r:e :f", "?,?;?\n?\r? ?", {"a", "b", "c", "d", "e", "f"}},
      // a tab and '=' are no terminators
      {":a\tb=1 x", "? x", {"a\tb=1"}},
      // a repeated name makes one marker per occurrence
      {"where a = :k or b = :k", "where a = ? or b = ?", {"k", "k"}},
      // two colons are one literal colon
      {"select 1::int, 'x'", "select 1:int, 'x'", {}},
      {"a:::b", "a:?", {"b"}},
      // colons inside quoted literals are ordinary characters, for all three quotes
      {"'a:b' \":c\" `:d` :e", "'a:b' \":c\" `:d` ?", {"e"}},
      // a doubled quote inside a literal keeps the literal open
      {"'it''s :no' :yes", "'it''s :no' ?", {"yes"}},
      // a quoted name after the colon loses its quotes and may hold blanks
      {"where a = :\"my name\" and b = :'x'", "where a = ? and b = ?", {"my name", "x"}},
      // an unterminated literal runs to the end
      {"'open :a", "'open :a", {}},
      // a colon at the very end starts an empty name
      {"a :", "a ?", {""}},
      {"", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    const ScannedStatement scanned = scanNamedParameters(c.statement);
    EXPECT_EQ(scanned.text, c.text);
    EXPECT_EQ(scanned.names, c.names);
  }
}

TEST(ParameterScan, DeclaredStatementsKeepTheirConstants) {
  const ScannedStatement scanned = scanNamedParameters(
      "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam, "
      "est_atual,idestoque)\r\n"
      " values (:data , 0, :idreferencia, 1, '0', :estoque, :idestoque)\r\n");
  EXPECT_EQ(scanned.text,
            "insert into estoqueinicial (data,sequencia, idreferencia, idcor, tam, "
            "est_atual,idestoque)\r\n"
            " values (? , 0, ?, 1, '0', ?, ?)\r\n");
  EXPECT_EQ(scanned.names,
            (std::vector<std::string>{"data", "idreferencia", "estoque", "idestoque"}));
}

}  // namespace
}  // namespace importacao
