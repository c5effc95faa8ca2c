// What both windows do around the run core besides drawing (the Qt window, and the Win32 window
// on Windows): start a run as "Importar" does, word the error box, and fill the file-name box
// from the browse dialog. Text is UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/run/run_core.h"

namespace importacao {

// "Importar" as a window runs it: a click while a run is going on (seen inside AddLogLine) is
// ignored, so no run ever starts inside another one. Returns the error box's text when an error
// ended the run, nothing when it ended well or was stopped.
std::optional<std::string> runFromWindow(RunCore& core, const RunControls& controls);

// The error box's text for an error's message: UTF-8 (a message that is not UTF-8 is code page
// 1252 text: store and legacy texts), with a full stop added when its last character sorts after
// the full stop ("No such file" gets one; "Done." and "Failed)" do not).
std::string errorBoxText(std::string_view message);

// The file-name box's text for the path the browse dialog chose: in double quotes when it holds a
// blank (the box's file name is then read as the first item of a command line).
std::string fileBoxText(std::string_view chosenPath);

// Where the browse dialog starts: the folder of the file the box names (enclosing quotes removed)
// when it is absolute and that folder exists, the folder itself when the box names one; "" (the
// dialog's own choice) otherwise.
std::string browseStartFolder(std::string_view boxText);

}  // namespace importacao
