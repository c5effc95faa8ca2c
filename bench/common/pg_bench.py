"""What the import benchmarks share: the throw-away server's settings, store schemas on it,
data-link files, and a timed child process."""
import os
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]


def read_env(path):
    """The variables of an env file that scripts/pg-test-server start writes."""
    env = {}
    for line in pathlib.Path(path).read_text().splitlines():
        m = re.match(r"export (\w+)='(.*)'$", line)
        if m:
            env[m.group(1)] = m.group(2)
    return env


def odbc_parts(conn):
    return dict(p.split("=", 1) for p in conn.split(";") if "=" in p)


def server_from(pg_env, program):
    """The server of --pg-env FILE when given, else of IMP_TEST_PG_CONN; ends the program when
    neither names one."""
    conn = read_env(pg_env).get("IMP_TEST_PG_CONN") if pg_env else os.environ.get("IMP_TEST_PG_CONN")
    if not conn:
        sys.exit(f"{program}: no PostgreSQL: set IMP_TEST_PG_CONN or give --pg-env")
    return Server(conn)


class Server:
    """The PostgreSQL server of an ODBC connection string, with one schema per side measured."""

    def __init__(self, conn):
        self.conn = conn
        parts = odbc_parts(conn)
        self.conninfo = (f"host={parts['Server']} port={parts['Port']} dbname={parts['Database']} "
                         f"user={parts['Uid']} password={parts['Pwd']}")

    def odbc(self, schema, extra=""):
        options = f"-c search_path={schema}" + (f" {extra}" if extra else "")
        return f"{self.conn};pqopt={{options='{options}'}}"

    def make_schema(self, schema, seed=True):
        """The store's tables in a schema of their own, with the municipality seed or without."""
        cmd = [sys.executable, str(ROOT / "scripts" / "make-store"), "postgresql"]
        cmd += [] if seed else ["--no-seed"]
        subprocess.run(cmd + [self.conninfo, schema], check=True, stdout=subprocess.DEVNULL)

    def execute(self, schema, sql):
        subprocess.run(["psql", self.conninfo, "-q", "-v", "ON_ERROR_STOP=1", "-c",
                        f"set search_path to {schema}; {sql}"], check=True, stdout=subprocess.DEVNULL)

    def drop_schema(self, schema):
        subprocess.run(["psql", self.conninfo, "-q", "-c", f"drop schema if exists {schema} cascade"],
                       check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def count(self, schema, table):
        out = subprocess.run(["psql", self.conninfo, "-At", "-c", f"select count(*) from {schema}.{table}"],
                             check=True, capture_output=True, text=True)
        return int(out.stdout.strip())


def write_udl(path, odbc):
    """A data-link file (UTF-16 with its mark) naming the ODBC connection string."""
    text = "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
    text += 'Provider=MSDASQL.1;Extended Properties="' + odbc.replace('"', '""') + '"\r\n'
    path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))


def timed(cmd, log, env=None):
    """Runs cmd, its standard error to log; returns (wall s, user+sys s, peak RSS MB, exit status)."""
    with open(log, "wb") as err:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=err, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, code
