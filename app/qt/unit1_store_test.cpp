// The window on the real objects: legacy tables written to a folder, a store made by the store
// fixture (SQLite file or PostgreSQL schema), the data-link file chosen through the browse
// button, the settings in a private XDG_CONFIG_HOME; the runner beside it, for the saved log.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "app/qt/file_name_edit.h"
#include "app/qt/gauge_widget.h"
#include "app/qt/log_view.h"
#include "app/run/settings.h"
#include "app/qt/store_backend.h"
#include "app/qt/unit1.h"
#include "tests/support/cli_runner.h"
#include "tests/support/dbf_builder.h"
#include "tests/support/store_fixture.h"

namespace importacao {
namespace {

namespace fs = std::filesystem;
using test_support::DataLinkEncoding;
using test_support::DbfBuilder;
using test_support::StoreTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// One application for the whole test program, made before the first window and ended after
// the last test, while the toolkit is still whole (not by static destruction).
class ApplicationEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[20] = "unit1_store_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kApplication =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// A main window on the real objects, its settings file in `config`, error boxes recorded.
struct Window {
  explicit Window(const fs::path& config) {
    fs::create_directories(config);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
    form = std::make_unique<TForm1>(std::make_unique<StoreBackend>(defaultSettingsPath()),
                                    defaultSettingsPath());
    form->setErrorBox([this](QWidget*, const QString&, const QString& text) {
      errors.push_back(text.toStdString());
    });
    form->show();
  }
  std::vector<std::string> log() const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < form->Memo1->lineCount(); ++i)
      lines.push_back(form->Memo1->line(i));
    return lines;
  }
  std::unique_ptr<TForm1> form;
  std::vector<std::string> errors;
};

class WindowOnAStore : public StoreTest {
 public:
  test_support::TestStoreOptions options() const override { return test_support::kNoSeed; }
};

TEST_P(WindowOnAStore, ImportsTheProductsOfTheFolderThroughTheChosenDataLink) {
  const fs::path work = store().workDirectory();
  const fs::path folder = work / "legado";
  fs::create_directories(folder);
  DbfBuilder::products()
      .languageByte(0x03)
      .recordWith(
          {{"pd_cod", "1"}, {"pd_dsc", "PRODUTO 1"}, {"pd_und", "UN"}, {"pd_vlr_rf", "2.50"}})
      .recordWith({{"pd_cod", "2"}, {"pd_dsc", "PRODUTO 2"}, {"pd_und", "UN"}, {"pd_vlr_rf", "3"}})
      .recordWith({{"pd_cod", "12345678901"}, {"pd_dsc", "LONGO"}})
      .writeTo(folder / "cfa1010.DBF");
  fs::create_directories(work / "dados loja");
  const fs::path link =
      store().writeDataLink(DataLinkEncoding::Utf16, work / "dados loja" / "a.udl");

  Window w(work / "config");
  TForm1& f = *w.form;
  f.edtconexao->setText(QString::fromStdString(folder.string()));
  f.edtConexatSql->setChooser(
      [&](QWidget*, const QString&) { return QString::fromStdString(link.string()); });
  f.edtConexatSql->browse();
  f.CheckBox1->setChecked(true);
  QTest::mouseClick(f.BitBtn1, Qt::LeftButton);

  EXPECT_THAT(w.errors, ElementsAre());
  const std::vector<std::string> log = w.log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log.front(), "Lendo Tabela de Produtos");
  EXPECT_EQ(log[1], "Importando Produto - 1");
  EXPECT_EQ(log.back(), "Processo concluido");
  EXPECT_THAT(log[log.size() - 2], StartsWith("Erro gravando o Produto - 12345678901\r"));
  EXPECT_EQ(*store().scalar("select count(*) from lj_produtos"), "2");
  EXPECT_EQ(f.Gauge1->maxValue(), 3);
  EXPECT_EQ(f.Gauge1->text(), QString("100%"));
  EXPECT_THAT(readFile(defaultSettingsPath()), HasSubstr("ConexaoSQL=\"" + link.string() + "\"\n"));

  // Run again: the same products are found and updated, nothing is added.
  QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
  EXPECT_THAT(w.errors, ElementsAre());
  EXPECT_EQ(*store().scalar("select count(*) from lj_produtos"), "2");
}

