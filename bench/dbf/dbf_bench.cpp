// Reading a legacy product table: our table source beside the floor (read the file and sum every
// byte), pgdbf (to /dev/null) and dbfread, over the same file, in one run.
//   dbf_bench TABLE.DBF [--benchmark_* options]
// Prints Google Benchmark's table, then records/s, MB/s and the ratios (by wall-clock time and by
// processor time), and the memory of a walk (peak RSS, anonymous and file-backed resident memory).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "data/dbf/legacy_database.h"
#include "data/dbf/legacy_table.h"

namespace {

using namespace importacao;
namespace fs = std::filesystem;

fs::path gTable;
double gMegabytes = 0;
long gRecords = 0;
// Wall-clock and processor seconds (user and system, of this process or of the children it
// waited for) of the best run of each reader. On a shared machine the processor time is the
// steadier figure; both are printed.
struct Timing {
  double wall = 0;
  double cpu = 0;
};
std::map<std::string, Timing> gBest;

double cpuSeconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class Stopwatch {
 public:
  explicit Stopwatch(int who = RUSAGE_SELF)
      : who_(who), wall_(std::chrono::steady_clock::now()), cpu_(cpuSeconds(who)) {}
  Timing elapsed() const {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(),
            cpuSeconds(who_) - cpu_};
  }

