// Printing a legacy product table: `importacao-cli --dump-dbf` beside pgdbf, both to /dev/null,
// over the same file in one run, alternately, best of RUNS each.
//   dump_bench CLI TABLE.DBF [RUNS] [SMALL.DBF]
// Prints the wall and processor (user + system) seconds of both, the ratios, and the peak
// resident size of each; with SMALL.DBF (the same kind of table, fewer records) also our peak on
// it, to show that the dump's memory does not grow with the table. Before timing, checks that
// the dump's record lines are byte for byte what the JSON library writes for the same records
// (tests/support/dbf_dump_reference.h).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "data/dbf/dbf_table.h"
#include "tests/support/dbf_dump_reference.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Run {
  double wall = 0;
  double cpu = 0;
  long peakKb = 0;
  int status = 0;
};

// Runs `argv` with its standard output to `output` (a file name), standard error discarded.
Run run(const std::vector<std::string>& argv, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  Run r;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    r.status = -1;
    return r;
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.peakKb = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Whether the CLI's dump of `table` is the header line it prints and then the reference's lines.
bool sameAsReference(const std::string& cli, const fs::path& table) {
  const fs::path out = fs::temp_directory_path() / "dump_bench_check.jsonl";
  const Run r = run({cli, "--dump-dbf", table.string()}, out.string());
  const std::string ours = slurp(out);
  fs::remove(out);
  if (r.status != 0) return false;
  std::ostringstream reference;
  importacao::test_support::referenceRecordLines(importacao::DbfTable::open(table), reference);
  const auto header = ours.find('\n');
  return header != std::string::npos &&
         ours.compare(header + 1, std::string::npos, reference.str()) == 0;
}

struct Best {
  double wall = std::numeric_limits<double>::infinity();
  double cpu = std::numeric_limits<double>::infinity();
  long peakKb = 0;
  void note(const Run& r) {
    wall = std::min(wall, r.wall);
    cpu = std::min(cpu, r.cpu);
    peakKb = std::max(peakKb, r.peakKb);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: dump_bench CLI TABLE.DBF [RUNS] [SMALL.DBF]\n";
    return 2;
  }
  const std::string cli = argv[1];
  const fs::path table = fs::absolute(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::string small = argc > 4 ? fs::absolute(argv[4]).string() : "";

  {
    const auto opened = importacao::DbfTable::open(table);
    std::printf("%s: %.1f MB, %zu presented records of %u bytes\n", table.c_str(),
                static_cast<double>(fs::file_size(table)) / 1e6, opened.recordCount(),
                opened.header().recordLength);
  }
  // The timed runs first, while this process is small: a child's peak resident size, as the
  // system reports it, is at least that of the process that started it.
  Best ours, pgdbf, oursSmall;
  for (int i = 0; i < runs; ++i) {
    const Run a = run({cli, "--dump-dbf", table.string()}, "/dev/null");
    const Run b = run({"pgdbf", table.string()}, "/dev/null");
    if (a.status != 0 || b.status != 0) {
      std::cerr << "a run failed: ours " << a.status << ", pgdbf " << b.status << '\n';
      return 1;
    }
    ours.note(a);
    pgdbf.note(b);
    if (!small.empty()) oursSmall.note(run({cli, "--dump-dbf", small}, "/dev/null"));
  }
  const std::string title = "best of " + std::to_string(runs);
  std::printf("\n%-34s %9s %9s %12s\n", title.c_str(), "wall s", "cpu s", "peak RSS kB");
  std::printf("%-34s %9.3f %9.3f %12ld\n", "importacao-cli --dump-dbf", ours.wall, ours.cpu,
              ours.peakKb);
  std::printf("%-34s %9.3f %9.3f %12ld\n", "pgdbf", pgdbf.wall, pgdbf.cpu, pgdbf.peakKb);
  if (!small.empty()) {
    std::printf("%-34s %9.3f %9.3f %12ld   (%s, %.1f MB)\n", "importacao-cli --dump-dbf, small",
                oursSmall.wall, oursSmall.cpu, oursSmall.peakKb, fs::path(small).filename().c_str(),
                static_cast<double>(fs::file_size(small)) / 1e6);
  }
  std::printf(
      "\nours x faster than pgdbf: %.2f by wall time, %.2f by processor time (target >= 1.5)\n",
      pgdbf.wall / ours.wall, pgdbf.cpu / ours.cpu);
  if (!small.empty()) {
    std::printf("our peak RSS on the large table / on the small one: %.2f (flat: about 1)\n",
                static_cast<double>(ours.peakKb) / static_cast<double>(oursSmall.peakKb));
  }
  const bool same = sameAsReference(cli, table);
  std::printf("our record lines, byte for byte as the JSON library writes them: %s\n",
              same ? "yes" : "NO");
  double load[3] = {0, 0, 0};
  if (::getloadavg(load, 3) > 0) std::printf("machine load average: %.2f\n", load[0]);
  return same ? 0 : 1;
}