// A products table whose deleted records come first: the gauge rises with the records done and
// reaches 100% with the last one (record numbers run ahead of the count the maximum holds). The
// log saved through "Salvar log..." holds the bytes the runner's --log writes for the same run.
TEST_P(WindowOnAStore, GaugeEndsWithTheLastRecordAndTheSavedLogIsTheRunnersLog) {
  const fs::path work = store().workDirectory();
  const fs::path folder = work / "legado";
  fs::create_directories(folder);
  DbfBuilder products = DbfBuilder::products().languageByte(0x03);
  for (const char* code : {"91", "92", "93", "94"}) products.recordWith({{"pd_cod", code}}, true);
  for (const char* code : {"1", "2", "3", "12345678901"})
    products.recordWith({{"pd_cod", code}, {"pd_dsc", "PRODUTO"}, {"pd_und", "UN"}});
  products.writeTo(folder / "cfa1010.DBF");

  Window w(work / "config");
  TForm1& f = *w.form;
  f.edtconexao->setText(QString::fromStdString(folder.string()));
  f.edtConexatSql->setText(QString::fromStdString(store().writeDataLink().string()));
  f.CheckBox1->setChecked(true);
  // The gauge as each product's first line is logged, that product not yet done.
  std::vector<int> atProductStart;
  bool running = true;
  std::function<void()> sample = [&] {
    if (!running) return;
    const std::size_t lines = f.Memo1->lineCount();
    if (lines > 0 && f.Memo1->line(lines - 1).starts_with("Importando Produto - "))
      atProductStart.push_back(f.Gauge1->percentDone());
    QMetaObject::invokeMethod(&f, sample, Qt::QueuedConnection);  // dropped with the window
  };
  QMetaObject::invokeMethod(&f, sample, Qt::QueuedConnection);
  QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
  running = false;
  EXPECT_THAT(w.errors, ElementsAre());
  EXPECT_THAT(atProductStart, ElementsAre(0, 25, 50, 75));
  EXPECT_EQ(f.Gauge1->maxValue(), 4);
  EXPECT_EQ(f.Gauge1->text(), QString("100%"));

  const fs::path saved = work / "janela.log", logged = work / "runner.log";
  f.Memo1->setSaveChooser([&](QWidget*) { return QString::fromStdString(saved.string()); });
  f.Memo1->saveLog();
  const auto run = test_support::runCli(
      {"--settings", defaultSettingsPath().string(), "--log", logged.string(), "--products"});
  EXPECT_EQ(run.status, 3) << run.err;  // the last product's key is too long for the store
  EXPECT_THAT(readFile(saved), HasSubstr("Erro gravando o Produto - 12345678901\r"));
  EXPECT_EQ(readFile(saved), readFile(logged));
}

INSTANTIATE_TEST_SUITE_P(Stores, WindowOnAStore, test_support::kAllStores,
                         test_support::storeTestName);

// Nothing listens on the store's port: the driver's message in the error box, the password
// nowhere in it, the log as it was, the settings already saved.
TEST(WindowWithoutAStore, AnUnreachableStoreShowsTheDriversErrorAndKeepsTheLog) {
  const fs::path work = fs::temp_directory_path() / ("unit1-store-" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path link = work / "Importacao.udl";
  std::ofstream(link, std::ios::binary) << test_support::dataLinkBytes(
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=loja;Uid=loja;"
      "Pwd=segredo-123",
      DataLinkEncoding::EightBit);

  Window w(work / "config");
  TForm1& f = *w.form;
  const std::vector<std::string> before = w.log();
  f.edtConexatSql->setText(QString::fromStdString(link.string()));
  f.Edit2->setText("22");
  QTest::mouseClick(f.BitBtn1, Qt::LeftButton);

  ASSERT_EQ(w.errors.size(), 1u);
  EXPECT_THAT(w.errors[0], Not(HasSubstr("segredo")));
  EXPECT_THAT(w.errors[0], Not(::testing::IsEmpty()));
  EXPECT_EQ(w.log(), before);
  EXPECT_THAT(readFile(defaultSettingsPath()), HasSubstr("Cheque=22\n"));
  EXPECT_TRUE(f.BitBtn1->isEnabled());
  fs::remove_all(work);
}

}  // namespace
}  // namespace importacao
