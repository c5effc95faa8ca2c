// The error family of the data-access layer. The per-record capture of every section catches
// DataError (the base class): anything else passes on and ends the run.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace importacao {

// Base class of every error that data access, conversions and the run's own operations raise.
// what() is the exact text a person reads in the log or the error box.
struct DataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One failure reported by the store's driver; the diagnostics are kept whole.
struct StoreError : DataError {
  StoreError(const std::string& text, std::string state, long native)
      : DataError(text), sqlState(std::move(state)), nativeCode(native) {}
  std::string sqlState;  // "23505"; compare this, not nativeCode
  long nativeCode = 0;
};

// A legacy table file that cannot be read (missing, damaged, not a table).
struct DbfError : DataError {
  using DataError::DataError;
};

}  // namespace importacao
