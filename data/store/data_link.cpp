#include "data/store/data_link.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <system_error>

#include "data/errors.h"
#include "data/store/dialect.h"
#include "data/store/odbc.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"
#include "platform/path.h"

namespace importacao {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCaseAscii(text.substr(0, prefix.size()), prefix);
}

// Messages are code page 1252; names and paths here are UTF-8.
std::string forMessage(std::string_view utf8) { return utf8ToCp1252(utf8); }

[[noreturn]] void fail(std::string_view source, std::string_view problem) {
  throw DataError(forMessage(std::string(source)) + " " + std::string(problem));
}

// The first of several spellings a property goes by.
std::optional<std::string> getAny(const InitProperties& properties,
                                  std::initializer_list<std::string_view> keys) {
  for (std::string_view key : keys) {
    if (auto value = properties.get(key)) return value;
  }
  return std::nullopt;
}

bool isTrue(std::string_view value) {
  value = trimBlanksAndLineBreaks(value);
  return equalsNoCaseAscii(value, "true") || equalsNoCaseAscii(value, "yes") ||
         equalsNoCaseAscii(value, "sspi") || value == "1";
}

std::string decodeDataLinkBytes(std::string_view bytes) {
  auto utf16 = [](std::string_view raw, bool bigEndian) {
    std::u16string text(raw.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto a = static_cast<unsigned char>(raw[2 * i]);
      const auto b = static_cast<unsigned char>(raw[2 * i + 1]);
      text[i] = bigEndian ? static_cast<char16_t>(a << 8 | b) : static_cast<char16_t>(b << 8 | a);
    }
    return utf16ToUtf8(text);
  };
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xff &&
      static_cast<unsigned char>(bytes[1]) == 0xfe) {
    return utf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xfe &&
      static_cast<unsigned char>(bytes[1]) == 0xff) {
    return utf16(bytes.substr(2), true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    return std::string(bytes.substr(3));
  // UTF-16 saved without its mark: every second byte of plain text is zero.
  if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') return utf16(bytes, false);
  if (isValidUtf8(bytes)) return std::string(bytes);
  return cp1252ToUtf8(bytes);
}

struct SqlServerAddress {
  std::string host;
  std::string instance;
  std::string port;
};

SqlServerAddress parseDataSource(std::string_view dataSource, std::string_view source) {
  std::string_view text = trimBlanksAndLineBreaks(dataSource);
  if (startsWithNoCase(text, "tcp:")) text.remove_prefix(4);
  SqlServerAddress address;
  if (const std::size_t comma = text.find(','); comma != std::string_view::npos) {
    const std::string_view port = trimBlanksAndLineBreaks(text.substr(comma + 1));
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value == 0 ||
        value > 65535) {
      fail(source, "gives a Data Source whose port is not a number from 1 to 65535");
    }
    address.port = std::string(port);
    text = trimBlanksAndLineBreaks(text.substr(0, comma));
  }
  if (const std::size_t slash = text.find('\\'); slash != std::string_view::npos) {
    address.instance = std::string(trimBlanksAndLineBreaks(text.substr(slash + 1)));
    text = trimBlanksAndLineBreaks(text.substr(0, slash));
  }
  // "(local)" and "." name the machine itself, which here is reached over TCP.
  if (text.empty() || text == "." || equalsNoCaseAscii(text, "(local)")) text = "localhost";
  address.host = std::string(text);
  return address;
}

// The installed driver named `prefix`, a version number and `suffix` ("ODBC Driver 18 for SQL
// Server", "SQL Server Native Client 11.0") with the highest version.
std::optional<std::string> newestVersioned(const std::vector<std::string>& drivers,
                                           std::string_view prefix, std::string_view suffix) {
  std::optional<std::string> best;
  int bestVersion = -1;
  for (const std::string& name : drivers) {
    if (name.size() <= prefix.size() + suffix.size() || !startsWithNoCase(name, prefix) ||
        !equalsNoCaseAscii(std::string_view(name).substr(name.size() - suffix.size()), suffix))
      continue;
    const std::string_view middle =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    int version = 0;
    std::from_chars(middle.data(), middle.data() + middle.size(), version);
    if (version > bestVersion) {
      bestVersion = version;
      best = name;
    }
  }
  return best;
}

// The "SQL Server" driver that comes with every Windows: the oldest, the last choice.
constexpr std::string_view kWindowsSqlServerDriver = "SQL Server";

