// The headless runner's console: its arguments, its standard output and error, and the
// interrupt that acts as "Parar". POSIX: argv, the terminal, SIGINT. Windows: the UTF-16 command
// line, the console window (written through WriteConsoleW, so accented text shows right whatever
// the console's code page), Ctrl+C and Ctrl+Break.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace importacao {

// The program's arguments as UTF-8, the program's name first.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Prepares standard output and standard error for UTF-8 text: on a Windows console each is
// written as UTF-16 and understands the terminal escapes the progress bar uses; everywhere else
// the bytes go out as they are.
void prepareConsole();

enum class StandardStream { Output, Error };

// Whether the stream is a terminal (a console window) that shows the progress bar's escapes.
bool isTerminal(StandardStream stream);

// Calls `handler` on every interrupt: SIGINT; Ctrl+C or Ctrl+Break on Windows, which then ends
// nothing by itself. The handler may run in a signal handler or on another thread: it may only
// touch atomic or volatile sig_atomic_t state, writeErrorNow and exitNow.
void installInterruptHandler(void (*handler)());

// Makes a write to a pipe whose reader has gone fail instead of ending the program (POSIX: SIGPIPE
// ignored; on Windows such a write only fails).
void ignoreClosedPipes();

// Writes to standard error without buffering (safe inside the interrupt handler).
void writeErrorNow(std::string_view text) noexcept;

// Ends the program at once with `status`, running no destructors and flushing nothing.
[[noreturn]] void exitNow(int status) noexcept;

}  // namespace importacao
