#!/usr/bin/env python3
"""The customers and suppliers import measured against its floor, on a local PostgreSQL.

  run_bench.py --build DIR [--records N] [--rounds R] [--no-sync-commit] [--pg-env FILE] [--keep]

DIR is a Release build with -DIMP_BUILD_BENCH=ON (importacao-cli, partners_bench_tool). The
server is the one of IMP_TEST_PG_CONN (source the env file that scripts/pg-test-server start
writes), or --pg-env FILE.

N generated customers and N generated suppliers (default 10,000 each) are imported through
importacao-cli ("--customers --suppliers") into an empty store schema with the municipality seed,
and then again (every row updated); beside each, in the same run, the floor (partners_bench_tool
floor: the same statements per record on raw ODBC with prepared handles) does the same into a
schema of its own. Runner and floor take turns R times per phase (default 1), going first by
turns. Printed per turn: records/s of both, the ratio of wall times, the CPU time (user + system)
of both as a share of its wall time, and the CPU time of both per record (which a busy machine
disturbs less than the shares: a commit that waits longer for the disk adds wall time, not CPU
time).

--no-sync-commit runs both with synchronous_commit off (set per connection): commits then cost a
round trip without the wait for the disk, which on a busy shared machine is the noisiest part.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "common"))
from pg_bench import server_from, timed, write_udl  # noqa: E402


def tool(build):
    return str(build / "bench" / "partners" / "partners_bench_tool")


def run_cli(build, work, dbf_folder, udl, tag):
    settings = work / "Importacao.ini"  # read only: the runner never writes it
    if not settings.exists():
        settings.write_text("[Importacao]\n")
    cmd = [str(build / "app" / "importacao-cli"), "--settings", str(settings), "--dbf-folder",
           str(dbf_folder), "--data-link", str(udl), "--customers", "--suppliers"]
    wall, cpu, _, code = timed(cmd, work / f"cli-{tag}.err")
    if code != 0:
        sys.exit(f"importacao-cli failed ({code}): {(work / f'cli-{tag}.err').read_text()}")
    return wall, cpu


def run_floor(build, work, odbc, count, tag):
    wall, cpu, _, code = timed([tool(build), "floor", odbc, str(count)], work / f"floor-{tag}.err")
    if code != 0:
        sys.exit(f"floor failed: {(work / f'floor-{tag}.err').read_text()}")
    return wall, cpu


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--build", type=pathlib.Path, required=True)
    p.add_argument("--records", type=int, default=10_000, help="customers, and as many suppliers")
    p.add_argument("--rounds", type=int, default=1, help="turns of runner and floor per phase")
    p.add_argument("--no-sync-commit", action="store_true",
                   help="both with synchronous_commit off (no wait for the disk at commit)")
    p.add_argument("--pg-env", help="env file written by scripts/pg-test-server start")
    p.add_argument("--keep", action="store_true", help="keep the schemas and files")
    args = p.parse_args()
    args.build = args.build.resolve()

    server = server_from(args.pg_env, "run_bench.py")
    work = pathlib.Path(tempfile.mkdtemp(prefix="partners-bench-"))
    count = args.records
    tag = f"p{os.getpid()}"
    cli_schema, floor_schema = f"bench_pcli_{tag}", f"bench_pfloor_{tag}"
    try:
        folder = work / "dbf"
        subprocess.run([tool(args.build), "generate", str(folder), str(count)], check=True)
        server.make_schema(cli_schema)
        server.make_schema(floor_schema)
        extra = "-c synchronous_commit=off" if args.no_sync_commit else ""
        udl = work / "cli.udl"
        write_udl(udl, server.odbc(cli_schema, extra))
        print(f"{count} customers + {count} suppliers, PostgreSQL {server.conninfo.split(' password')[0]}"
              + (", synchronous_commit off" if extra else ""))
        print(f"{'phase':<8} {'runner rec/s':>12} {'floor rec/s':>11} {'wall ratio':>10} "
              f"{'runner CPU':>11} {'floor CPU':>10} {'CPU us/record':>15}")
        for phase in ("insert", "update"):
            for turn in range(args.rounds):
                if phase == "insert" and turn > 0:  # every insert turn starts from empty schemas
                    for schema in (cli_schema, floor_schema):
                        server.drop_schema(schema)
                        server.make_schema(schema)
                # The two take turns at going first, so that neither always meets the same moment
                # of a busy machine's disk.
                if turn % 2 == 0:
                    cli = run_cli(args.build, work, folder, udl, f"{phase}{turn}")
                floor = run_floor(args.build, work, server.odbc(floor_schema, extra), count, f"{phase}{turn}")
                if turn % 2 == 1:
                    cli = run_cli(args.build, work, folder, udl, f"{phase}{turn}")
                print(f"{phase:<8} {2 * count / cli[0]:>12.0f} {2 * count / floor[0]:>11.0f} "
                      f"{cli[0] / floor[0]:>10.3f} {100 * cli[1] / cli[0]:>10.1f}% "
                      f"{100 * floor[1] / floor[0]:>9.1f}% "
                      f"{1e6 * cli[1] / (2 * count):>7.0f}/{1e6 * floor[1] / (2 * count):<7.0f}", flush=True)
        rows = [server.count(s, t) for s in (cli_schema, floor_schema) for t in ("clientes", "fornecedores")]
        if rows != [count] * 4:
            sys.exit(f"run_bench.py: unexpected row counts (runner clientes, fornecedores; floor ...): {rows}")
        print("CPU: user + system time as a share of wall time; per record: runner/floor")
        print("targets: wall ratio <= 1.15 in both phases; runner CPU < 10% of its wall time")
    finally:
        if args.keep:
            print(f"kept {work} and the schemas {cli_schema}, {floor_schema}")
        else:
            server.drop_schema(cli_schema)
            server.drop_schema(floor_schema)
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