// The SQL Server driver to use: Microsoft's newest ODBC driver when installed, then the newest
// Native Client, then FreeTDS, then the driver every Windows has.
std::optional<std::string> chooseSqlServerDriver(const std::vector<std::string>& drivers) {
  if (auto best = newestVersioned(drivers, "ODBC Driver ", " for SQL Server")) return best;
  if (auto best = newestVersioned(drivers, "SQL Server Native Client ", "")) return best;
  for (const std::string& name : drivers) {
    if (equalsNoCaseAscii(name, "FreeTDS")) return name;
  }
  for (const std::string& name : drivers) {
    if (name.find("FreeTDS") != std::string::npos || name.find("freetds") != std::string::npos) {
      return name;
    }
  }
  for (const std::string& name : drivers) {
    if (equalsNoCaseAscii(name, kWindowsSqlServerDriver)) return name;
  }
  return std::nullopt;
}

void append(std::string& connection, std::string_view key, std::string_view value) {
  if (!connection.empty() && connection.back() != ';') connection += ';';
  connection += key;
  connection += '=';
  connection += odbcValue(value);
}

OdbcTarget sqlServerTarget(const InitProperties& properties, std::string_view provider,
                           const std::vector<std::string>& drivers, std::string_view source) {
  const std::optional<std::string> driver = chooseSqlServerDriver(drivers);
  if (!driver) {
    throw DataError(
        "No SQL Server ODBC driver is installed, which " + forMessage(std::string(source)) +
        " needs: install FreeTDS (the Debian package tdsodbc) or Microsoft's ODBC Driver 18 for "
        "SQL Server");
  }
  const bool freeTds =
      driver->find("FreeTDS") != std::string::npos || driver->find("freetds") != std::string::npos;
  const SqlServerAddress address = parseDataSource(
      getAny(properties, {"Data Source", "Server", "Address", "Addr"}).value_or(""), source);

  OdbcTarget target;
  target.driver = *driver;
  std::string& c = target.connectionString;
  c = "Driver={" + *driver + "}";
  if (freeTds) {
    append(c, "Server",
           address.instance.empty() ? address.host : address.host + "\\" + address.instance);
    if (!address.port.empty()) append(c, "Port", address.port);
    // Named, not left to FreeTDS's automatic choice: that tries one version after another and,
    // against a server that does not answer, never gives up whatever the login timeout. 7.4 is
    // SQL Server 2012's; an older server answers in its own.
    append(c, "TDS_Version", "7.4");
  } else {
    std::string server = address.host;
    if (!address.instance.empty()) server += "\\" + address.instance;
    if (!address.port.empty()) server += "," + address.port;
    append(c, "Server", server);
  }
  if (auto database = getAny(properties, {"Initial Catalog", "Database"})) {
    append(c, "Database", *database);
  }

  const std::optional<std::string> integrated =
      getAny(properties, {"Integrated Security", "Trusted_Connection"});
  if (integrated && isTrue(*integrated)) {
    if (freeTds) {
      fail(source,
           "asks for Windows authentication (Integrated Security=SSPI), which the FreeTDS driver "
           "cannot give without a Kerberos set-up: put a User ID and Password in the data-link "
           "file, or install Microsoft's ODBC Driver 18 for SQL Server");
    }
    append(c, "Trusted_Connection", "Yes");
  } else {
    if (auto user = getAny(properties, {"User ID", "UID", "User"})) append(c, "UID", *user);
    if (auto password = getAny(properties, {"Password", "PWD"})) {
      append(c, "PWD", *password);
      target.password = *password;
    }
  }

  const std::optional<std::string> encryption = properties.get("Use Encryption for Data");
  if (encryption) {
    const std::string_view value = trimBlanksAndLineBreaks(*encryption);
    const bool strict = equalsNoCaseAscii(value, "strict");
    const bool on = strict || equalsNoCaseAscii(value, "mandatory") || isTrue(value);
    if (freeTds) {
      append(c, "Encryption", on ? "require" : "request");
    } else {
      append(c, "Encrypt", strict ? "strict" : on ? "yes" : "no");
    }
  } else if (!freeTds && !startsWithNoCase(provider, "MSOLEDBSQL19") &&
             !equalsNoCaseAscii(*driver, kWindowsSqlServerDriver)) {
    // The older providers never encrypted unless asked; Microsoft's newer drivers do by default
    // and then refuse servers without a trusted certificate. (Windows' own driver never does.)
    append(c, "Encrypt", "no");
  }
  if (auto trust = properties.get("Trust Server Certificate");
      trust && isTrue(*trust) && !freeTds) {
    append(c, "TrustServerCertificate", "yes");
  }
  if (auto application = properties.get("Application Name")) append(c, "APP", *application);
  if (auto workstation = properties.get("Workstation ID")) append(c, "WSID", *workstation);
  return target;
}

