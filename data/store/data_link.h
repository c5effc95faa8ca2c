// Data-link files and the OLE DB connection strings they hold, turned into ODBC connection
// strings.
//
// A data-link file is what Windows writes for a saved OLE DB connection: UTF-16LE text with a
// byte-order mark (or plain 8-bit text when written by hand), a first line "[oledb]", a comment
// line starting with ';', and the initialisation string, for example
//   Provider=SQLOLEDB.1;Password=s3cr3t;User ID=loja;Initial Catalog=Loja;Data Source=srv\SQL
// The providers map to ODBC drivers installed here:
//   SQLOLEDB, SQLOLEDB.1, SQLNCLI*, MSOLEDBSQL*  -> SQL Server through Microsoft's "ODBC Driver
//       18/17 for SQL Server" when installed, else FreeTDS;
//   MSDASQL, MSDASQL.1 (also when no provider is named, as OLE DB does) -> the ODBC connection
//       string in Extended Properties, as it stands, or the data source named by Data Source.
// Either way a server that does not answer is given up after Connect Timeout seconds (OLE DB's
// own default, 15, when the file gives none or 0, which would mean waiting for ever).
// Anything else is refused with a message naming the file. No message ever holds a password.
//
// Text here is UTF-8 (file paths and connection strings); messages are code page 1252.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace importacao {

// The Key=Value pairs of an OLE DB initialisation string, in order. Keys compare without regard
// to case; a key given twice keeps its last value.
class InitProperties {
 public:
  // The value of `key`, nullopt when absent.
  std::optional<std::string> get(std::string_view key) const;
  void set(std::string key, std::string value);
  const std::vector<std::pair<std::string, std::string>>& items() const noexcept { return items_; }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// Parses an initialisation string: pairs separated by ';', blanks around keys and values
// ignored, a value optionally enclosed in single or double quotes (the same quote doubled inside
// stands for one), an '=' inside a key written doubled. Throws DataError naming the key whose
// value is malformed (an unterminated quote, text after the closing quote), never the value.
InitProperties parseInitString(std::string_view text);

// The initialisation string held by the bytes of a data-link file (UTF-16LE with its mark,
// UTF-8 with or without one, or 8-bit text: read as UTF-8 when it is valid UTF-8, else as code
// page 1252). The first non-empty line must be "[oledb]"; lines starting with ';' and empty lines
// are skipped; the first other line is the initialisation string. Throws DataError naming
// `fileName` for a file that is not a data-link file or holds no initialisation string.
std::string initStringFromDataLink(std::string_view bytes, std::string_view fileName);

// Reads the file and returns initStringFromDataLink of its bytes. A missing or unreadable file
// throws DataError naming it.
std::string readDataLinkFile(const std::filesystem::path& path);

// How long a connect waits for a server that does not answer, unless Connect Timeout says.
inline constexpr int kDefaultLoginTimeoutSeconds = 15;

// Where an ODBC connection goes.
struct OdbcTarget {
  std::string connectionString;  // for SQLDriverConnect (UTF-8)
  std::string password;          // kept out of every message
  std::string driver;            // the ODBC driver chosen, when this code chose it
  int loginTimeoutSeconds = kDefaultLoginTimeoutSeconds;
};

// Quotes one value for an ODBC connection string: unchanged when it holds nothing special, else
// enclosed in braces with every '}' doubled.
std::string odbcValue(std::string_view value);

// The value of `key` (without regard to case) in an ODBC connection string; nullopt when absent.
// Understands braced values.
std::optional<std::string> odbcAttribute(std::string_view connectionString, std::string_view key);

// Maps an initialisation string's properties to an ODBC connection, choosing among
// `installedDrivers` (SQLDrivers' names) for SQL Server. `source` names where the properties
// came from in messages (e.g. "Data-link file '/x/loja.udl'"). Throws DataError, also for a
// Connect Timeout that is not a whole number of seconds.
OdbcTarget odbcTargetFor(const InitProperties& properties,
                         const std::vector<std::string>& installedDrivers, std::string_view source);

// Resolves a connection's connection string: "FILE NAME=<path>" (the key without regard to case)
// reads that data-link file; any other text is an initialisation string itself. An empty
// connection string throws DataError. Throws DataError for everything odbcTargetFor refuses.
OdbcTarget resolveConnectionString(std::string_view connectionString,
                                   const std::vector<std::string>& installedDrivers);

}  // namespace importacao
