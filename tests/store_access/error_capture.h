// What an action fails with, for tests of the store objects: the message of its DataError, or
// the StoreError itself with its SQLSTATE and native code.
#pragma once

#include <functional>
#include <string>

#include "data/errors.h"

namespace importacao::test_support {

inline std::string messageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DataError& e) {
    return e.what();
  }
  return "(no error)";
}

inline StoreError storeErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const StoreError& e) {
    return e;
  }
  return StoreError("(no store error)", "", 0);
}

}  // namespace importacao::test_support
