#include "app/run/import_objects.h"

#include <utility>

#include "data/dbf/legacy_database.h"
#include "data/dbf/legacy_table.h"
#include "data/store/declarations.h"
#include "data/store/store_connection.h"
#include "import/products/products_section.h"
#include "import/partners/partners_section.h"

namespace importacao {
namespace {

class LegacyDatabaseAdapter final : public LegacyDbControl {
 public:
  explicit LegacyDatabaseAdapter(LegacyDatabase& database) : database_(database) {}
  void disconnect() override { database_.disconnect(); }
  void setPath(std::string_view folder) override { database_.setPath(folder); }
  void setCodePageOverride(std::optional<int> codePage) override {
    database_.setCodePageOverride(codePage);
  }
  void connect() override { database_.connect(); }

 private:
  LegacyDatabase& database_;
};

class StoreConnectionAdapter final : public StoreConnectionControl {
 public:
  explicit StoreConnectionAdapter(StoreConnection& connection) : connection_(connection) {}
  std::string connectionString() const override { return connection_.connectionString(); }
  void setConnectionString(std::string text) override {
    connection_.setConnectionString(std::move(text));
  }
  void setBeforeConnect(std::function<void()> handler) override {
    connection_.setBeforeConnect(std::move(handler));
  }
  void disconnect() override { connection_.disconnect(); }
  void connect() override { connection_.connect(); }

 private:
  StoreConnection& connection_;
};

}  // namespace

struct ImportObjects::Impl {
  explicit Impl(std::string connectionString) {
    store.Tendaro.setConnectionString(std::move(connectionString));
  }

  LegacyObjects legacy;
  StoreObjects store;
  LegacyDatabaseAdapter conDb{legacy.ConDb};
  StoreConnectionAdapter tendaro{store.Tendaro};
  FrameTableOf<LegacyTable> tProduto{legacy.tProduto};
  FrameTableOf<LegacyTable> tClientes{legacy.tClientes};
  FrameTableOf<LegacyTable> tFornecedor{legacy.tFornecedor};
  ProductsSection products;
  CustomersSection customers;
  SuppliersSection suppliers;
};

ImportObjects::ImportObjects(std::string builtInConnectionString)
    : impl_(std::make_unique<Impl>(std::move(builtInConnectionString))) {}

ImportObjects::~ImportObjects() = default;

RunParts ImportObjects::runParts(SettingsWriter& settings, RunObserver* observer) {
  Impl& i = *impl_;
  return RunParts{settings,
                  i.conDb,
                  i.tendaro,
                  {SectionSlot{SectionId::Products, &i.tProduto, &i.products},
                   SectionSlot{SectionId::Customers, &i.tClientes, &i.customers},
                   SectionSlot{SectionId::Suppliers, &i.tFornecedor, &i.suppliers}},
                  &i.legacy.tProduto,
                  &i.legacy.tClientes,
                  &i.legacy.tFornecedor,
                  &i.store,
                  nullptr,
                  observer};
}

void ImportObjects::beginRehearsal() { impl_->store.Tendaro.beginTransaction(); }

std::string ImportObjects::endRehearsal() noexcept {
  try {
    impl_->store.Tendaro.rollback();
    return {};
  } catch (const std::exception& error) {
    return error.what();
  }
}

LegacyObjects& ImportObjects::legacy() noexcept { return impl_->legacy; }
StoreObjects& ImportObjects::store() noexcept { return impl_->store; }

}  // namespace importacao
