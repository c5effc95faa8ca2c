#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace importacao {
namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

OpenFile::~OpenFile() {
  if (isOpen()) ::close(fdOf(handle_));
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    if (isOpen()) ::close(fdOf(handle_));
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

OpenFile OpenFile::openForReading(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = lastError();
    return {};
  }
  OpenFile file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = lastError();
    return {};
  }
  if (S_ISDIR(st.st_mode)) {
    error = std::make_error_code(std::errc::is_a_directory);
    return {};
  }
  return file;
}

OpenFile OpenFile::createForAppending(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = lastError();
    return {};
  }
  return OpenFile(fd);
}

std::uint64_t OpenFile::size(std::error_code& error) const {
  error.clear();
  struct stat st {};
  if (::fstat(fdOf(handle_), &st) != 0) {
    error = lastError();
    return 0;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t OpenFile::readAt(std::uint64_t offset, std::span<std::byte> out,
                             std::error_code& error) const {
  error.clear();
  for (;;) {
    const ssize_t n = ::pread(fdOf(handle_), out.data(), out.size(), static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) {
      error = lastError();
      return 0;
    }
  }
}

void OpenFile::append(std::string_view bytes, std::error_code& error) {
  error.clear();
  while (!bytes.empty()) {
    const ssize_t written = ::write(fdOf(handle_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      error = lastError();
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void OpenFile::truncate(std::error_code& error) {
  error.clear();
  if (::ftruncate(fdOf(handle_), 0) != 0) error = lastError();
}

void OpenFile::adviseSequential() const noexcept {
  if (isOpen()) ::posix_fadvise(fdOf(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::string errorText(const std::error_code& error) { return error.message(); }

}  // namespace importacao
