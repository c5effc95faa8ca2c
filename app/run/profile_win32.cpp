// The settings file on Windows: read and written by the system's private-profile functions (the
// wide-character ones: the file's path and the values may hold any character), kept where a
// standard user may write, %APPDATA%\Importacao\Importacao.ini.
#include <windows.h>
#include <shlobj.h>

#include <system_error>
#include <vector>

#include "app/run/profile_rules.h"
#include "app/run/settings.h"
#include "app/run/utf8.h"
#include "platform/win32_text.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;

// The folder of the settings: the user's roaming application data, "%APPDATA%\Importacao" (the
// variable first, as XDG_CONFIG_HOME on Linux, then the known folder it normally names).
fs::path settingsFolder() {
  wchar_t variable[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", variable, MAX_PATH + 1);
  if (length > 0 && length <= MAX_PATH) return fs::path(variable) / L"Importacao";
  wchar_t* appData = nullptr;
  fs::path folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appData)))
    folder = fs::path(appData) / L"Importacao";
  CoTaskMemFree(appData);
  return folder;
}

// Where an earlier installation kept the file: the Windows folder, where the bare file name
// leads the private-profile functions.
fs::path earlierSettingsFile() {
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  return fs::path(windows) / kSettingsFileName;
}

// The private-profile functions look a name without a folder up in the Windows folder: the file
// is always named with its whole path.
std::wstring wholePath(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).wstring();
}

std::wstring wide(std::string_view text) { return wideFromUtf8(trimBlanks(text)); }

}  // namespace

fs::path defaultSettingsPath() {
  const fs::path folder = settingsFolder();
  if (folder.empty()) return fs::path(kSettingsFileName);
  const fs::path file = folder / kSettingsFileName;
  // The first start after an installation over an earlier one carries its settings over: a copy,
  // the earlier file left where it is.
  std::error_code error;
  const fs::path earlier = earlierSettingsFile();
  if (!fs::exists(file, error) && !earlier.empty() && fs::is_regular_file(earlier, error)) {
    fs::create_directories(folder, error);
    CopyFileW(earlier.c_str(), file.c_str(), TRUE);
  }
  return file;
}

std::string ProfileFile::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  // The buffer holds the limit and the terminating zero; what is longer arrives cut.
  std::vector<wchar_t> buffer(kProfileValueLimit + 1);
  const std::wstring fallback = wideFromUtf8(defaultValue);
  const DWORD length = GetPrivateProfileStringW(
      wide(section).c_str(), wide(key).c_str(), fallback.c_str(), buffer.data(),
      static_cast<DWORD>(buffer.size()), wholePath(path_).c_str());
  std::string text = utf8FromWide(std::wstring_view(buffer.data(), length));
  return std::string(firstCharacters(text, kProfileValueLimit));
}

void ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (profile::writeRefused(section, key, value)) profile::throwWriteError(path_);
  // A read-only file is the operator's way of protecting the settings: honoured for every user,
  // an administrator's run included.
  const DWORD attributes = GetFileAttributesW(wholePath(path_).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    profile::throwWriteError(path_);
  // Unlike Windows' own folder, the settings' folder may not exist yet.
  std::error_code error;
  if (path_.has_parent_path()) fs::create_directories(path_.parent_path(), error);
  if (!WritePrivateProfileStringW(wide(section).c_str(), wide(key).c_str(),
                                  wideFromUtf8(value).c_str(), wholePath(path_).c_str()))
    profile::throwWriteError(path_);
}

}  // namespace importacao
