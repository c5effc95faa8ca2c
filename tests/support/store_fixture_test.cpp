#include "tests/support/store_fixture.h"

#include <gmock/gmock.h>

namespace importacao::testing {
namespace {

using ::testing::ElementsAre;

class StoreSchema : public StoreTest {};

TEST_P(StoreSchema, SeedHoldsEveryStateAndMunicipality) {
  auto& s = store();
  EXPECT_EQ(s.scalar("select count(*) from Estado"), "27");
  EXPECT_EQ(s.scalar("select count(*) from Municipio"), "5571");
  EXPECT_EQ(s.scalar("select count(*) from Municipio where length(codmun) <> 5"), "0");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreSchema, kAllStores, storeTestName);

}  // namespace
}  // namespace importacao::testing
