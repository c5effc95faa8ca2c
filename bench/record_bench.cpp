// What the record layer costs per legacy record: an engine filling 20 fields (12 texts, 8
// numbers) and a section reading them back (texts as text, numbers as float), plus the number
// text forms on their own. Run: build with -DIMP_BUILD_BENCH=ON (Release), then
// ./record_bench; items/s is records (or values) per second.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "data/record/field.h"
#include "data/record/number_text.h"

namespace importacao {
namespace {

constexpr int kTexts = 12;
constexpr int kNumbers = 8;

struct Rows {
  std::vector<std::string> texts;  // kTexts per record
  std::vector<double> numbers;     // kNumbers per record
  std::vector<std::string> numberTexts;
  int count = 0;
};

const Rows& sampleRows() {
  static const Rows rows = [] {
    Rows r;
    r.count = 4096;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> letter('A', 'Z');
    std::uniform_int_distribution<int> cents(0, 9'999'999);
    for (int i = 0; i < r.count * kTexts; ++i) {
      std::string text(static_cast<std::size_t>(length(random)), ' ');
      for (char& c : text) c = static_cast<char>(letter(random));
      r.texts.push_back(std::move(text));
    }
    for (int i = 0; i < r.count * kNumbers; ++i) {
      r.numbers.push_back(cents(random) / 100.0);
      r.numberTexts.push_back(floatToText(r.numbers.back(), '.'));
    }
    return r;
  }();
  return rows;
}

std::vector<std::unique_ptr<Field>> makeFields() {
  std::vector<std::unique_ptr<Field>> fields;
  for (int i = 0; i < kTexts + kNumbers; ++i) {
    std::string name(1, i < kTexts ? 'T' : 'N');
    name += std::to_string(i);
    fields.push_back(i < kTexts ? std::make_unique<Field>(name, FieldKind::Text, 40)
                                : std::make_unique<Field>(name, FieldKind::Float));
  }
  return fields;
}

// What a reader does to present record `record` of the sample: every field set from it.
void fetch(const Rows& rows, int record, const std::vector<std::unique_ptr<Field>>& fields) {
  const std::string* texts = &rows.texts[static_cast<std::size_t>(record * kTexts)];
  const double* numbers = &rows.numbers[static_cast<std::size_t>(record * kNumbers)];
  for (int i = 0; i < kTexts; ++i) fields[static_cast<std::size_t>(i)]->setFetchedText(texts[i]);
  for (int i = 0; i < kNumbers; ++i)
    fields[static_cast<std::size_t>(kTexts + i)]->setFetchedFloat(numbers[i]);
}

// What a section does with a record: the texts' lengths and the numbers' sum, texts read
// through `text` (asText copies, asTextRef does not).
template <typename TextOf>
void fetchAndRead(benchmark::State& state, TextOf text) {
  const Rows& rows = sampleRows();
  auto fields = makeFields();
  int record = 0;
  std::size_t sum = 0;
  for (auto _ : state) {
    fetch(rows, record, fields);
    for (int i = 0; i < kTexts; ++i) sum += text(*fields[static_cast<std::size_t>(i)]).size();
    double total = 0;
    for (int i = 0; i < kNumbers; ++i)
      total += fields[static_cast<std::size_t>(kTexts + i)]->asFloat();
    benchmark::DoNotOptimize(total);
    if (++record == rows.count) record = 0;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}

// The engine's side only: what a reader pays to present one record.
void BM_FetchRecord(benchmark::State& state) {
  const Rows& rows = sampleRows();
  auto fields = makeFields();
  int record = 0;
  for (auto _ : state) {
    fetch(rows, record, fields);
    benchmark::DoNotOptimize(fields.front().get());
    if (++record == rows.count) record = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FetchRecord);

// Fetch plus the sections' reads: asText on the texts, asFloat on the numbers.
void BM_FetchAndReadRecord(benchmark::State& state) {
  fetchAndRead(state, [](const Field& f) { return f.asText(); });
}
BENCHMARK(BM_FetchAndReadRecord);

// The same through asTextRef, which copies nothing for texts.
void BM_FetchAndReadRecordByRef(benchmark::State& state) {
  fetchAndRead(state, [](const Field& f) -> const std::string& { return f.asTextRef(); });
}
BENCHMARK(BM_FetchAndReadRecordByRef);

void BM_FloatToText(benchmark::State& state) {
  const Rows& rows = sampleRows();
  std::size_t i = 0;
  std::string out;
  for (auto _ : state) {
    out.clear();
    appendFloatText(out, rows.numbers[i], ',');
    benchmark::DoNotOptimize(out.data());
    if (++i == rows.numbers.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FloatToText);

void BM_ParseFloat(benchmark::State& state) {
  const Rows& rows = sampleRows();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(parseFloat(rows.numberTexts[i], '.'));
    if (++i == rows.numberTexts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseFloat);

void BM_ParseInteger(benchmark::State& state) {
  const std::string texts[] = {"49", "  123456 ", "-9223372036854775808", "0"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(parseInteger(texts[i]));
    i = (i + 1) % 4;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseInteger);

}  // namespace
}  // namespace importacao

BENCHMARK_MAIN();
