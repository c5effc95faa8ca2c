#include "app/run/window_common.h"

#include <filesystem>
#include <system_error>

#include "app/run/utf8.h"
#include "normalise/ascii.h"
#include "platform/path.h"

namespace importacao {

std::optional<std::string> runFromWindow(RunCore& core, const RunControls& controls) {
  if (core.running()) return std::nullopt;
  try {
    core.BitBtn1Click(controls);
  } catch (const std::exception& error) {
    return errorBoxText(error.what());
  } catch (...) {
    return errorBoxText("Unexpected error");
  }
  return std::nullopt;
}

std::string errorBoxText(std::string_view message) {
  std::string text = messageText(message);
  // The last character's first byte: a character beyond ASCII sorts after the full stop too.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string fileBoxText(std::string_view chosenPath) {
  if (chosenPath.find(' ') != std::string_view::npos) return "\"" + std::string(chosenPath) + "\"";
  return std::string(chosenPath);
}

std::string browseStartFolder(std::string_view boxText) {
  boxText = trimBlanks(boxText);
  if (boxText.size() >= 2 && boxText.front() == '"') {
    const std::size_t close = boxText.find('"', 1);
    boxText =
        boxText.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  }
  if (boxText.empty()) return {};
  const std::filesystem::path path = pathFromUtf8(boxText);
  if (!path.is_absolute()) return {};
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::is_directory(path, error) ? path : path.parent_path();
  if (!std::filesystem::is_directory(folder, error)) return {};
  return utf8Path(folder);
}

}  // namespace importacao
