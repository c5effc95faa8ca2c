// The main window as both windows build it (the Qt window, and the Win32 window on Windows): the
// caption, the placement and size, every control's name, caption and place, the tab order and the
// file dialog's filter. Positions are left, top, width, height in pixels of the parent's client
// area, at 96 dots per inch; a width or height of 0 means "as the caption needs" (labels).
#pragma once

#include <array>
#include <string_view>

namespace importacao::layout {

inline constexpr std::string_view kCaption = "Sistema de Importação";  // UTF-8
inline constexpr int kLeft = 109, kTop = 123;                          // on the screen
inline constexpr int kClientWidth = 556, kClientHeight = 392;
inline constexpr std::string_view kFontFamily = "MS Sans Serif";
inline constexpr int kFontPoints = 8;
// The file-name box's browse dialog: its one filter, shown text and pattern.
inline constexpr std::string_view kFileFilterName = "All files (*.*)";
inline constexpr std::string_view kFileFilterPattern = "*.*";

enum class Parent { Form, RunPage, GroupBox, SettingsPage };

struct Control {
  std::string_view name;
  std::string_view caption;  // UTF-8; "" for none
  Parent parent;
  int left, top, width, height;
};

inline constexpr Control BitBtn1{"BitBtn1", "Importar", Parent::Form, 367, 360, 75, 25};
inline constexpr Control BitBtn2{"BitBtn2", "Parar", Parent::Form, 453, 360, 75, 25};
inline constexpr Control PageControl1{"PageControl1", "", Parent::Form, 8, 8, 521, 345};
inline constexpr std::string_view TabSheet1 = "Processo";
inline constexpr std::string_view TabSheet2 = "Configuração";

// The run page.
inline constexpr Control CheckBox1{"CheckBox1", "Produtos", Parent::RunPage, 8, 0, 72, 17};
inline constexpr Control CheckBox2{"CheckBox2", "Clientes", Parent::RunPage, 88, 0, 72, 17};
inline constexpr Control CheckBox3{"CheckBox3", "Fornecedor", Parent::RunPage, 156, 0, 72, 17};
inline constexpr Control GroupBox1{"GroupBox1", "Processo", Parent::RunPage, 8, 16, 497, 49};
inline constexpr Control Gauge1{"Gauge1", "", Parent::GroupBox, 8, 16, 481, 25};
inline constexpr Control Memo1{"Memo1", "", Parent::RunPage, 8, 68, 497, 225};

// The settings page.
inline constexpr Control Label1{"Label1", "Caminho DBF", Parent::SettingsPage, 4, 16, 0, 0};
inline constexpr Control edtconexao{"edtconexao", "", Parent::SettingsPage, 4, 40, 477, 21};
inline constexpr Control Label2{"Label2", "Banco SQL", Parent::SettingsPage, 4, 68, 0, 0};
inline constexpr Control edtConexatSql{"edtConexatSql", "", Parent::SettingsPage, 4, 80, 477, 21};
inline constexpr Control Label3{"Label3", "Duplicata", Parent::SettingsPage, 8, 120, 0, 0};
inline constexpr Control Label4{"Label4", "Cheque", Parent::SettingsPage, 8, 148, 0, 0};
inline constexpr Control Label5{"Label5", "Avista", Parent::SettingsPage, 8, 176, 0, 0};
inline constexpr Control Label6{"Label6", "Cartão", Parent::SettingsPage, 8, 204, 0, 0};
inline constexpr Control Label7{"Label7", "Dep.Banc", Parent::SettingsPage, 8, 228, 0, 0};
inline constexpr Control Edit1{"Edit1", "", Parent::SettingsPage, 64, 120, 57, 21};
inline constexpr Control Edit2{"Edit2", "", Parent::SettingsPage, 64, 146, 57, 21};
inline constexpr Control Edit3{"Edit3", "", Parent::SettingsPage, 64, 173, 57, 21};
inline constexpr Control Edit4{"Edit4", "", Parent::SettingsPage, 64, 200, 57, 21};
inline constexpr Control Edit5{"Edit5", "", Parent::SettingsPage, 64, 224, 57, 21};
inline constexpr Control Label8{"Label8", "Vendedor", Parent::SettingsPage, 364, 120, 0, 0};
inline constexpr Control Edit6{"Edit6", "", Parent::SettingsPage, 420, 120, 57, 21};

// The tab order: the buttons, the page control, then the controls of the page on show.
inline constexpr std::array<const Control*, 15> kTabOrder = {
    &BitBtn1,   &BitBtn2, &PageControl1, &CheckBox1,     &CheckBox2,
    &CheckBox3, &Memo1,   &edtconexao,   &edtConexatSql, &Edit1,
    &Edit2,     &Edit3,   &Edit4,        &Edit5,         &Edit6};

}  // namespace importacao::layout