 private:
  int who_;
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

void note(const std::string& name, Timing t) {
  auto it = gBest.find(name);
  if (it == gBest.end()) {
    gBest[name] = t;
    return;
  }
  it->second.wall = std::min(it->second.wall, t.wall);
  it->second.cpu = std::min(it->second.cpu, t.cpu);
}

// The floor: read the file in 1 MiB blocks and sum every byte.
void Floor(benchmark::State& state) {
  std::vector<unsigned char> buffer(1 << 20);
  for (auto _ : state) {
    const Stopwatch watch;
    const int fd = ::open(gTable.c_str(), O_RDONLY);
    std::uint64_t sum = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
      for (ssize_t i = 0; i < n; ++i) sum += buffer[static_cast<std::size_t>(i)];
    ::close(fd);
    benchmark::DoNotOptimize(sum);
    note("floor", watch.elapsed());
  }
}

// Our walk as the sections read: open tProduto through ConDb, every text field as text (a copy,
// as asText gives it), every number as float, every date as date-time.
template <bool kCopies>
void Ours(benchmark::State& state) {
  for (auto _ : state) {
    const Stopwatch watch;
    LegacyDatabase db;
    db.setPath(gTable.parent_path().string());
    LegacyTable t("tProduto", gTable.filename().string(), db);
    t.close();
    t.open();
    t.first();
    const long count = static_cast<long>(t.recordCount());
    std::vector<const Field*> texts, numbers, dates;
    for (std::size_t i = 0; i < t.fieldCount(); ++i) {
      const Field& f = t.field(i);
      (f.kind() == FieldKind::Text   ? texts
       : f.kind() == FieldKind::Date ? dates
                                     : numbers)
          .push_back(&f);
    }
    std::size_t chars = 0;
    double total = 0;
    long seen = 0;
    while (!t.eof()) {
      for (const Field* f : texts) {
        if constexpr (kCopies) {
          chars += f->asText().size();
        } else {
          chars += f->asTextRef().size();
        }
      }
      for (const Field* f : numbers) total += f->asFloat();
      for (const Field* f : dates) total += f->asDateTime().days;
      ++seen;
      t.next();
    }
    benchmark::DoNotOptimize(chars);
    benchmark::DoNotOptimize(total);
    note(kCopies ? "ours (asText copies)" : "ours (asTextRef)", watch.elapsed());
    if (seen != count) state.SkipWithError("walk and record count disagree");
    gRecords = seen;
  }
}

Timing runCommand(const std::string& command) {
  const Stopwatch watch(RUSAGE_CHILDREN);
  const int status = std::system(command.c_str());
  const Timing t = watch.elapsed();
  if (status != 0) std::cerr << "command failed (" << status << "): " << command << '\n';
  return t;
}

void Pgdbf(benchmark::State& state) {
  for (auto _ : state) note("pgdbf", runCommand("pgdbf '" + gTable.string() + "' > /dev/null"));
}

void Dbfread(benchmark::State& state) {
  const std::string script =
      "import sys\nfrom dbfread import DBF\nn = 0\n"
      "for r in DBF(sys.argv[1], encoding='cp850'):\n    n += 1\n";
  const std::string path = (fs::temp_directory_path() / "dbf_bench_dbfread.py").string();
  std::ofstream(path) << script;
  for (auto _ : state)
    note("dbfread", runCommand("/usr/bin/python3 " + path + " '" + gTable.string() + "'"));
}

// Memory of one walk, in a child process of its own: peak RSS, and at the end of the walk how much
// of the resident memory is anonymous and how much file-backed (the program's own pages).
void reportMemory() {
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) {
    LegacyDatabase db;
    db.setPath(gTable.parent_path().string());
    LegacyTable t("tProduto", gTable.filename().string(), db);
    t.open();
    double total = 0;
    for (t.first(); !t.eof(); t.next())
      for (std::size_t i = 0; i < t.fieldCount(); ++i)
        total += t.field(i).kind() == FieldKind::Text
                     ? static_cast<double>(t.field(i).asText().size())
                     : t.field(i).asFloat();
    benchmark::DoNotOptimize(total);
    std::ifstream status("/proc/self/status");
    std::string line;
    std::cout
        << "memory of a walk (a child process, at the end of the walk; the file is read through a\n"
           "window, not mapped: RssFile is the program itself):\n";
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM", 0) == 0 || line.rfind("VmRSS", 0) == 0 ||
          line.rfind("RssAnon", 0) == 0 || line.rfind("RssFile", 0) == 0)
        std::cout << "  " << line << '\n';
    }
    std::cout.flush();
    std::_Exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::cerr << "usage: dbf_bench TABLE.DBF [--benchmark_* options]\n";
    return 2;
  }
  gTable = fs::absolute(argv[1]);
  gMegabytes = static_cast<double>(fs::file_size(gTable)) / 1e6;
  --argc;
  ++argv;
  argv[0] = const_cast<char*>("dbf_bench");

  benchmark::RegisterBenchmark("floor: read and sum every byte", Floor)
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ours: tProduto, asText and asFloat", Ours<true>)
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ours: tProduto, asTextRef and asFloat", Ours<false>)
      ->Iterations(3)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("pgdbf to /dev/null", Pgdbf)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("dbfread", Dbfread)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::printf("\n%s: %.1f MB, %ld presented records\n", gTable.c_str(), gMegabytes, gRecords);
  std::printf("%-22s %9s %12s %9s   %9s %12s %9s\n", "reader (best run)", "wall s", "records/s",
              "MB/s", "cpu s", "records/s", "MB/s");
  const double records = static_cast<double>(gRecords);
  for (const auto& [name, t] : gBest) {
    std::printf("%-22s %9.3f %12.0f %9.1f   %9.3f %12.0f %9.1f\n", name.c_str(), t.wall,
                records / t.wall, gMegabytes / t.wall, t.cpu, records / t.cpu, gMegabytes / t.cpu);
  }
  std::printf("\n%-22s %18s %18s %18s\n", "ratios (wall | cpu)", "x faster: pgdbf",
              "x faster: dbfread", "x the floor");
  auto cell = [](const char* ours, const char* other, bool faster) {
    if (!gBest.count(ours) || !gBest.count(other)) return std::string("-");
    const Timing& a = gBest[ours];
    const Timing& b = gBest[other];
    char buf[64];
    if (faster)
      std::snprintf(buf, sizeof buf, "%7.2f | %7.2f", b.wall / a.wall, b.cpu / a.cpu);
    else
      std::snprintf(buf, sizeof buf, "%7.2f | %7.2f", a.wall / b.wall, a.cpu / b.cpu);
    return std::string(buf);
  };
  for (const char* ours : {"ours (asText copies)", "ours (asTextRef)"}) {
    std::printf("%-22s %18s %18s %18s\n", ours, cell(ours, "pgdbf", true).c_str(),
                cell(ours, "dbfread", true).c_str(), cell(ours, "floor", false).c_str());
  }
  std::printf("targets: >= 3 times pgdbf, >= 30 times dbfread, <= 5 times the floor\n\n");
  reportMemory();
  return 0;
}
