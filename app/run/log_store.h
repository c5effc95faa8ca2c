// The lines of the run log, kept compactly for a log that is never trimmed.
//
// A long run appends hundreds of thousands of lines, so each line costs its own bytes plus a
// fixed 16-byte record: the bytes are packed into large blocks that never move, and a line is a
// pointer into them. Lines are code-page-1252 bytes exactly as the run logged them; a carriage
// return inside a line (the error lines carry one between the record and the message) is kept
// as byte 13 and shows as the start of a continuation row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace importacao {

class LogStore {
 public:
  // One row as the view shows it: a whole line, or the part of a line after a carriage return.
  struct Row {
    std::string_view bytes;     // without the carriage return that starts a continuation
    std::size_t line = 0;       // index of the line the row belongs to
    bool continuation = false;  // true for every row after a line's first
  };

  LogStore() = default;
  LogStore(const LogStore&) = delete;
  LogStore& operator=(const LogStore&) = delete;
  LogStore(LogStore&&) noexcept = default;
  LogStore& operator=(LogStore&&) noexcept = default;

  // Appends one line (any bytes; an embedded CR starts a continuation row). Throws
  // std::length_error for a line of 4 GiB or more or past 2^32 rows, std::bad_alloc when memory
  // runs out; the store is unchanged then.
  void append(std::string_view line);
  // Drops every line and gives their memory back.
  void clear() noexcept;

  std::size_t lineCount() const noexcept { return lines_.size(); }
  std::size_t rowCount() const noexcept { return rows_; }
  // The line's bytes as appended. index < lineCount(); the view lives until clear().
  std::string_view line(std::size_t index) const noexcept;
  // Row index < rowCount(); the view lives until clear(). O(log lines).
  Row row(std::size_t index) const noexcept;
  // The first row of a line; index < lineCount().
  std::size_t firstRowOf(std::size_t line) const noexcept { return lines_[line].firstRow; }
  // The longest row in bytes (0 when empty): a cheap guide to the widest one.
  std::size_t longestRowBytes() const noexcept { return longestRow_; }
  std::size_t longestRowIndex() const noexcept { return longestRowIndex_; }

  // Bytes held by the store, block slack and line records included.
  std::size_t memoryUsed() const noexcept;

 private:
  struct Line {
    const char* data;
    std::uint32_t size;
    std::uint32_t firstRow;
  };
  char* reserveBytes(std::size_t size);

  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<std::size_t> blockSizes_;
  char* free_ = nullptr;      // next unused byte of the last block
  std::size_t freeLeft_ = 0;  // bytes left in the last block
  std::vector<Line> lines_;
  std::size_t rows_ = 0;
  std::size_t longestRow_ = 0;
  std::size_t longestRowIndex_ = 0;
};

// How a log file holds the log (the runner's --log, the window's "Salvar log..."): each line's
// code-page-1252 bytes as logged, then CR LF; the carriage return inside an error line stays a
// lone byte 13.
inline constexpr std::string_view kLogFileLineEnd = "\r\n";

// Writes every line of `log` to `path` as a log file holds them, creating or emptying the file.
// Throws std::runtime_error naming the file when it cannot be written.
void saveLogFile(const LogStore& log, const std::filesystem::path& path);

// Whether a line is a record's error line: every section's begins with "Erro gravando " and
// holds the carriage return that comes before the error's message.
bool isErrorLine(std::string_view line) noexcept;

// The first error line after line `after` (from the first line when `after` is nullopt), going
// round to the log's start when there is none further down; nullopt when the log has none.
std::optional<std::size_t> nextErrorLine(const LogStore& log,
                                         std::optional<std::size_t> after) noexcept;

}  // namespace importacao
