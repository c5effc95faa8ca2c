#!/usr/bin/env python3
"""The products import measured against its floor, on a local PostgreSQL.

  run_bench.py --build DIR [--products N] [--stock-index] [--memory N1,N2,...] [--window [--runs R]]

DIR is a Release build with -DIMP_BUILD_BENCH=ON (importacao-cli, products_bench_tool, and
importacao-window-bench when the window is built). The server is the one of IMP_TEST_PG_CONN
(source the env file that scripts/pg-test-server start writes), or --pg-env FILE.

Speed: N generated products (default 10,000) are imported through importacao-cli into an empty
store schema and then again (every product updated); beside them, in the same run, the floor
(products_bench_tool floor: the same statements per product on raw ODBC with prepared handles)
does the same into a schema of its own. Printed per phase: products/s of both, the ratio of
wall times, and the CPU time (user + system) of both as a share of wall time and per product.
The schema is the shipped one; --stock-index adds an index for the stock lookup on both sides,
which takes the server's plan choice for that lookup out of the comparison.

Memory (--memory): the runner's peak resident size for each table size, first phase only, with
synchronous_commit off on the server side and an index for the stock lookup (neither changes the
runner's memory; both make a 100,000-product run take minutes instead of an hour).

Window (--window): the same run through the window offscreen (importacao-window-bench), beside
the runner on a schema of its own; R times with --runs R (fresh schemas each time). The window's
extra CPU time per product is the figure a busy machine disturbs least: its wall ratio moves
with the machine's load, which is printed beside each phase.

On a quiet machine, everything the products targets need, in one go:
  cmake -S . -B build-products-rel -DCMAKE_BUILD_TYPE=Release -DIMP_BUILD_BENCH=ON -DIMP_BUILD_TESTS=OFF && cmake --build build-products-rel -j2 --target importacao-cli products_bench_tool importacao-window-bench && scripts/pg-test-server start /tmp/pg-bench && python3 bench/products/run_bench.py --build build-products-rel --pg-env /tmp/pg-bench/env --window --runs 3; scripts/pg-test-server destroy /tmp/pg-bench
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "common"))
from pg_bench import server_from, timed, write_udl  # noqa: E402

# The stock lookup (key, colour, size, stock) is not a prefix of lj_referEst's primary key, so
# every product scans the table or the whole key index, whichever plan the server settled on
# when the statement was prepared (often the scan, when the table was still nearly empty).
STOCK_INDEX = "create index ix_bench_referest on lj_referEst (IdReferencia, IdCor, Tam, IdEstoque)"


def status_kb(pid):
    """RssAnon and RssFile of a running process, in kB (zeros once it is gone)."""
    values = {"RssAnon": 0, "RssFile": 0}
    try:
        for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
            key, _, rest = line.partition(":")
            if key in values:
                values[key] = int(rest.split()[0])
    except (OSError, ValueError):
        pass
    return values


def sampled(cmd, log):
    """Runs cmd; returns (wall s, user+sys s, peak RSS MB, peak anonymous MB, peak file-backed
    MB, exit status). The anonymous and file-backed peaks are sampled every 50 ms."""
    peak = {"RssAnon": 0, "RssFile": 0}
    with open(log, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=err)
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            for key, value in status_kb(proc.pid).items():
                peak[key] = max(peak[key], value)
            time.sleep(0.05)
        wall = time.perf_counter() - start
    return (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0,
            peak["RssAnon"] / 1024.0, peak["RssFile"] / 1024.0, os.waitstatus_to_exitcode(status))


def cli_command(build, work, dbf_folder, udl):
    settings = work / "Importacao.ini"  # read only: the runner never writes it
    if not settings.exists():
        settings.write_text("[Importacao]\n")
    return [str(build / "app" / "importacao-cli"), "--settings", str(settings), "--dbf-folder",
            str(dbf_folder), "--data-link", str(udl), "--products"]


def run_cli(build, work, dbf_folder, udl, tag):
    result = timed(cli_command(build, work, dbf_folder, udl), work / f"cli-{tag}.err")
    if result[3] != 0:
        sys.exit(f"importacao-cli failed ({result[3]}): {(work / f'cli-{tag}.err').read_text()}")
    return result


def run_floor(build, work, odbc, count, tag):
    cmd = [str(build / "bench" / "products" / "products_bench_tool"), "floor", odbc, str(count)]
    result = timed(cmd, work / f"floor-{tag}.err")
    if result[3] != 0:
        sys.exit(f"floor failed: {(work / f'floor-{tag}.err').read_text()}")
    return result


def generate(build, folder, count):
    subprocess.run([str(build / "bench" / "products" / "products_bench_tool"), "generate",
                    str(folder), str(count)], check=True)


def speed(args, server, work):
    count = args.products
    folder = work / f"dbf-{count}"
    generate(args.build, folder, count)
    tag = f"b{os.getpid()}"
    cli_schema, floor_schema = f"bench_cli_{tag}", f"bench_floor_{tag}"
    try:
        server.make_schema(cli_schema, seed=False)
        server.make_schema(floor_schema, seed=False)
        if args.stock_index:
            for schema in (cli_schema, floor_schema):
                server.execute(schema, STOCK_INDEX)
        udl = work / "cli.udl"
        write_udl(udl, server.odbc(cli_schema))
        print(f"{count} products, PostgreSQL {server.conninfo.split(' password')[0]}")
        print(f"{'phase':<8} {'runner/s':>9} {'floor/s':>8} {'wall ratio':>10} {'runner CPU':>11} "
              f"{'floor CPU':>10} {'CPU ms/product':>15} {'runner RSS':>11}")
        # Runner first on inserts, floor first on updates: drift in the machine's load then
        # favours neither.
        for phase in ("insert", "update"):
            if phase == "insert":
                cli = run_cli(args.build, work, folder, udl, phase)
                floor = run_floor(args.build, work, server.odbc(floor_schema), count, phase)
            else:
                floor = run_floor(args.build, work, server.odbc(floor_schema), count, phase)
                cli = run_cli(args.build, work, folder, udl, phase)
            print(f"{phase:<8} {count / cli[0]:>9.0f} {count / floor[0]:>8.0f} "
                  f"{cli[0] / floor[0]:>10.3f} {100 * cli[1] / cli[0]:>10.1f}% "
                  f"{100 * floor[1] / floor[0]:>9.1f}% "
                  f"{1000 * cli[1] / count:>7.3f}/{1000 * floor[1] / count:<7.3f} {cli[2]:>9.1f}MB")
        print("CPU: user + system time as a share of wall time; per product: runner/floor")
        print("targets: wall ratio <= 1.15 in both phases; runner CPU < 10% of its wall time")
    finally:
        if not args.keep:
            server.drop_schema(cli_schema)
            server.drop_schema(floor_schema)


def memory(args, server, work):
    sizes = [int(s) for s in args.memory.split(",")]
    print("peak resident size of importacao-cli, insert phase (synchronous_commit off); anonymous"
          " memory and file-backed pages (the mapped legacy table, the libraries) sampled apart:")
    for count in sizes:
        folder = work / f"dbf-{count}"
        generate(args.build, folder, count)
        schema = f"bench_mem_{os.getpid()}_{count}"
        try:
            server.make_schema(schema, seed=False)
            server.execute(schema, STOCK_INDEX)
            udl = work / f"mem-{count}.udl"
            write_udl(udl, server.odbc(schema, "-c synchronous_commit=off"))
            log = work / f"cli-mem-{count}.err"
            wall, cpu, rss, anon, mapped, code = sampled(cli_command(args.build, work, folder, udl), log)
            if code != 0:
                sys.exit(f"importacao-cli failed ({code}): {log.read_text()}")
            size = (folder / "cfa1010.DBF").stat().st_size / 1e6
            print(f"  {count:>8} products ({size:.1f} MB table): peak RSS {rss:.1f} MB, anonymous "
                  f"{anon:.1f} MB, file-backed {mapped:.1f} MB; {count / wall:.0f} products/s, "
                  f"CPU {100 * cpu / wall:.1f}% of wall")
        finally:
            if not args.keep:
                server.drop_schema(schema)
            shutil.rmtree(folder, ignore_errors=True)


def window(args, server, work):
    tool = args.build / "bench" / "products" / "importacao-window-bench"
    if not tool.exists():
        print("window: importacao-window-bench not built (needs the window, IMP_BUILD_GUI=ON)")
        return
    count = args.products
    folder = work / f"dbf-{count}"
    if not folder.exists():
        generate(args.build, folder, count)
    tag = f"w{os.getpid()}"
    cli_schema, window_schema = f"bench_wcli_{tag}", f"bench_window_{tag}"
    try:
        server.make_schema(cli_schema, seed=False)
        server.make_schema(window_schema, seed=False)
        if args.stock_index:
            for schema in (cli_schema, window_schema):
                server.execute(schema, STOCK_INDEX)
        cli_udl, window_udl = work / "wcli.udl", work / "window.udl"
        write_udl(cli_udl, server.odbc(cli_schema))
        write_udl(window_udl, server.odbc(window_schema))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=str(work / "xdg"))
        print(f"{'phase':<8} {'runner/s':>9} {'window/s':>9} {'wall ratio':>10} {'runner CPU':>11} "
              f"{'window CPU':>11} {'CPU ms/product':>15} {'load':>5}")
        # Runner first on inserts, window first on updates, as for the floor above.
        for phase in ("insert", "update"):
            if phase == "insert":
                cli = run_cli(args.build, work, folder, cli_udl, f"w{phase}")
            log = work / f"window-{phase}.err"
            win = timed([str(tool), str(folder), str(window_udl)], log, env)
            if win[3] != 0:
                sys.exit(f"window run failed: {log.read_text()}")
            if phase == "update":
                cli = run_cli(args.build, work, folder, cli_udl, f"w{phase}")
            print(f"{phase:<8} {count / cli[0]:>9.0f} {count / win[0]:>9.0f} {win[0] / cli[0]:>10.3f} "
                  f"{100 * cli[1] / cli[0]:>10.1f}% {100 * win[1] / win[0]:>10.1f}% "
                  f"{1000 * cli[1] / count:>7.3f}/{1000 * win[1] / count:<7.3f} "
                  f"{os.getloadavg()[0]:>5.1f}")
        print("CPU: user + system time as a share of wall time; per product: runner/window; "
              "load: 1-minute load average after the phase")
        print("target: window wall time <= 1.1 x the runner's")
    finally:
        if not args.keep:
            server.drop_schema(cli_schema)
            server.drop_schema(window_schema)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", type=pathlib.Path, required=True)
    p.add_argument("--products", type=int, default=10_000)
    p.add_argument("--memory", help="table sizes for the peak-memory runs, e.g. 10000,100000")
    p.add_argument("--window", action="store_true", help="also time the window's path")
    p.add_argument("--runs", type=int, default=1, help="window comparisons to make (default 1)")
    p.add_argument("--no-speed", action="store_true", help="skip the speed comparison")
    p.add_argument("--stock-index", action="store_true",
                   help="speed and window runs: add an index for the stock lookup to both schemas")
    p.add_argument("--pg-env", help="env file written by scripts/pg-test-server start")
    p.add_argument("--keep", action="store_true", help="keep the schemas and files")
    args = p.parse_args()
    args.build = args.build.resolve()

    server = server_from(args.pg_env, "run_bench.py")
    work = pathlib.Path(tempfile.mkdtemp(prefix="products-bench-"))
    print("load average at start: " + " ".join(f"{v:.2f}" for v in os.getloadavg()))
    try:
        if not args.no_speed:
            speed(args, server, work)
        if args.memory:
            memory(args, server, work)
        if args.window:
            for run in range(args.runs):
                if args.runs > 1:
                    print(f"window run {run + 1} of {args.runs}")
                window(args, server, work)
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
