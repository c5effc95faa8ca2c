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

// The sections' views of the store objects. They keep pointers into `store`.
ProductStore productStoreOf(StoreObjects& store) {
  return ProductStore{keyedQuery(store.aProdutos),
                      keyedQuery(store.aBarras),
                      keyedQuery(store.aPreco),
                      keyedQuery(store.aEstoque),
                      {&store.sp_Estoque.parameters(), [&store] { store.sp_Estoque.execProc(); }},
                      {&store.EstInicial.parameters(), [&store] { store.EstInicial.execute(); }}};
}

PartnerStore partnerStoreOf(StoreObjects& store) {
  return PartnerStore{keyedQuery(store.aClientes), keyedQuery(store.aFornecedor),
                      keyedQuery(store.ADOQuery1)};
}

}  // namespace

struct ImportObjects::Impl {
  explicit Impl(std::string connectionString) {
    store.Tendaro.setConnectionString(std::move(connectionString));
  }

  LegacyObjects legacy;
  StoreObjects store;
  SystemClock clock;
  LegacyDatabaseAdapter conDb{legacy.ConDb};
  StoreConnectionAdapter tendaro{store.Tendaro};
  // The frame walks each legacy table through these; its section reads the same table.
  FrameTableOf<LegacyTable> tProduto{legacy.tProduto};
  FrameTableOf<LegacyTable> tClientes{legacy.tClientes};
  FrameTableOf<LegacyTable> tFornecedor{legacy.tFornecedor};
  ProductsSection products{legacy.tProduto, productStoreOf(store), clock};
  CustomersSection customers{legacy.tClientes, partnerStoreOf(store), clock};
  SuppliersSection suppliers{legacy.tFornecedor, partnerStoreOf(store), clock};
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
