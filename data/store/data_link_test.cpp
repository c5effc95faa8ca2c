#include "data/store/data_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "data/errors.h"
#include "tests/support/temp_dir.h"

namespace importacao {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kFreeTdsOnly = {"PostgreSQL Unicode", "FreeTDS", "SQLite3"};
const std::vector<std::string> kMicrosoftToo = {"FreeTDS", "ODBC Driver 17 for SQL Server",
                                                "ODBC Driver 18 for SQL Server", "SQLite3"};
// A Windows machine without Microsoft's newer drivers, and one with only its own.
const std::vector<std::string> kNativeClient = {"SQL Server", "SQL Server Native Client 10.0",
                                                "SQL Server Native Client 11.0"};
const std::vector<std::string> kWindowsOnly = {"Microsoft Access Driver (*.mdb)", "SQL Server"};

// A data-link file as Windows writes it: UTF-16LE with its mark, CR LF line ends.
std::string windowsDataLink(std::u16string_view initString) {
  std::u16string text = u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n";
  text += initString;
  text += u"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return "(no error)";
}

using test_support::TempDir;

TEST(InitString, PairsQuotesAndCaseAreRead) {
  struct {
    std::string_view text;
    std::string_view key;
    std::string_view want;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Data Source=srv", "data source", "srv"},
      {"  Provider = MSDASQL.1 ; User ID = loja ;", "USER ID", "loja"},
      {"Password=\"a;b\";User ID=u", "password", "a;b"},
      {"Password='it''s';User ID=u", "password", "it's"},
      {"Password=\"say \"\"hi\"\"\"", "password", "say \"hi\""},
      {"Password='a\"b'", "password", "a\"b"},
      {"Extended Properties=\"Driver={PostgreSQL Unicode};Server=127.0.0.1;Pwd={x;y}\"",
       "extended properties", "Driver={PostgreSQL Unicode};Server=127.0.0.1;Pwd={x;y}"},
      {"A==B=1", "A=B", "1"},
      {"Key=;Other=2", "key", ""},
      {"Key=1;key=2", "KEY", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const InitProperties properties = parseInitString(c.text);
    ASSERT_TRUE(properties.get(c.key).has_value());
    EXPECT_EQ(*properties.get(c.key), c.want);
  }
  EXPECT_FALSE(parseInitString("A=1").get("B").has_value());
}

TEST(InitString, MalformedValuesNameTheKeyNeverTheValue) {
  struct {
    std::string_view text;
    std::string_view fragment;
  } cases[] = {
      {"User ID=u;Password=\"se;cret", "unterminated quote in the value of 'Password'"},
      {"Password='se;cret' x;User ID=u", "text after the closing quote of the value of 'Password'"},
      {"Provider=SQLOLEDB;lonely", "without '=' after the property 'Provider'"},
      {"=1", "without a name"},
      // A password with an unquoted ';' splits into what look like properties: their names are
      // pieces of it and are never shown.
      {"Password=se;cret=\"x", "unterminated quote in the value of a property"},
      {"Password=se;cret='x' y", "text after the closing quote of the value of a property"},
      {"Password=se;cret=1;lonely", "holds a property without '='"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string message = messageOf([&] { parseInitString(c.text); });
    EXPECT_THAT(message, HasSubstr(c.fragment));
    EXPECT_THAT(message, Not(HasSubstr("se;cret")));
    EXPECT_THAT(message, Not(HasSubstr("cret")));
  }
}

TEST(DataLinkFile, EveryEncodingYieldsTheInitString) {
  struct {
    std::string_view label;
    std::string bytes;
  } cases[] = {
      {"UTF-16LE with mark",
       windowsDataLink(
           u"Provider=MSDASQL.1;Extended Properties=\"Driver=SQLite3;Database=/d/lojá.db\"")},
      {"UTF-8", "[oledb]\n; comment\n" +
                    std::string("Provider=MSDASQL.1;Extended "
                                "Properties=\"Driver=SQLite3;Database=/d/loj\xC3\xA1.db\"") +
                    "\n"},
      {"UTF-8 with mark",
       "\xEF\xBB\xBF[oledb]\r\n;c\r\nProvider=MSDASQL.1;Extended "
       "Properties=\"Driver=SQLite3;Database=/d/loj\xC3\xA1.db\"\r\n"},
      {"code page 1252",
       "[OLEDB]\r\n;c\r\n\r\nProvider=MSDASQL.1;Extended "
       "Properties=\"Driver=SQLite3;Database=/d/loj\xE1.db\""},
  };
  const std::string want =
      "Provider=MSDASQL.1;Extended Properties=\"Driver=SQLite3;Database=/d/loj\xC3\xA1.db\"";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(initStringFromDataLink(c.bytes, "loja.udl"), want);
  }
}

TEST(DataLinkFile, FilesWithoutAnInitStringAreRefusedByName) {
  struct {
    std::string bytes;
    std::string_view fragment;
  } cases[] = {
      {"", "Data-link file 'loja.udl' is empty"},
      {"\xFF\xFE", "Data-link file 'loja.udl' is empty"},
      {"[oledb]\r\n; only a comment\r\n", "Data-link file 'loja.udl' holds no connection string"},
      {"[Importacao]\r\nConexaoSQL=x\r\n", "Data-link file 'loja.udl' is not a data-link file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fragment);
    EXPECT_THAT(messageOf([&] { initStringFromDataLink(c.bytes, "loja.udl"); }),
                HasSubstr(c.fragment));
  }
}

TEST(DataLinkFile, MissingAndUnreadableFilesAreNamed) {
  TempDir dir;
  const std::string missing = (dir.path() / "nada.udl").string();
  EXPECT_EQ(messageOf([&] { readDataLinkFile(missing); }),
            "Data-link file '" + missing + "' does not exist");
  EXPECT_THAT(messageOf([&] { readDataLinkFile(dir.path()); }),
              HasSubstr("is a folder, not a file"));
  const auto file =
      dir.write("ok.udl", windowsDataLink(u"Provider=MSDASQL;Extended Properties=\"DSN=x\""));
  EXPECT_EQ(readDataLinkFile(file), "Provider=MSDASQL;Extended Properties=\"DSN=x\"");
}

TEST(OdbcValue, SpecialValuesAreBracedWithClosingBracesDoubled) {
  struct {
    std::string_view value;
    std::string_view want;
  } cases[] = {
      {"plain", "plain"},         {"", ""},
      {"a;b", "{a;b}"},           {"x}y", "{x}}y}"},
      {"{start", "{{start}"},     {"a=b", "{a=b}"},
      {" padded ", "{ padded }"}, {"quo'te\"s", "quo'te\"s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(odbcValue(c.value), c.want);
    // What we write reads back as the value.
    EXPECT_EQ(odbcAttribute("PWD=" + odbcValue(c.value) + ";UID=u", "pwd").value_or("?"), c.value);
  }
}

TEST(ProviderMapping, SqlServerProvidersReachAnInstalledDriver) {
  struct {
    std::string_view init;
    const std::vector<std::string>* drivers;
    std::string_view want;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=Loja;User ID=sa;Password=pw",
       &kFreeTdsOnly, "Driver={FreeTDS};Server=srv;TDS_Version=7.4;Database=Loja;UID=sa;PWD=pw"},
      {"Provider=SQLOLEDB;Data Source=srv,1433;Initial Catalog=Loja;User ID=sa;Password=pw",
       &kFreeTdsOnly,
       "Driver={FreeTDS};Server=srv;Port=1433;TDS_Version=7.4;Database=Loja;UID=sa;PWD=pw"},
      {"Provider=SQLNCLI11;Data Source=srv\\SQLEXPRESS;User ID=sa;Password=pw", &kFreeTdsOnly,
       "Driver={FreeTDS};Server=srv\\SQLEXPRESS;TDS_Version=7.4;UID=sa;PWD=pw"},
      {"Provider=SQLNCLI;Data Source=(local);User ID=sa", &kFreeTdsOnly,
       "Driver={FreeTDS};Server=localhost;TDS_Version=7.4;UID=sa"},
      {"Provider=MSOLEDBSQL;Data Source=tcp:srv,1444;User ID=sa;Password=pw", &kFreeTdsOnly,
       "Driver={FreeTDS};Server=srv;Port=1444;TDS_Version=7.4;UID=sa;PWD=pw"},
      {"Provider=SQLOLEDB.1;Data Source=srv\\INST,1500;Initial Catalog=Loja;User ID=sa;Password=pw",
       &kMicrosoftToo,
       "Driver={ODBC Driver 18 for SQL Server};Server=srv\\INST,1500;Database=Loja;UID=sa;PWD=pw;"
       "Encrypt=no"},
      {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=srv;Initial Catalog=Loja",
       &kMicrosoftToo,
       "Driver={ODBC Driver 18 for SQL "
       "Server};Server=srv;Database=Loja;Trusted_Connection=Yes;Encrypt=no"},
      {"Provider=MSOLEDBSQL19;Data Source=srv;User ID=sa;Password=pw;Trust Server Certificate=True",
       &kMicrosoftToo,
       "Driver={ODBC Driver 18 for SQL "
       "Server};Server=srv;UID=sa;PWD=pw;TrustServerCertificate=yes"},
      {"Provider=SQLOLEDB;Data Source=srv;User ID=sa;Password=pw;Use Encryption for Data=True",
       &kFreeTdsOnly,
       "Driver={FreeTDS};Server=srv;TDS_Version=7.4;UID=sa;PWD=pw;Encryption=require"},
      {"Provider=SQLOLEDB;Data Source=srv;User ID=sa;Password=\"p;w}\";Application Name=Importacao",
       &kFreeTdsOnly,
       "Driver={FreeTDS};Server=srv;TDS_Version=7.4;UID=sa;PWD={p;w}}};APP=Importacao"},
      {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=srv\\INST;Initial Catalog=Loja",
       &kNativeClient,
       "Driver={SQL Server Native Client "
       "11.0};Server=srv\\INST;Database=Loja;Trusted_Connection=Yes;"
       "Encrypt=no"},
      {"Provider=SQLOLEDB.1;Data Source=srv;User ID=sa;Password=pw", &kWindowsOnly,
       "Driver={SQL Server};Server=srv;UID=sa;PWD=pw"},
      {"Provider=SQLOLEDB.1;Data Source=srv;User ID=sa;Use Encryption for Data=True", &kWindowsOnly,
       "Driver={SQL Server};Server=srv;UID=sa;Encrypt=yes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    EXPECT_EQ(
        odbcTargetFor(parseInitString(c.init), *c.drivers, "Data-link file 'x'").connectionString,
        c.want);
  }
}

TEST(ProviderMapping, OdbcBridgeUsesTheExtendedPropertiesAsTheyStand) {
  struct {
    std::string_view init;
    std::string_view want;
    std::string_view password;
  } cases[] = {
      {"Provider=MSDASQL.1;Extended Properties=\"Driver={PostgreSQL "
       "Unicode};Server=127.0.0.1;Port=5432;"
       "Database=loja;Uid=u;Pwd=p\"",
       "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=loja;Uid=u;Pwd=p", "p"},
      {"Provider=MSDASQL;Extended Properties='Driver=SQLite3;Database=/tmp/loja.db'",
       "Driver=SQLite3;Database=/tmp/loja.db", ""},
      {"Provider=MSDASQL.1;Persist Security Info=False;User ID=u;Password=\"a;b\";Extended "
       "Properties=\"DSN=loja\"",
       "DSN=loja;UID=u;PWD={a;b}", "a;b"},
      {"Provider=MSDASQL.1;Data Source=loja;User ID=u", "DSN=loja;UID=u", ""},
      // OLE DB takes the ODBC bridge when no provider is named
      {"Extended Properties=\"DSN=loja\"", "DSN=loja", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    const OdbcTarget target = odbcTargetFor(parseInitString(c.init), kFreeTdsOnly, "x");
    EXPECT_EQ(target.connectionString, c.want);
    EXPECT_EQ(target.password, c.password);
  }
}

TEST(ProviderMapping, ConnectTimeoutBoundsTheLoginOnEveryProvider) {
  struct {
    std::string_view init;
    int seconds;
  } cases[] = {
      {"Provider=SQLOLEDB.1;Data Source=srv;User ID=sa", 15},
      {"Provider=SQLOLEDB.1;Data Source=srv;User ID=sa;Connect Timeout=30", 30},
      {"Provider=SQLNCLI11;Data Source=srv;connect timeout= 5 ", 5},
      {"Provider=SQLOLEDB.1;Data Source=srv;Connect Timeout=0", 15},  // 0 would wait for ever
      {"Provider=MSDASQL.1;Extended Properties=\"DSN=loja\";Connect Timeout=7", 7},
      {"Provider=MSDASQL.1;Extended Properties=\"DSN=loja\"", 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    EXPECT_EQ(odbcTargetFor(parseInitString(c.init), kFreeTdsOnly, "x").loginTimeoutSeconds,
              c.seconds);
  }
}

TEST(ProviderMapping, UnusableSettingsAreRefusedWithAClearMessage) {
  struct {
    std::string_view init;
    const std::vector<std::string>* drivers;
    std::string_view fragment;
  } cases[] = {
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c:\\loja.mdb", &kFreeTdsOnly,
       "Data-link file 'l.udl' names the provider 'Microsoft.Jet.OLEDB.4.0', which this program "
       "cannot use"},
      {"Provider=SQLOLEDB.1;Data Source=srv", nullptr,
       "No SQL Server ODBC driver is installed, which "
       "Data-link file 'l.udl' needs"},
      {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=srv", &kFreeTdsOnly,
       "Data-link file 'l.udl' asks for Windows authentication (Integrated Security=SSPI), which "
       "the "
       "FreeTDS driver cannot give"},
      {"Provider=SQLOLEDB.1;Data Source=srv,port;Password=x", &kFreeTdsOnly,
       "Data-link file 'l.udl' gives a Data Source whose port is not a number"},
      {"Provider=SQLOLEDB.1;Data Source=srv;Connect Timeout=15s", &kFreeTdsOnly,
       "Data-link file 'l.udl' gives a Connect Timeout that is not a whole number of seconds"},
      {"Provider=MSDASQL.1;User ID=u", &kFreeTdsOnly,
       "Data-link file 'l.udl' gives neither an ODBC connection string (Extended Properties) nor "
       "an "
       "ODBC data source (Data Source)"},
  };
  const std::vector<std::string> none;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.init);
    EXPECT_THAT(messageOf([&] {
                  odbcTargetFor(parseInitString(c.init), c.drivers ? *c.drivers : none,
                                "Data-link file 'l.udl'");
                }),
                HasSubstr(c.fragment));
  }
}

TEST(ConnectionString, FileNameReadsTheDataLinkFile) {
  TempDir dir;
  const auto file = dir.write(
      "loja;1.udl", windowsDataLink(u"Provider=SQLOLEDB.1;Password=\"s;e'c\"\"r}t\";User ID=sa;"
                                    u"Initial Catalog=Loja;Data Source=srv"));
  const std::string want =
      "Driver={FreeTDS};Server=srv;TDS_Version=7.4;Database=Loja;UID=sa;PWD={s;e'c\"r}}t}";
  // The path holds a ';': the whole rest of the string names the file.
  EXPECT_EQ(resolveConnectionString("FILE NAME=" + file.string(), kFreeTdsOnly).connectionString,
            want);
  EXPECT_EQ(resolveConnectionString("file name=" + file.string(), kFreeTdsOnly).password,
            "s;e'c\"r}t");
  // Quoted, and as one property among others.
  EXPECT_EQ(resolveConnectionString("File Name=\"" + file.string() + "\";Initial Catalog=Outra",
                                    kFreeTdsOnly)
                .connectionString,
            "Driver={FreeTDS};Server=srv;TDS_Version=7.4;Database=Outra;UID=sa;PWD={s;e'c\"r}}t}");
  // Without FILE NAME the string is an initialisation string itself.
  EXPECT_EQ(resolveConnectionString("Provider=MSDASQL;Extended Properties=\"DSN=x\"", kFreeTdsOnly)
                .connectionString,
            "DSN=x");
}

TEST(ConnectionString, BadFilesFailNamingTheFileAndNeverThePassword) {
  TempDir dir;
  const std::string secret = "s3;cr'e\"t";
  const auto unknownProvider =
      dir.write("a.udl", windowsDataLink(u"Provider=Jet;Password=\"s3;cr'e\"\"t\";Data Source=x"));
  const auto badQuote =
      dir.write("b.udl", "[oledb]\n;\nProvider=SQLOLEDB;Password=\"s3;cr'e\"t;User ID=u\n");
  const auto noInit = dir.write("c.udl", "[oledb]\r\n; nothing follows\r\n");
  const auto sspi =
      dir.write("d.udl", "[oledb]\n;\nProvider=SQLOLEDB;Integrated Security=SSPI;Password=" +
                             std::string("\"s3;cr'e\"\"t\"") + ";Data Source=x\n");
  struct {
    std::string connection;
    std::string fragment;
  } cases[] = {
      {"FILE NAME=" + unknownProvider.string(),
       "Data-link file '" + unknownProvider.string() + "' names the provider 'Jet'"},
      {"FILE NAME=" + badQuote.string(),
       "Data-link file '" + badQuote.string() + "' has text after the closing quote"},
      {"FILE NAME=" + noInit.string(),
       "Data-link file '" + noInit.string() + "' holds no connection string"},
      {"FILE NAME=" + sspi.string(),
       "Data-link file '" + sspi.string() + "' asks for Windows authentication"},
      {"FILE NAME=" + (dir.path() / "none.udl").string(),
       "Data-link file '" + (dir.path() / "none.udl").string() + "' does not exist"},
      {"", "The store connection has no connection string"},
      {"FILE NAME=", "names no data-link file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connection);
    const std::string message =
        messageOf([&] { resolveConnectionString(c.connection, kFreeTdsOnly); });
    EXPECT_THAT(message, HasSubstr(c.fragment));
    EXPECT_THAT(message, Not(HasSubstr("s3;cr")));
  }
}

}  // namespace
}  // namespace importacao