OdbcTarget msdasqlTarget(const InitProperties& properties, std::string_view source) {
  OdbcTarget target;
  const std::optional<std::string> user = getAny(properties, {"User ID", "UID", "User"});
  const std::optional<std::string> password = getAny(properties, {"Password", "PWD"});
  if (auto extended = properties.get("Extended Properties");
      extended && !trimBlanksAndLineBreaks(*extended).empty()) {
    target.connectionString = std::string(trimBlanksAndLineBreaks(*extended));
  } else if (auto dataSource = properties.get("Data Source");
             dataSource && !trimBlanksAndLineBreaks(*dataSource).empty()) {
    append(target.connectionString, "DSN", trimBlanksAndLineBreaks(*dataSource));
  } else {
    fail(source,
         "gives neither an ODBC connection string (Extended Properties) nor an ODBC data source "
         "(Data Source)");
  }
  std::string& c = target.connectionString;
  // User and password given beside the ODBC string complete it, as the OLE DB bridge does.
  if (user && !odbcAttribute(c, "UID")) append(c, "UID", *user);
  if (password && !odbcAttribute(c, "PWD") && !odbcAttribute(c, "Password")) {
    append(c, "PWD", *password);
  }
  target.password = odbcAttribute(c, "PWD").value_or(odbcAttribute(c, "Password").value_or(""));
  return target;
}

// The properties this program knows by name. Only these are named in a message about a
// malformed initialisation string: a password holding a ';' that was not put in quotes splits
// into what look like further properties, and their names are pieces of the password.
bool isKnownProperty(std::string_view key) {
  static constexpr std::string_view kKnown[] = {"Provider",
                                                "Data Source",
                                                "Server",
                                                "Address",
                                                "Addr",
                                                "Initial Catalog",
                                                "Database",
                                                "Integrated Security",
                                                "Trusted_Connection",
                                                "User ID",
                                                "UID",
                                                "User",
                                                "Password",
                                                "PWD",
                                                "Use Encryption for Data",
                                                "Trust Server Certificate",
                                                "Application Name",
                                                "Workstation ID",
                                                "Extended Properties",
                                                "File Name",
                                                "Persist Security Info",
                                                "Connect Timeout",
                                                "General Timeout",
                                                "Locale Identifier",
                                                "Mode",
                                                "Auto Translate",
                                                "Packet Size",
                                                "Use Procedure for Prepare",
                                                "Tag with column collation when possible",
                                                "Initial File Name",
                                                "Network Library",
                                                "DataTypeCompatibility",
                                                "MARS Connection"};
  return std::any_of(std::begin(kKnown), std::end(kKnown),
                     [&](std::string_view known) { return equalsNoCaseAscii(key, known); });
}

// "the value of 'Password'", or "the value of a property" for a name that may be a piece of one.
std::string valueOf(const std::string& key) {
  return isKnownProperty(key) ? "the value of '" + forMessage(key) + "'"
                              : std::string("the value of a property");
}

}  // namespace

// --- Initialisation strings --------------------------------------------------------------------

std::optional<std::string> InitProperties::get(std::string_view key) const {
  for (const auto& [k, v] : items_) {
    if (equalsNoCaseAscii(k, key)) return v;
  }
  return std::nullopt;
}

void InitProperties::set(std::string key, std::string value) {
  for (auto& [k, v] : items_) {
    if (equalsNoCaseAscii(k, key)) {
      v = std::move(value);
      return;
    }
  }
  items_.emplace_back(std::move(key), std::move(value));
}

