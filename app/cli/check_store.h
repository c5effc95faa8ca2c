// importacao-cli --check-store: the store check, printed for an operator.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace importacao {

// Reads the settings file `settings` (its data-link file replaced by `dataLink` when given),
// connects to the store as a run would and checks it, writing nothing (checkStore). Prints one
// line per check on `out`, "OK    " or "FAIL  " and what was found, then the count:
//   OK    lj_produtos: primary key (IdReferencia)
//   FAIL  Municipio: holds no rows, so ...
//   19 checks: 18 passed, 1 failed
// Returns 0 when every check passed, 1 when any failed or the settings cannot be read (its
// message on `err`).
int runStoreCheck(const std::filesystem::path& settings, const std::optional<std::string>& dataLink,
                  std::ostream& out, std::ostream& err);

}  // namespace importacao
