// The window program on Windows: no arguments; everything is driven from the main window.
#include <windows.h>
#include <commctrl.h>

#include "app/run/import_objects.h"
#include "app/run/settings.h"
#include "app/win32/unit1.h"
#include "data/record/number_text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // Before anything reads or writes a number: the user's decimal separator (pt-BR writes 12,50).
  importacao::initDecimalSeparatorFromEnvironment();
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  const std::filesystem::path settingsPath = importacao::defaultSettingsPath();
  importacao::ImportObjects objects(importacao::builtInConnectionString(settingsPath));
  importacao::TForm1 form(
      instance,
      [&objects](importacao::SettingsWriter& settings) { return objects.runParts(settings); },
      settingsPath);
  form.show(show);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!form.dialogMessage(message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
