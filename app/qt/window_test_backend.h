// The stand-ins of app/run/fake_run_parts.h as the Qt window's backend, for its tests, the
// screenshots and the log benchmark.
#pragma once

#include "app/qt/unit1.h"
#include "app/run/fake_run_parts.h"

namespace importacao {

class FakeBackend final : public RunBackend, public FakeRunParts {
 public:
  RunParts parts(SettingsWriter& settings) override { return FakeRunParts::parts(settings); }
};

}  // namespace importacao
