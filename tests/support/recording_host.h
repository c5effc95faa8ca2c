// The log box and the gauge of a run, recorded for the tests that drive the run core: the log's
// lines, and every log line and gauge change in the order the run showed them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run/run_core.h"

namespace importacao::test_support {

class RecordingHost final : public RunHost {
 public:
  void clearLog() override { lines.clear(); }
  void appendLogLine(std::string_view line) override {
    lines.emplace_back(line);
    events.push_back("log " + std::string(line));
    if (onLine) onLine(line);
  }
  void setGaugeMaximum(int maximum) override { events.push_back("max " + std::to_string(maximum)); }
  void setGaugePosition(int position) override {
    events.push_back("pos " + std::to_string(position));
  }
  void processPendingEvents() override {}

  std::vector<std::string> lines;
  std::vector<std::string> events;
  std::function<void(std::string_view)> onLine;  // called at each log line, e.g. to ask for a stop
};

}  // namespace importacao::test_support