InitProperties parseInitString(std::string_view text) {
  InitProperties properties;
  std::size_t i = 0;
  const std::size_t n = text.size();
  std::string lastKey;
  while (i < n) {
    while (i < n && (isBlankOrLineBreak(text[i]) || text[i] == ';')) ++i;
    if (i >= n) break;
    // The key runs to the first single '='; "==" stands for an '=' in the key.
    std::string key;
    bool sawEquals = false;
    while (i < n) {
      if (text[i] == '=') {
        if (i + 1 < n && text[i + 1] == '=') {
          key += '=';
          i += 2;
          continue;
        }
        sawEquals = true;
        ++i;
        break;
      }
      if (text[i] == ';') break;
      key += text[i++];
    }
    key = std::string(trimBlanksAndLineBreaks(key));
    if (!sawEquals) {
      throw DataError(lastKey.empty() ? std::string("holds a property without '=' at its start")
                      : isKnownProperty(lastKey)
                          ? "holds a property without '=' after the property '" +
                                forMessage(lastKey) + "'"
                          : std::string("holds a property without '='"));
    }
    while (i < n && isBlankOrTab(text[i])) ++i;
    std::string value;
    if (i < n && (text[i] == '"' || text[i] == '\'')) {
      const char quote = text[i++];
      bool closed = false;
      while (i < n) {
        if (text[i] == quote) {
          if (i + 1 < n && text[i + 1] == quote) {
            value += quote;
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        value += text[i++];
      }
      if (!closed) {
        throw DataError("has an unterminated quote in " + valueOf(key));
      }
      while (i < n && isBlankOrTab(text[i])) ++i;
      if (i < n && text[i] != ';' && text[i] != '\r' && text[i] != '\n') {
        throw DataError("has text after the closing quote of " + valueOf(key));
      }
    } else {
      const std::size_t end = std::min(text.find(';', i), n);
      value = std::string(trimBlanksAndLineBreaks(text.substr(i, end - i)));
      i = end;
    }
    if (key.empty()) throw DataError("holds a property without a name");
    lastKey = key;
    properties.set(std::move(key), std::move(value));
  }
  return properties;
}

// --- Data-link files ---------------------------------------------------------------------------

std::string initStringFromDataLink(std::string_view bytes, std::string_view fileName) {
  const std::string source = "Data-link file '" + std::string(fileName) + "'";
  const std::string text = decodeDataLinkBytes(bytes);
  bool sawHeader = false;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line =
        trimBlanksAndLineBreaks(std::string_view(text).substr(at, end - at));
    at = end + 1;
    if (line.empty()) continue;
    if (!sawHeader) {
      if (!equalsNoCaseAscii(line, "[oledb]"))
        fail(source, "is not a data-link file: its first line is not [oledb]");
      sawHeader = true;
      continue;
    }
    if (line.front() == ';') continue;
    return std::string(line);
  }
  if (!sawHeader) fail(source, "is empty");
  fail(source, "holds no connection string");
}

std::string readDataLinkFile(const std::filesystem::path& path) {
  const std::string name = utf8Path(path);
  const std::string source = "Data-link file '" + name + "'";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) fail(source, "does not exist");
  if (std::filesystem::is_directory(path, error)) fail(source, "is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    fail(source,
         "cannot be read: " + std::make_error_code(static_cast<std::errc>(errno)).message());
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) fail(source, "cannot be read");
  return initStringFromDataLink(bytes, name);
}

// --- ODBC connection strings -------------------------------------------------------------------

