// A stand-in for the store connection Tendaro, for the run core's and the windows' tests: each
// step is written to the test's journal, and connecting fails while `unreachable` is set (after
// the before-connect handler ran and the attempt was journalled). Header-only, for tests only.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/run/connections.h"
#include "data/errors.h"

namespace importacao::test_support {

class FakeTendaro final : public StoreConnectionControl {
 public:
  explicit FakeTendaro(std::vector<std::string>& journal,
                       std::string connectionString = "FILE NAME=/cfg/Importacao.udl")
      : journal_(journal), connectionString_(std::move(connectionString)) {}
  std::string connectionString() const override { return connectionString_; }
  void setConnectionString(std::string text) override { connectionString_ = std::move(text); }
  void setBeforeConnect(std::function<void()> handler) override {
    beforeConnect_ = std::move(handler);
  }
  void disconnect() override { journal_.push_back("Tendaro.disconnect"); }
  void connect() override {
    if (beforeConnect_) beforeConnect_();
    journal_.push_back("Tendaro.connect " + connectionString_);
    if (unreachable)
      throw StoreError("could not connect to server: Connection refused", "08001", 0);
  }
  bool unreachable = false;

 private:
  std::vector<std::string>& journal_;
  std::string connectionString_;
  std::function<void()> beforeConnect_;
};

}  // namespace importacao::test_support
