// Throughput of the code-page conversions and the name operations, with glibc's iconv doing
// the same DOS-to-1252 conversion beside ours for scale. Build with -DIMP_BUILD_BENCH=ON in
// Release and run build/normalise/normalise_bench.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "normalise/codepage.h"
#include "normalise/normalise.h"

namespace importacao {
namespace {

constexpr std::size_t kTextBytes = 1 << 20;

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string text(size, '\0');
  for (char& c : text) c = static_cast<char>(byte(random));
  return text;
}

// DOS text as a legacy table holds it: mostly ASCII, one byte in ten an accented letter
// (850's 0x80-0xA5, all of which 1252 holds).
std::string dosText(std::size_t size) {
  std::mt19937 random(5);
  std::uniform_int_distribution<int> ascii(32, 126);
  std::uniform_int_distribution<int> accented(0x80, 0xA5);
  std::string text(size, '\0');
  for (char& c : text) c = static_cast<char>(random() % 10 ? ascii(random) : accented(random));
  return text;
}

// Names as a customer table holds them: capitals, blanks, connectives, some accents.
std::vector<std::string> legacyNames(std::size_t count) {
  const char* words[] = {"JOAO",
                         "MARIA",
                         "DA",
                         "DOS",
                         "E",
                         "SILVA",
                         "CONCEI\xC7\xC3O",
                         "JOS\xC9",
                         "COM\xC9RCIO",
                         "LTDA.",
                         "SANTOS",
                         "DE",
                         "ALIMENTOS",
                         "PE\xC7"
                         "AS"};
  std::mt19937 random(42);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(words) - 1);
  std::vector<std::string> names(count);
  for (auto& name : names) {
    for (int w = 0; w < 5; ++w) name += std::string(w ? " " : "") + words[pick(random)];
    name.resize(40, ' ');  // a character field is padded with blanks
  }
  return names;
}

void BM_ToCp1252From850(benchmark::State& state) {
  const std::string text = dosText(kTextBytes);
  for (auto _ : state) benchmark::DoNotOptimize(toCp1252(text, 850));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ToCp1252From850);

void BM_IconvFrom850To1252(benchmark::State& state) {
  const std::string text = dosText(kTextBytes);
  iconv_t cd = iconv_open("CP1252", "CP850");
  std::string out(text.size() * 4, '\0');
  for (auto _ : state) {
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
        *o++ = '?';  // what iconv cannot convert, as we do
        --outLeft;
        ++in;
        --inLeft;
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_IconvFrom850To1252);

void BM_Cp1252ToUtf8(benchmark::State& state) {
  const std::string text = randomBytes(kTextBytes, 2);
  for (auto _ : state) benchmark::DoNotOptimize(cp1252ToUtf8(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Cp1252ToUtf8);

void BM_Utf8ToCp1252(benchmark::State& state) {
  const std::string utf8 = cp1252ToUtf8(randomBytes(kTextBytes, 3));
  for (auto _ : state) benchmark::DoNotOptimize(utf8ToCp1252(utf8));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(BM_Utf8ToCp1252);

void BM_Utf16RoundTrip(benchmark::State& state) {
  const std::string text = randomBytes(kTextBytes, 4);
  for (auto _ : state) benchmark::DoNotOptimize(utf16ToCp1252(cp1252ToUtf16(text)));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf16RoundTrip);

void BM_NameColumn(benchmark::State& state) {  // ProperCaseName then RemoveAccents, per name
  const auto names = legacyNames(10000);
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(RemoveAccents(ProperCaseName(name)));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
}
BENCHMARK(BM_NameColumn);

void BM_MakeEan13(benchmark::State& state) {
  std::vector<std::string> keys;
  for (int i = 0; i < 10000; ++i)
    keys.push_back(std::to_string(i * 7919 % 100000000) + "-" + std::to_string(i % 10));
  for (auto _ : state) {
    for (const auto& key : keys) benchmark::DoNotOptimize(MakeEan13(StripCodePunctuation(key), 1));
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * keys.size()));
}
BENCHMARK(BM_MakeEan13);

}  // namespace
}  // namespace importacao

BENCHMARK_MAIN();
