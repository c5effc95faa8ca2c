#include <windows.h>

#include <cstdio>
#include <iostream>
#include <streambuf>

#include "platform/console.h"
#include "platform/win32_text.h"

namespace importacao {
namespace {

void (*gHandler)() = nullptr;

BOOL WINAPI onControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default
  if (gHandler != nullptr) gHandler();
  return TRUE;
}

HANDLE handleOf(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// A stream buffer over a console handle: UTF-8 in, UTF-16 out through WriteConsoleW. A character
// cut between two writes waits in the buffer for its remaining bytes.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE handle) : handle_(handle) {}

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) pending_ += static_cast<char>(c);
    if (pending_.size() >= 4096) flushComplete();
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.size() >= 4096) flushComplete();
    return n;
  }
  int sync() override {
    flushComplete();
    return 0;
  }

 private:
  // Writes the complete UTF-8 characters of the buffer and keeps an incomplete last one.
  void flushComplete() {
    std::size_t end = pending_.size();
    std::size_t back = 0;
    while (back < 3 && back < end &&
           (static_cast<unsigned char>(pending_[end - 1 - back]) & 0xC0) == 0x80)
      ++back;
    if (back < end) {
      const auto lead = static_cast<unsigned char>(pending_[end - 1 - back]);
      const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (need > back + 1) end -= back + 1;
    }
    const std::wstring wide = wideFromUtf8(std::string_view(pending_).substr(0, end));
    DWORD written = 0;
    if (!wide.empty())
      WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    pending_.erase(0, end);
  }

  HANDLE handle_;
  std::string pending_;
};

bool gTerminal[2] = {false, false};

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

void prepareConsole() {
  static ConsoleBuffer* buffers[2] = {nullptr, nullptr};
  for (const StandardStream stream : {StandardStream::Output, StandardStream::Error}) {
    const HANDLE handle = handleOf(stream);
    if (!isConsole(handle)) continue;
    const int i = stream == StandardStream::Output ? 0 : 1;
    DWORD mode = 0;
    GetConsoleMode(handle, &mode);
    gTerminal[i] = SetConsoleMode(handle, mode | ENABLE_PROCESSED_OUTPUT |
                                              ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    buffers[i] = new ConsoleBuffer(handle);  // lives as long as the program
    (i == 0 ? std::cout : std::cerr).rdbuf(buffers[i]);
  }
}

bool isTerminal(StandardStream stream) {
  return gTerminal[stream == StandardStream::Output ? 0 : 1];
}

void installInterruptHandler(void (*handler)()) {
  gHandler = handler;
  SetConsoleCtrlHandler(onControl, TRUE);
}

void ignoreClosedPipes() {}

void writeErrorNow(std::string_view text) noexcept {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

void exitNow(int status) noexcept { ExitProcess(static_cast<UINT>(status)); }

}  // namespace importacao
