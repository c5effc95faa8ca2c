// The settings file Importacao.ini: a private-profile file of [sections] and Key=Value lines,
// and the eight settings the configuration page shows.
//
// On Linux the file is $XDG_CONFIG_HOME/Importacao.ini (by default ~/.config/Importacao.ini),
// read and written by this program (profile_posix.cpp); on Windows Importacao.ini in the folder
// %APPDATA%\Importacao, read and written by the system's private-profile functions
// (profile_win32.cpp).
// Reading follows the private-profile rules: sections and keys are found without regard to case
// (the first match wins), blanks around keys and values are dropped, a value wholly enclosed in
// single or double quotes is read without them, and a value is cut to 2047 characters. A missing
// file, section or key gives the caller's default. Writing creates the file, the section and the
// key as needed and keeps every other line of the file byte for byte. Each write replaces the
// whole file atomically (temporary file beside it, fsync, rename), so a crash or a full disk
// leaves either the old file or the new one, never a mixture.
//
// Values are UTF-8 text in memory (paths too, see platform/path.h). On Linux a file whose value
// is not valid UTF-8 is taken to be code page 1252 (a file copied from a Windows machine) and
// converted; on Windows the file is in the system's ANSI code page, as Windows keeps it.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace importacao {

inline constexpr std::string_view kSettingsFileName = "Importacao.ini";
inline constexpr std::string_view kDataLinkFileName = "Importacao.udl";
inline constexpr std::size_t kProfileValueLimit = 2047;  // characters a read returns at most

// The settings file's location: $XDG_CONFIG_HOME/Importacao.ini when XDG_CONFIG_HOME is set to
// an absolute path, else $HOME/.config/Importacao.ini. Never throws; with neither variable set
// it names Importacao.ini in the working folder. On Windows: %APPDATA%\Importacao\Importacao.ini
// (a standard user cannot write the Windows folder from a 64-bit program); when that file does not
// exist yet and the Windows folder holds an Importacao.ini of an earlier installation, that one
// is copied there first (never moved or changed).
std::filesystem::path defaultSettingsPath();

// One private-profile file. Every call opens the file, does its work and closes it; no handle is
// kept. Copyable; holds only the path.
class ProfileFile {
 public:
  explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const noexcept { return path_; }

  // The value of `key` in `section`, or `defaultValue` when the file, the section or the key is
  // missing or the file cannot be read. Never throws. Names are found without regard to case or
  // to the blanks around them; a carriage return ending a line is not part of its value.
  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

  // Sets `key` in `section` to `value` ("Key=" for an empty value). An existing key line is
  // replaced in place; a missing key is added after the section's last entry; a missing section
  // is added at the end of the file; a missing file (and missing folders above it) is created.
  // Throws DataError "Unable to write to <file name>" (the bare name, e.g. Importacao.ini) when
  // the write is refused: a read-only file, a folder that cannot be written or created, a full
  // disk, a section, key or value holding a line break, or a key beginning with '[' (its line
  // would read as a section header). On failure the file is as it was.
  void writeString(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::filesystem::path path_;
};

// The eight settings, as the configuration page's controls hold them. Defaults are those of a
// first start without a file.
struct SettingsValues {
  std::string ConexaoDBF;      // [Importacao] edtconexao: the legacy folder, ConDb's PATH
  std::string ConexaoSQL;      // [Importacao] edtConexatSql: the file-name box's raw text
  std::string Duplicata;       // [FormaPgto] Edit1
  std::string Cheque;          // [FormaPgto] Edit2
  std::string Avista;          // [FormaPgto] Edit3
  std::string Cartao;          // [FormaPgto] Edit4
  std::string DepBanco;        // [FormaPgto] Edit5
  std::string Vendedor = "1";  // [Vendas] Edit6

  friend bool operator==(const SettingsValues&, const SettingsValues&) = default;
};

// One of the eight settings: where the settings file keeps it, the configuration page's edit box
// that shows it (its name in app/run/window_layout.h) and its member of SettingsValues. Both
// windows load and save through this table; the default is that of SettingsValues{}.
struct SettingKey {
  std::string_view section;
  std::string_view key;
  std::string_view control;
  std::string SettingsValues::*value;
};

// The eight settings in load and save order, which is also the boxes' tab order.
inline constexpr std::array<SettingKey, 8> kSettingKeys{{
    {"Importacao", "ConexaoDBF", "edtconexao", &SettingsValues::ConexaoDBF},
    {"Importacao", "ConexaoSQL", "edtConexatSql", &SettingsValues::ConexaoSQL},
    {"FormaPgto", "Duplicata", "Edit1", &SettingsValues::Duplicata},
    {"FormaPgto", "Cheque", "Edit2", &SettingsValues::Cheque},
    {"FormaPgto", "Avista", "Edit3", &SettingsValues::Avista},
    {"FormaPgto", "Cartao", "Edit4", &SettingsValues::Cartao},
    {"FormaPgto", "DepBanco", "Edit5", &SettingsValues::DepBanco},
    {"Vendas", "Vendedor", "Edit6", &SettingsValues::Vendedor},
}};

// Reads the eight keys in load order (ConexaoDBF, ConexaoSQL, Duplicata, Cheque, Avista, Cartao,
// DepBanco, Vendedor); each missing one gets its default. Never throws.
SettingsValues loadSettings(const ProfileFile& file);

// Writes the eight keys in save order, one write per key, empty values included. Throws the
// DataError of ProfileFile::writeString; keys written before the failing one keep their values.
void saveSettings(ProfileFile& file, const SettingsValues& values);

// [Importacao] PaginaCodigoDBF: the legacy tables' code page override, when the key is present
// (read only; never written). The text is returned as it stands; see parseCodePage.
std::optional<std::string> legacyCodePageSetting(const ProfileFile& file);

// A code page number (437, 850, 852, 866, 1250, 1251, 1252) from its text, blanks around it
// allowed; nullopt for anything else.
std::optional<int> parseCodePage(std::string_view text);

// The legacy code page override of the settings file, for RunCore::setLegacyCodePage: nullopt
// when PaginaCodigoDBF is absent or empty. Throws DataError "Importacao.ini: PaginaCodigoDBF=x
// is not a code page the legacy tables can be read in (437, 850, 852, 866, 1250, 1251 or 1252)"
// for any other value, so a mistyped override stops the run instead of being ignored.
std::optional<int> legacyCodePageOverride(const ProfileFile& file);

// The file-name box's second reading, the file name used to connect: the text itself when it
// names an existing file, else the text split like a command line (blanks separate items, a
// double-quoted stretch may hold blanks, the quotes are removed) and its first item.
std::string dataLinkFileName(std::string_view boxText);

// The store connection's built-in connection string: "FILE NAME=" and the path of Importacao.udl
// in the folder of the settings file `settingsPath`.
std::string builtInConnectionString(const std::filesystem::path& settingsPath);

}  // namespace importacao
