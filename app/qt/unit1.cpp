#include "app/qt/unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QShortcut>
#include <QStyleOptionButton>
#include <QTabWidget>

#include <type_traits>
#include <utility>
#include <vector>

#include "app/qt/file_name_edit.h"
#include "app/qt/gauge_widget.h"
#include "app/qt/log_view.h"
#include "app/run/utf8.h"
#include "app/run/window_common.h"
#include "app/run/window_layout.h"

namespace importacao {

namespace {

// The window's font as laid out: MS Sans Serif 8 pt where it exists, else the nearest sans
// serif face the system has, at the same size.
QFont windowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

constexpr int kLabelGap = 3;  // pixels at least between a label and the edit box after it

// Check boxes with the proportions of the classic desktop: a 13-pixel box and a 3-pixel gap
// before the caption. The toolkit's own style leaves 20 pixels before the caption, and in the
// 72-pixel boxes of the run page "Fornecedor" would lose its last letters.
class CompactCheckStyle final : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_IndicatorWidth:
      case PM_IndicatorHeight: return 13;
      case PM_CheckBoxLabelSpacing: return 3;
      default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }
};

QString utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A control of the shared layout, with its caption when it has one.
template <typename W>
W* place(QWidget* parent, const layout::Control& spec) {
  W* w;
  if constexpr (std::is_constructible_v<W, QString, QWidget*>) {
    w = new W(utf8(spec.caption), parent);
  } else {
    w = new W(parent);
  }
  w->setObjectName(utf8(spec.name));
  w->setGeometry(spec.left, spec.top, spec.width, spec.height);
  return w;
}

QLabel* label(QWidget* parent, const layout::Control& spec) {
  auto* l = new QLabel(utf8(spec.caption), parent);
  l->setObjectName(utf8(spec.name));
  l->move(spec.left, spec.top);
  l->adjustSize();
  return l;
}

void showCritical(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::critical(parent, title, text);
}

void showWarning(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox::warning(parent, title, text);
}

QString qtText(const std::string& text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
std::string settingText(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

TForm1::TForm1(std::unique_ptr<RunBackend> backend, std::filesystem::path settingsPath,
               QWidget* parent)
    : QWidget(parent),
      backend_(std::move(backend)),
      settingsFile_(std::move(settingsPath)),
      settingsWriter_(settingsFile_),
      errorBox_(showCritical),
      noticeBox_(showWarning) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(utf8(layout::kCaption));
  // A fixed border: the client area has one size, and the window offers no maximize.
  setFixedSize(layout::kClientWidth, layout::kClientHeight);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  move(layout::kLeft, layout::kTop);
  buildControls();
  chooseFont();
  addKeys();
  // The core installs TendaroBeforeConnect on the store connection.
  core_ = std::make_unique<RunCore>(static_cast<RunHost&>(*this), backend_->parts(settingsWriter_));
  // The legacy code page override is read anew by each run, just after it saved the settings, so
  // an edit of the file takes effect without a restart; a value that is no code page ends the
  // run before any database is touched, with the operator's edits already saved.
  core_->setLegacyCodePageSource([this] { return legacyCodePageOverride(settingsFile_); });
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildControls() {
  BitBtn1 = place<QPushButton>(this, layout::BitBtn1);
  BitBtn2 = place<QPushButton>(this, layout::BitBtn2);
  PageControl1 = place<QTabWidget>(this, layout::PageControl1);

  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl1->addTab(TabSheet1, utf8(layout::TabSheet1));
  PageControl1->addTab(TabSheet2, utf8(layout::TabSheet2));

  // The run page.
  CheckBox1 = place<QCheckBox>(TabSheet1, layout::CheckBox1);
  CheckBox2 = place<QCheckBox>(TabSheet1, layout::CheckBox2);
  CheckBox3 = place<QCheckBox>(TabSheet1, layout::CheckBox3);
  auto* checkStyle = new CompactCheckStyle;
  checkStyle->setParent(this);
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3}) box->setStyle(checkStyle);
  GroupBox1 = place<QGroupBox>(TabSheet1, layout::GroupBox1);
  Gauge1 = place<GaugeWidget>(GroupBox1, layout::Gauge1);
  Memo1 = place<LogView>(TabSheet1, layout::Memo1);

  // The settings page.
  Label1 = label(TabSheet2, layout::Label1);
  edtconexao = place<QLineEdit>(TabSheet2, layout::edtconexao);
  Label2 = label(TabSheet2, layout::Label2);
  edtConexatSql = place<FileNameEdit>(TabSheet2, layout::edtConexatSql);
  Label3 = label(TabSheet2, layout::Label3);
  Label4 = label(TabSheet2, layout::Label4);
  Label5 = label(TabSheet2, layout::Label5);
  Label6 = label(TabSheet2, layout::Label6);
  Label7 = label(TabSheet2, layout::Label7);
  Edit1 = place<QLineEdit>(TabSheet2, layout::Edit1);
  Edit2 = place<QLineEdit>(TabSheet2, layout::Edit2);
  Edit3 = place<QLineEdit>(TabSheet2, layout::Edit3);
  Edit4 = place<QLineEdit>(TabSheet2, layout::Edit4);
  Edit5 = place<QLineEdit>(TabSheet2, layout::Edit5);
  Label8 = label(TabSheet2, layout::Label8);
  Edit6 = place<QLineEdit>(TabSheet2, layout::Edit6);

  // Tab order: the buttons, the page control, then the controls of the page on show (Qt
  // skips those of the hidden page).
  QWidget* previous = nullptr;
  for (const layout::Control* spec : layout::kTabOrder) {
    QWidget* widget = findChild<QWidget*>(utf8(spec->name));
    if (widget == edtConexatSql) widget = edtConexatSql->lineEdit();
    if (previous != nullptr) setTabOrder(previous, widget);
    previous = widget;
  }
  GroupBox1->setFocusPolicy(Qt::NoFocus);

  PageControl1->setCurrentWidget(TabSheet1);
  BitBtn1->setFocus();

  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
}

