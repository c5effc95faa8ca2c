#include <windows.h>

#include "platform/file.h"
#include "platform/win32_text.h"

namespace importacao {
namespace {

std::error_code lastError() { return {static_cast<int>(GetLastError()), std::system_category()}; }

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Every other program may go on reading, writing, renaming or deleting the file.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

OpenFile::~OpenFile() {
  if (isOpen()) CloseHandle(handleOf(handle_));
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    if (isOpen()) CloseHandle(handleOf(handle_));
    handle_ = other.handle_;
    other.handle_ = kNone;
  }
  return *this;
}

OpenFile OpenFile::openForReading(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = std::make_error_code(std::errc::is_a_directory);
    return {};
  }
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  return OpenFile(reinterpret_cast<std::intptr_t>(handle));
}

OpenFile OpenFile::createForAppending(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = lastError();
    return {};
  }
  return OpenFile(reinterpret_cast<std::intptr_t>(handle));
}

std::uint64_t OpenFile::size(std::error_code& error) const {
  error.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handleOf(handle_), &size)) {
    error = lastError();
    return 0;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t OpenFile::readAt(std::uint64_t offset, std::span<std::byte> out,
                             std::error_code& error) const {
  error.clear();
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(out.size(), 1u << 30));
  DWORD read = 0;
  if (!ReadFile(handleOf(handle_), out.data(), wanted, &read, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    error = lastError();
    return 0;
  }
  return read;
}

void OpenFile::append(std::string_view bytes, std::error_code& error) {
  error.clear();
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handleOf(handle_), zero, nullptr, FILE_END)) {
    error = lastError();
    return;
  }
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), bytes.data(), chunk, &written, nullptr)) {
      error = lastError();
      return;
    }
    bytes.remove_prefix(written);
  }
}

void OpenFile::truncate(std::error_code& error) {
  error.clear();
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handleOf(handle_), zero, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(handleOf(handle_)))
    error = lastError();
}

void OpenFile::adviseSequential() const noexcept {}

std::string errorText(const std::error_code& error) {
  if (error.category() != std::system_category()) return error.message();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  if (message.empty()) return "error " + std::to_string(error.value());
  return utf8FromWide(message);
}

}  // namespace importacao