// Braces only where they are needed: psqlODBC reads braces around a password (and undoubles
// "}}" there) but keeps them as part of a user name, and the SQLite3 driver reads none at all.
std::string odbcValue(std::string_view value) {
  const bool plain =
      value.find_first_of(";{}=") == std::string_view::npos &&
      (value.empty() || (!isBlankOrTab(value.front()) && !isBlankOrTab(value.back())));
  if (plain) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

std::optional<std::string> odbcAttribute(std::string_view connectionString, std::string_view key) {
  std::size_t i = 0;
  const std::size_t n = connectionString.size();
  std::optional<std::string> found;
  while (i < n) {
    while (i < n && (connectionString[i] == ';' || isBlankOrTab(connectionString[i]))) ++i;
    const std::size_t equals = connectionString.find('=', i);
    if (equals == std::string_view::npos) break;
    const std::string_view name = trimBlanksAndLineBreaks(connectionString.substr(i, equals - i));
    i = equals + 1;
    while (i < n && isBlankOrTab(connectionString[i])) ++i;
    std::string value;
    if (i < n && connectionString[i] == '{') {
      ++i;
      while (i < n) {
        if (connectionString[i] == '}') {
          if (i + 1 < n && connectionString[i + 1] == '}') {
            value += '}';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += connectionString[i++];
      }
      while (i < n && connectionString[i] != ';') ++i;
    } else {
      const std::size_t end = std::min(connectionString.find(';', i), n);
      value = std::string(trimBlanksAndLineBreaks(connectionString.substr(i, end - i)));
      i = end;
    }
    if (equalsNoCaseAscii(name, key)) found = std::move(value);
  }
  return found;
}

// Connect Timeout in seconds: OLE DB's default when absent or 0 (for ever, which a window must
// not do).
int loginTimeout(const InitProperties& properties, std::string_view source) {
  const std::optional<std::string> given = properties.get("Connect Timeout");
  if (!given) return kDefaultLoginTimeoutSeconds;
  const std::string_view text = trimBlanksAndLineBreaks(*given);
  int seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || seconds < 0) {
    fail(source, "gives a Connect Timeout that is not a whole number of seconds");
  }
  return seconds == 0 ? kDefaultLoginTimeoutSeconds : seconds;
}

OdbcTarget odbcTargetFor(const InitProperties& properties,
                         const std::vector<std::string>& installedDrivers,
                         std::string_view source) {
  const int timeout = loginTimeout(properties, source);
  const std::string provider =
      std::string(trimBlanksAndLineBreaks(properties.get("Provider").value_or("")));
  if (equalsNoCaseAscii(provider, "SQLOLEDB") || equalsNoCaseAscii(provider, "SQLOLEDB.1") ||
      startsWithNoCase(provider, "SQLNCLI") || startsWithNoCase(provider, "MSOLEDBSQL")) {
    OdbcTarget target = sqlServerTarget(properties, provider, installedDrivers, source);
    target.loginTimeoutSeconds = timeout;
    return target;
  }
  // OLE DB takes the ODBC bridge when no provider is named.
  if (provider.empty() || equalsNoCaseAscii(provider, "MSDASQL") ||
      equalsNoCaseAscii(provider, "MSDASQL.1")) {
    OdbcTarget target = msdasqlTarget(properties, source);
    target.loginTimeoutSeconds = timeout;
    return target;
  }
  fail(source, "names the provider '" + provider +
                   "', which this program cannot use: name SQLOLEDB, SQLNCLI, MSOLEDBSQL (SQL "
                   "Server) or MSDASQL (an ODBC connection string in Extended Properties)");
}

OdbcTarget resolveConnectionString(std::string_view connectionString,
                                   const std::vector<std::string>& installedDrivers) {
  const std::string_view text = trimBlanksAndLineBreaks(connectionString);
  if (text.empty()) throw DataError("The store connection has no connection string");

  std::string fileName;
  InitProperties extra;
  constexpr std::string_view kFileName = "FILE NAME=";
  std::error_code error;
  if (startsWithNoCase(text, kFileName) &&
      std::filesystem::exists(pathFromUtf8(trimBlanksAndLineBreaks(text.substr(kFileName.size()))),
                              error)) {
    // The whole rest names the file, even when the path holds a ';'.
    fileName = std::string(trimBlanksAndLineBreaks(text.substr(kFileName.size())));
  } else {
    InitProperties properties;
    try {
      properties = parseInitString(text);
    } catch (const DataError& e) {
      throw DataError(std::string("The store connection string ") + e.what());
    }
    if (auto file = properties.get("File Name")) {
      fileName = *file;
      for (const auto& [k, v] : properties.items()) {
        if (!equalsNoCaseAscii(k, "File Name")) extra.set(k, v);
      }
    } else {
      return odbcTargetFor(properties, installedDrivers, "The store connection string");
    }
  }
  if (fileName.size() >= 2 && fileName.front() == '"' && fileName.back() == '"') {
    fileName = fileName.substr(1, fileName.size() - 2);
  }
  const std::string source = "Data-link file '" + fileName + "'";
  if (fileName.empty()) throw DataError("The store connection string names no data-link file");
  const std::string initString = readDataLinkFile(pathFromUtf8(fileName));
  InitProperties properties;
  try {
    properties = parseInitString(initString);
  } catch (const DataError& e) {
    fail(source, e.what());
  }
  // Properties written beside FILE NAME in the connection string take precedence.
  for (const auto& [k, v] : extra.items()) properties.set(k, v);
  return odbcTargetFor(properties, installedDrivers, source);
}

}  // namespace importacao
