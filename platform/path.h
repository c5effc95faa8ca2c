// Paths and the text the programs hold them in: UTF-8, on every system. A std::filesystem::path
// made from a narrow std::string would read it in the system's ANSI code page on Windows (and its
// string() could throw on a character that code page lacks), so paths are made and shown only
// through these two.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace importacao {

// The path named by UTF-8 text. On Linux the bytes are taken as they are (any bytes a file name
// may hold); on Windows the text becomes UTF-16. Text that is not valid UTF-8 is read as code
// page 1252 (a path typed on a Windows machine and stored by the earlier program).
std::filesystem::path pathFromUtf8(std::string_view text);

// The path as UTF-8 text (Linux: its bytes as they are).
std::string utf8Path(const std::filesystem::path& path);

}  // namespace importacao
