// The settings file on POSIX systems: read and written by this program itself, by the
// private-profile rules of settings.h, each write replacing the whole file atomically.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "app/run/profile_rules.h"
#include "app/run/settings.h"
#include "app/run/utf8.h"
#include "normalise/ascii.h"
#include "normalise/codepage.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using profile::throwWriteError;

// One line of the file: where its text starts, how long it is, and its terminator ("\n",
// "\r\n" or none for a last line without one).
struct Line {
  std::size_t start = 0;
  std::size_t length = 0;
  std::string_view terminator;
};

enum class LineKind { Section, Entry, Other };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // entry value, trimmed
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    if (newline == std::string_view::npos) {
      lines.push_back({start, text.size() - start, {}});
      break;
    }
    if (newline > start && text[newline - 1] == '\r')
      lines.push_back({start, newline - 1 - start, "\r\n"});
    else
      lines.push_back({start, newline - start, "\n"});
    start = newline + 1;
  }
  return lines;
}

ParsedLine parseLine(std::string_view text) {
  const std::string_view trimmed = trimBlanks(text);
  if (!trimmed.empty() && trimmed.front() == '[') {
    std::string_view name = trimmed.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    return {LineKind::Section, trimBlanks(name), {}};
  }
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return {};
  return {LineKind::Entry, trimBlanks(trimmed.substr(0, equals)),
          trimBlanks(trimmed.substr(equals + 1))};
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The text of line `line` of `content`, without a byte-order mark on the first line and without
// a carriage return at its end: that is a line end's remnant (a last line cut after its CR, or
// CR CR LF), and kept in the value it would vanish as soon as a write added a line after it.
std::string_view lineText(std::string_view content, const Line& line) {
  std::string_view text = content.substr(line.start, line.length);
  if (line.start == 0 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  if (text.ends_with('\r')) text.remove_suffix(1);
  return text;
}

// Where a section and a key sit in the file.
struct Location {
  std::optional<std::size_t> section;  // the section's header line
  std::optional<std::size_t> entry;    // the key's line
  std::size_t lastInSection = 0;       // the section's last line that is not blank
};

Location locate(std::string_view content, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
  // Names are compared as the file's own are read: without the blanks around them. A write of
  // " Vendas" would otherwise add a second [Vendas] that no read ever finds.
  section = trimBlanks(section);
  key = trimBlanks(key);
  Location where;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = lineText(content, lines[i]);
    const ParsedLine parsed = parseLine(text);
    if (parsed.kind == LineKind::Section) {
      if (inside) break;  // the first matching section is the one read and written
      if (equalsNoCaseAscii(parsed.name, section)) {
        inside = true;
        where.section = i;
        where.lastInSection = i;
      }
      continue;
    }
    if (!inside) continue;
    if (!trimBlanks(text).empty()) where.lastInSection = i;
    if (parsed.kind == LineKind::Entry && !where.entry && equalsNoCaseAscii(parsed.name, key))
      where.entry = i;
  }
  return where;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return content;
}

// A file or folder that nobody may write to is read-only for us too, root included: the
// operator's way of protecting the settings is honoured whoever runs the program.
bool isReadOnly(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Replaces `target` with `content`: a new file beside it, flushed to disk, renamed over the
// old one. The old file's permissions (and owner, when we may) carry over.
void replaceFile(const fs::path& target, std::string_view content, const fs::path& shownPath) {
  static std::atomic<unsigned> counter{0};
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // Appended piece by piece: GCC 12 at -O2 takes `"." + std::string` for an overlapping copy
  // and warns (-Wrestrict), a known false positive of that compiler.
  std::string name(".");
  name.append(target.filename().string()).append(".tmp-").append(std::to_string(::getpid()));
  name.append("-").append(std::to_string(counter.fetch_add(1)));
  const fs::path temporary = folder / name;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throwWriteError(shownPath);

  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    (void)::fchmod(fd, old.st_mode & 07777);
    if (::geteuid() == 0) (void)::fchown(fd, old.st_uid, old.st_gid);
  }
  bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    throwWriteError(shownPath);
  }
  // Makes the rename itself durable; a failure here loses nothing already written.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

fs::path defaultSettingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return fs::path(config) / kSettingsFileName;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return fs::path(home) / ".config" / kSettingsFileName;
  return fs::path(kSettingsFileName);
}

std::string ProfileFile::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const std::optional<std::string> content = readFile(path_);
  if (!content) return std::string(defaultValue);
  const std::vector<Line> lines = splitLines(*content);
  const Location where = locate(*content, lines, section, key);
  if (!where.entry) return std::string(defaultValue);

  std::string_view value = parseLine(lineText(*content, lines[*where.entry])).value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  std::string text = messageText(value);
  return std::string(firstCharacters(text, kProfileValueLimit));
}

void ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (profile::writeRefused(section, key, value)) throwWriteError(path_);

  // Writing through a symbolic link changes the file it points to, not the link.
  fs::path target = path_;
  std::error_code error;
  if (fs::is_symlink(path_, error)) {
    const fs::path resolved = fs::canonical(path_, error);
    if (!error) target = resolved;
  }

  std::string content;
  if (fs::exists(target, error)) {
    if (isReadOnly(target)) throwWriteError(path_);
    std::optional<std::string> existing = readFile(target);
    if (!existing) throwWriteError(path_);
    content = std::move(*existing);
  } else {
    const fs::path folder = target.parent_path();
    if (!folder.empty()) {
      fs::create_directories(folder, error);
      if (error) throwWriteError(path_);
    }
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (isReadOnly(folder)) throwWriteError(path_);

  const std::vector<Line> lines = splitLines(content);
  std::string_view eol = "\n";
  if (!lines.empty() && !lines.front().terminator.empty()) eol = lines.front().terminator;
  const Location where = locate(content, lines, section, key);

  std::string updated;
  updated.reserve(content.size() + section.size() + key.size() + value.size() + 8);
  const auto copyLines = [&](std::size_t from, std::size_t to) {  // [from, to)
    for (std::size_t i = from; i < to; ++i) {
      updated.append(content, lines[i].start, lines[i].length);
      updated += lines[i].terminator;
    }
  };
  const auto entryLine = [&](std::string_view name) {
    return std::string(name) + "=" + std::string(value);
  };

  if (where.entry) {
    const std::size_t i = *where.entry;
    copyLines(0, i);
    const std::string_view text = std::string_view(content).substr(lines[i].start, lines[i].length);
    if (i == 0 && text.starts_with(kUtf8Bom)) updated += kUtf8Bom;
    updated += entryLine(parseLine(lineText(content, lines[i])).name);  // keeps the key's spelling
    updated += lines[i].terminator;
    copyLines(i + 1, lines.size());
  } else if (where.section) {
    const std::size_t last = where.lastInSection;
    copyLines(0, last);
    updated.append(content, lines[last].start, lines[last].length);
    updated += lines[last].terminator.empty() ? eol : lines[last].terminator;
    updated += entryLine(trimBlanks(key));
    updated += eol;
    copyLines(last + 1, lines.size());
  } else {
    updated = content;
    if (!lines.empty()) {
      if (lines.back().terminator.empty()) updated += eol;
      if (!trimBlanks(lineText(content, lines.back())).empty()) updated += eol;
    }
    updated += '[';  // (piece by piece: see replaceFile)
    updated += trimBlanks(section);
    updated += ']';
    updated += eol;
    updated += entryLine(trimBlanks(key));
    updated += eol;
  }
  replaceFile(target, updated, path_);
}

}  // namespace importacao