void TForm1::chooseFont() {
  // The layout leaves a few pixels around its captions in the faces it was made for. Where they
  // are missing (a system with DejaVu fonts only), a wider face would clip "Fornecedor" and
  // press labels against their boxes: a narrower face of the family is tried, then smaller sizes.
  QFont font = windowFont();
  setFont(font);
  QFont narrow = font;
  narrow.setStretch(QFont::SemiCondensed);
  std::vector<QFont> candidates{narrow};
  for (const double size : {7.5, 7.0, 6.5, 6.0}) {
    QFont smaller = font;
    smaller.setPointSizeF(size);
    candidates.push_back(smaller);
  }
  for (const QFont& candidate : candidates) {
    if (fitsTheLayout()) break;
    setFont(candidate);
  }
  for (QLabel* label : findChildren<QLabel*>()) label->adjustSize();
}

bool TForm1::fitsTheLayout() const {
  for (const QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3}) {
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect caption = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    if (caption.right() >= box->width() ||
        box->fontMetrics().horizontalAdvance(box->text()) > caption.width())
      return false;
  }
  const std::pair<const QLabel*, const QWidget*> beforeBoxes[] = {{Label3, Edit1}, {Label4, Edit2},
                                                                  {Label5, Edit3}, {Label6, Edit4},
                                                                  {Label7, Edit5}, {Label8, Edit6}};
  for (const auto& [label, box] : beforeBoxes)
    if (label->x() + label->fontMetrics().horizontalAdvance(label->text()) + kLabelGap > box->x())
      return false;
  return true;
}

void TForm1::addKeys() {
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
            [this] { (QApplication::focusWidget() == BitBtn2 ? BitBtn2 : BitBtn1)->click(); });
  }
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, [this] {
    if (core_->running()) BitBtn2->click();
  });
}

QString TForm1::withFullStop(const QString& message) {
  return utf8(errorBoxText(message.toUtf8().toStdString()));
}

QString TForm1::errorText(std::string_view what) { return utf8(messageText(what)); }

void TForm1::showError(const QString& message) {
  errorBox_(this, QCoreApplication::applicationName(), message);
}

void TForm1::FormCreate() {
  Memo1->clear();
  const SettingsValues values = loadSettings(settingsFile_);
  for (const SettingKey& setting : kSettingKeys)
    settingBox(setting.control)->setText(qtText(values.*setting.value));
}

QLineEdit* TForm1::settingBox(std::string_view name) const {
  if (name == layout::edtConexatSql.name) return edtConexatSql->lineEdit();
  return findChild<QLineEdit*>(utf8(name));
}

SettingsValues TForm1::settingsFromControls() const {
  SettingsValues values;
  for (const SettingKey& setting : kSettingKeys)
    values.*setting.value = settingText(settingBox(setting.control)->text());
  return values;
}

bool TForm1::sectionTicked(SectionId section) const {
  switch (section) {
    case SectionId::Products: return CheckBox1->isChecked();
    case SectionId::Customers: return CheckBox2->isChecked();
    case SectionId::Suppliers: return CheckBox3->isChecked();
  }
  return false;
}

void TForm1::BitBtn1Click() {
  // A second click while a run is going on arrives here from inside AddLogLine: it is ignored.
  if (const std::optional<std::string> error = runFromWindow(*core_, *this))
    showError(utf8(*error));
  if (std::exchange(closeAfterRun_, false)) close();
}

void TForm1::BitBtn2Click() { core_->BitBtn2Click(); }

void TForm1::clearLog() { Memo1->clear(); }

void TForm1::appendLogLine(std::string_view line) { Memo1->appendLine(line); }

void TForm1::setGaugeMaximum(int maximum) { Gauge1->setMaxValue(maximum); }

void TForm1::setGaugePosition(int position) { Gauge1->setProgress(position); }

void TForm1::processPendingEvents() { QCoreApplication::processEvents(); }

void TForm1::dataLinkMissing(const DataLinkNotice& notice) {
  noticeBox_(this, QCoreApplication::applicationName(), errorText(dataLinkNoticeText(notice)));
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The run cannot be left in the middle of a record, so a close during a run asks it to stop
  // and waits: the window shows the run to its end, and BitBtn1Click closes it then.
  if (core_->running()) {
    core_->BitBtn2Click();
    closeAfterRun_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace importacao
