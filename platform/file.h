// An open file of the programs' own: a legacy table read at any offset, never written and never
// locked against the legacy system (which may keep it open), or the runner's log, written at its
// end. POSIX: a file descriptor (pread, write); Windows: a file handle opened by its UTF-16 name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace importacao {

class OpenFile {
 public:
  OpenFile() = default;
  ~OpenFile();
  OpenFile(OpenFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  // Opens an existing file for reading, sharing it with every other program. A folder is refused
  // with std::errc::is_a_directory. Sets `error` and returns a closed file on failure.
  static OpenFile openForReading(const std::filesystem::path& path, std::error_code& error);
  // Creates the file, or empties it, for writing at its end.
  static OpenFile createForAppending(const std::filesystem::path& path, std::error_code& error);

  bool isOpen() const noexcept { return handle_ != kNone; }
  // The file's size in bytes.
  std::uint64_t size(std::error_code& error) const;
  // Reads up to out.size() bytes at `offset`; returns how many (0 at the end of the file).
  std::size_t readAt(std::uint64_t offset, std::span<std::byte> out, std::error_code& error) const;
  // Writes all of `bytes` at the end of the file, or sets `error`.
  void append(std::string_view bytes, std::error_code& error);
  // Empties the file.
  void truncate(std::error_code& error);
  // Tells the system the file will be read from start to end (POSIX: read ahead; Windows reads
  // ahead by itself).
  void adviseSequential() const noexcept;

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit OpenFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kNone;
};

// The system's text for an error of OpenFile (or any error code), in UTF-8.
std::string errorText(const std::error_code& error);

}  // namespace importacao
