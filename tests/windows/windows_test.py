#!/usr/bin/env python3
"""The Windows programs under Wine beside the Linux runner, on the same data.

    windows_test.py --build-windows DIR --linux-cli PATH --work DIR [--pg-port N] [--window]
                    [--installer]

importacao-cli.exe and the Linux importacao-cli each import the same legacy folder (made by
scripts/make-demo-dbf: products, customers, suppliers, with records the store refuses) into a store
of their own, an SQLite file and a schema of the tests' PostgreSQL server; their logs and exit
statuses must be the same and their stores equal row for row, after a first run and after a
re-run over the same data. A stop (an interrupt, which Wine hands to the program as Ctrl+C) must
end both with 130 after the record in hand. With --window, importacao.exe runs a real import on a
virtual X server, driven with xdotool, and its store must equal the runner's.

The work folder's name holds accents, so every path the Windows programs get is UTF-16 that a
narrow ANSI path could not carry. Needs WINEPREFIX set up (scripts/wine-env) and, for --window,
DISPLAY. Prints one line a check and "N passed, M failed" at the end; exit status 1 on a failure.
"""
import argparse
import csv
import io
import os
import pwd
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
NOW_COLUMNS = {"dataalteracao", "datainclusao", "dataatualizacao", "data"}  # the clock's "now"
DAY_COLUMNS = {"datacadastro"}  # today's date, or the store's "now" where its default fills it
TABLES = ["lj_produtos", "lj_referBar", "lj_referPrc", "lj_referEst", "estoqueinicial", "clientes",
          "fornecedores"]
PG_USER, PG_PASSWORD = "loja", "loja-test"

results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok or not detail else "\n      " + detail),
          flush=True)
    return ok


def winpath(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Store:
    """One store of one program: an SQLite file or a PostgreSQL schema, with its data-link file."""

    def __init__(self, kind, folder, name, pg_port):
        self.kind, self.pg_port, self.name = kind, pg_port, name
        folder.mkdir(parents=True, exist_ok=True)
        self.udl = folder / f"{name}.udl"
        if kind == "sqlite":
            self.db = folder / f"{name}.db"
            subprocess.run([ROOT / "scripts/make-store", "sqlite", self.db], check=True,
                           stdout=subprocess.DEVNULL)
            # As scripts/demo does: WAL and synchronous=NORMAL spare a disk flush at every post.
            odbc = f"Driver=SQLite3;Database={self.db};JournalMode=WAL;SyncPragma=NORMAL"
            text = ("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                    'Provider=MSDASQL.1;Extended Properties="' + odbc + '"\r\n')
            self.udl.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        else:
            self.conninfo = (f"host=127.0.0.1 port={pg_port} dbname=loja user={PG_USER} "
                             f"password={PG_PASSWORD}")
            subprocess.run(["psql", self.conninfo, "-q", "-c", f"drop schema if exists {name} cascade"],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([ROOT / "scripts/make-store", "postgresql", "--udl", self.udl,
                            self.conninfo, name], check=True, stdout=subprocess.DEVNULL)

    def rows(self, table):
        """The table's rows, ordered, without the columns the clock fills."""
        if self.kind == "sqlite":
            with sqlite3.connect(self.db) as db:
                cursor = db.execute(f"select * from {table}")
                names = [d[0] for d in cursor.description]
                data = cursor.fetchall()
        else:
            out = subprocess.run(["psql", self.conninfo, "-X", "-q", "--csv", "-c",
                                  f"set search_path to {self.name}", "-c", f"select * from {table}"],
                                 check=True, capture_output=True, text=True).stdout
            table_rows = list(csv.reader(io.StringIO(out)))
            names, data = table_rows[0], table_rows[1:]
        keep = [i for i, n in enumerate(names) if n.lower() not in NOW_COLUMNS]
        day = {i for i, n in enumerate(names) if n.lower() in DAY_COLUMNS}
        return sorted(tuple(str(r[i])[:10] if i in day else str(r[i]) for i in keep) for r in data)

    def count(self, table):
        return len(self.rows(table))


class Runner:
    """The Linux importacao-cli or importacao-cli.exe under Wine, over the same legacy folder."""

    def __init__(self, windows, program, work, legacy, store):
        self.windows, self.program, self.store = windows, program, store
        self.folder = work / ("windows" if windows else "linux")
        self.folder.mkdir(parents=True, exist_ok=True)
        self.settings = self.folder / "Importacao.ini"
        self.log = self.folder / "importação.log"
        name = winpath if windows else str
        with open(self.settings, "w", encoding="cp1252" if windows else "utf-8", newline="\r\n") as f:
            f.write(f"[Importacao]\nConexaoDBF={name(legacy)}\nConexaoSQL={name(store.udl)}\n")
        self.args = ["--settings", name(self.settings), "--log", name(self.log)]

    def start(self, sections):
        command = (["wine", str(self.program)] if self.windows else [str(self.program)]) + self.args
        return subprocess.Popen(command + sections, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)

    def run(self, sections):
        started = time.monotonic()
        process = self.start(sections)
        out, err = process.communicate(timeout=600)
        return process.returncode, out, err, time.monotonic() - started

    def stop_after(self, sections, line):
        """Runs until `line` was printed, then interrupts (SIGINT; Wine raises Ctrl+C from it)."""
        process = self.start(sections)
        seen = b""
        while line not in seen:
            chunk = process.stdout.read1(65536)
            if not chunk:
                break
            seen += chunk
        target = process.pid
        if self.windows:  # the Windows process itself, not the wine launcher that started it
            found = subprocess.run(["pgrep", "-n", "-f", "importacao-cli.exe --settings"],
                                   capture_output=True, text=True).stdout.split()
            target = int(found[0]) if found else process.pid
        os.kill(target, signal.SIGINT)
        out, err = process.communicate(timeout=300)
        return process.returncode, seen + out, err


def compare_stores(label, a, b):
    for table in TABLES:
        rows_a, rows_b = a.rows(table), b.rows(table)
        diff = "" if rows_a == rows_b else (f"{len(rows_a)} rows against {len(rows_b)}; first "
                                            f"difference {next((x, y) for x, y in zip(rows_a + [None], rows_b + [None]) if x != y)}")
        check(f"{label}: {table} row for row ({len(rows_a)} rows)", rows_a == rows_b, diff)


def cli_checks(kind, args, work, legacy):
    linux = Runner(False, args.linux_cli, work / kind, legacy, Store(kind, work / kind, "lin", args.pg_port))
    windows = Runner(True, Path(args.build_windows) / "app/importacao-cli.exe", work / kind, legacy,
                     Store(kind, work / kind, "win", args.pg_port))
    sections = ["--products", "--customers", "--suppliers"]
    for attempt in ("first run", "re-run"):
        label = f"{kind} {attempt}"
        status_l, out_l, _, time_l = linux.run(sections)
        status_w, out_w, err_w, time_w = windows.run(sections)
        print(f"      {label}: Linux {time_l:.1f} s, Windows under Wine {time_w:.1f} s", flush=True)
        # 3: the run reached its end with records the store refused (the demo tables hold some).
        check(f"{label}: both exit 3, the refused records' status", (status_l, status_w) == (3, 3),
              f"{status_l}, {status_w}: " + err_w.decode(errors="replace")[-2000:])
        log_l, log_w = linux.log.read_bytes(), windows.log.read_bytes()
        lines = log_l.count(b"\r\n")
        check(f"{label}: the logs are the same bytes ({lines} lines)", log_l == log_w)
        # Standard output in text mode: a Windows program ends its lines with CR LF.
        out_w = out_w.replace(b"\r\n", b"\n")
        check(f"{label}: the standard outputs are the same (lines ending CR LF on Windows)",
              out_l == out_w,
              next((f"line {i}: {a!r} against {b!r}" for i, (a, b) in
                    enumerate(zip(out_l.split(b"\n"), out_w.split(b"\n"))) if a != b), ""))
        check(f"{label}: refused records logged", b"Erro gravando o Produto - " in log_w and
              b"Processo concluido\r\n" in log_w)
        compare_stores(label, linux.store, windows.store)

    # A stop during the products section: both end with 130 after the record in hand.
    for runner in (linux, windows):
        who = "Windows" if runner.windows else "Linux"
        status, out, _ = runner.stop_after(["--products"], b"Gerando Estoque inicial - ")
        log = runner.log.read_bytes()
        check(f"{kind} stop ({who}): exit 130, no 'Processo concluido', the last record whole",
              status == 130 and b"Processo concluido" not in log and
              log.split(b"\r\n")[-2].startswith(b"Gerando Estoque inicial - "),
              f"status {status}, log ends {log[-200:]!r}")
    return linux


class Window:
    """importacao.exe on the virtual display, over a settings file of its own (%APPDATA%\\Importacao),
    driven with xdotool; coordinates are the client area's."""

    def __init__(self, program, settings, beside=None):
        prefix = Path(os.environ["WINEPREFIX"])
        user = pwd.getpwuid(os.getuid()).pw_name  # Wine names the profile folder after the user
        self.appdata = prefix / "drive_c/users" / user / "AppData/Roaming/Importacao"
        self.appdata.mkdir(parents=True, exist_ok=True)
        with open(self.appdata / "Importacao.ini", "w", encoding="cp1252", newline="\r\n") as f:
            f.write(settings)
        for name, source in (beside or {}).items():  # e.g. the built-in Importacao.udl
            shutil.copyfile(source, self.appdata / name)
        self.process = subprocess.Popen(["wine", str(program)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.id = self.find("Sistema de Importa", 30)
        if self.id:
            time.sleep(1)
            self.xdo("windowfocus", "--sync", self.id)
            time.sleep(0.5)

    @staticmethod
    def find(name, seconds):
        deadline = time.monotonic() + seconds
        while True:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                                   capture_output=True, text=True).stdout.split()
            if found or time.monotonic() > deadline:
                return found[0] if found else None
            time.sleep(0.3)

    def xdo(self, *a):
        subprocess.run(["xdotool", *a], check=True)

    def keys(self, *keys):
        self.xdo("key", "--delay", "100", *keys)
        time.sleep(0.4)

    def click(self, x, y, button="1"):
        self.xdo("mousemove", "--window", self.id, str(x), str(y), "click", button)

    def clipboard(self, copy_keys=("ctrl+c",)):
        """What the keys copy (the clipboard emptied first), lines ending LF as Wine hands them."""
        subprocess.run(["xclip", "-selection", "clipboard"], input=b"", timeout=10)
        self.keys(*copy_keys)
        try:
            return subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                                  timeout=10).stdout.decode("utf-8", errors="replace")
        except subprocess.TimeoutExpired:
            return ""

    def log(self):
        """Every row of the log: Ctrl+A, Ctrl+C in the list copy them, as from a text box."""
        self.click(200, 200)
        return self.clipboard(("ctrl+a", "ctrl+c"))

    def wait_log(self, done, seconds):
        deadline = time.monotonic() + seconds
        log = ""
        while time.monotonic() < deadline:
            log = self.log()
            if done(log):
                break
            time.sleep(1)
        return log

    def close(self):
        subprocess.run(["xdotool", "search", "--name", "Sistema de Importa", "windowclose"],
                       stderr=subprocess.DEVNULL)
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()


def finished(log):
    return log.rstrip().endswith("Processo concluido")


def window_checks(args, work, legacy, reference):
    """importacao.exe on the virtual display: tick the sections, press "Importar", read the log;
    then the log's conveniences over what the run left in it."""
    store = Store("sqlite", work / "window", "janela", args.pg_port)
    program = Path(args.build_windows) / "app/importacao.exe"
    window = Window(program, f"[Importacao]\nConexaoDBF={winpath(legacy)}\n"
                             f"ConexaoSQL={winpath(store.udl)}\n")
    try:
        if not check("window: shows with its caption", bool(window.id)):
            return
        # Focus starts on "Importar"; the tab order then reaches the three section boxes.
        window.keys("Tab", "Tab", "Tab", "space", "Tab", "space", "Tab", "space")
        window.click(404, 372)  # "Importar"
        time.sleep(2)
        log = window.wait_log(finished, 120)
        lines = log.replace("\r\n", "\n").split("\n")  # Wine hands X the text with LF ends
        if not check("window: the log ends with 'Processo concluido'", finished(log), log[-300:]):
            subprocess.run(["import", "-window", "root", str(work / "window-failed.png")])
            print(f"      the screen: {work / 'window-failed.png'}")
        # The runner's log as the list shows it: an error line's message on a row of its own, indented.
        expected, errors = [], []
        for line in reference.log.read_bytes().decode("cp1252", errors="replace").split("\r\n")[:-1]:
            first, *rest = line.split("\r")
            expected += [first] + ["    " + r for r in rest]
            if rest and first.startswith("Erro gravando "):
                errors.append(first)
        shown = lines[:-1]
        check(f"window: its log holds the runner's {len(expected)} rows", shown == expected,
              f"{len(shown)} rows; first difference " + repr(next(
                  ((i, a, b) for i, (a, b) in enumerate(zip(shown + [None], expected + [None])) if a != b),
                  None)))
        compare_stores("window", reference.store, store)
        log_conveniences(window, work, reference, errors)
    finally:
        window.close()


def log_conveniences(window, work, reference, errors):
    """F3 and the context menu's "Próximo erro" walk the error lines; "Salvar log..." writes the
    log as the runner's --log does; Esc while no run goes on leaves the window as it is."""
    if not check(f"window: the run logged error lines to walk ({len(errors)})", len(errors) >= 2):
        return
    menu = ("shift+F10",)  # the log's context menu from the keyboard
    walk = [  # (what, keys pressed in the log, the row then selected)
        ("F3 from the first row finds the first error line", ("Home", "F3"), errors[0]),
        ("F3 again finds the next one", ("F3",), errors[1]),
        ("'Próximo erro' of the context menu, the one after", menu + ("Up", "Return"),
         errors[2 % len(errors)]),
        ("F3 from the last row goes round to the first", ("End", "F3"), errors[0]),
    ]
    window.log()
    for what, keys, row in walk:
        window.keys(*keys)
        copied = window.clipboard()
        check(f"window: {what}", copied.rstrip("\r\n") == row, f"selected {copied!r}, wanted {row!r}")

    saved = work.parent / "janela.log"  # a path xdotool can type
    saved.unlink(missing_ok=True)
    window.keys(*menu, "Up", "Up", "Return")  # "Salvar log..."
    dialog = Window.find("Salvar log", 15)
    if check("window: 'Salvar log...' opens the save dialog", bool(dialog)):
        window.xdo("type", "--delay", "20", winpath(saved))
        window.keys("Return")
        for _ in range(20):
            if saved.exists() and saved.stat().st_size >= reference.log.stat().st_size:
                break
            time.sleep(0.3)
        check("window: the saved log is the runner's --log, byte for byte",
              saved.exists() and saved.read_bytes() == reference.log.read_bytes(),
              f"{saved.stat().st_size if saved.exists() else 'no'} bytes")

    window.keys("Escape")
    time.sleep(0.5)
    check("window: Esc with no run going on leaves the window open",
          window.process.poll() is None and Window.find("Sistema de Importa", 1) is not None)


def window_keys_checks(args, work):
    """Enter starts a run from any control, a missing data-link file gives a notice and the run
    goes on over the built-in one, Esc stops a run after the record in hand."""
    store = Store("sqlite", work / "window-keys", "teclas", args.pg_port)
    # Enough products that the run is still going when Esc comes.
    legacy = work / "window-keys" / "Legado"
    subprocess.run([sys.executable, ROOT / "scripts/make-demo-dbf", legacy, "--seed", "12",
                    "--products", "5000", "--customers", "1", "--suppliers", "1"],
                   check=True, stdout=subprocess.DEVNULL)
    missing = work / "window-keys" / "não existe.udl"
    window = Window(Path(args.build_windows) / "app/importacao.exe",
                    f"[Importacao]\nConexaoDBF={winpath(legacy)}\nConexaoSQL={winpath(missing)}\n",
                    beside={"Importacao.udl": store.udl})
    try:
        if not check("window (keys): shows with its caption", bool(window.id)):
            return
        window.keys("Tab", "Tab", "Tab", "space")  # "Produtos", which keeps the focus
        window.keys("Return")
        # The notice is a message box titled with the program's name; the run waits for it.
        notice = Window.find("^Importacao$", 20)
        check("window (keys): Enter on a check box starts the run; the missing data-link file "
              "gets its notice", bool(notice))
        window.keys("Return")  # dismisses the notice; the run goes on
        window.xdo("windowfocus", "--sync", window.id)
        window.wait_log(lambda log: "Importando Produto - " in log, 60)
        window.keys("Escape")  # "Parar" while the products are imported
        time.sleep(1)
        log = window.log()
        rows = log.replace("\r\n", "\n").rstrip("\n").split("\n")
        whole = rows[-1].startswith("Gerando Estoque inicial - ") or (
            len(rows) > 1 and rows[-2].startswith("Erro gravando o Produto - "))
        check("window (keys): Esc stops the run after the record in hand, without 'Processo "
              f"concluido' ({len(rows)} rows)", not finished(log) and len(rows) > 2 and whole,
              f"ends {rows[-3:]!r}")
        check("window (keys): after the notice the run went on over the built-in data-link file",
              store.count("lj_produtos") > 0)
    finally:
        window.close()


def installer_checks(args):
    """The installer: 7-Zip lists the programs and the guide in it; /S installs them into the
    Wine prefix's 64-bit Program Files, with the Start-menu entry and the uninstall entry in the
    64-bit registry view; the installed runner starts."""
    installer = next(Path(args.build_windows).glob("importacao-*-win64.exe"), None)
    if not check("installer: built", installer is not None):
        return
    listing = subprocess.run(["7z", "l", "-slt", str(installer)], capture_output=True,
                             text=True).stdout
    held = {line[7:].replace("\\", "/") for line in listing.splitlines() if line.startswith("Path = ")}
    wanted = {"importacao.exe", "importacao-cli.exe", "LEIA-ME.txt"}
    check("installer: 7-Zip finds both programs and LEIA-ME.txt in it", wanted <= held,
          f"holds {sorted(held)}")
    check("installer: a 64-bit program", b"PE\0\0d\x86" in installer.read_bytes()[:4096])
    status = subprocess.run(["wine", str(installer), "/S"], capture_output=True, timeout=300).returncode
    prefix = Path(os.environ["WINEPREFIX"]) / "drive_c"
    folder = prefix / "Program Files/Importacao"
    check("installer: /S installs both programs and the guide into Program Files\\Importacao",
          status == 0 and all((folder / name).is_file() for name in wanted | {"Uninstall.exe"}),
          f"status {status}; {sorted(p.name for p in folder.glob('*')) if folder.exists() else 'no folder'}")
    menu = prefix / "ProgramData/Microsoft/Windows/Start Menu/Programs/Sistema de Importação"
    check("installer: the Start-menu entry 'Sistema de Importação'",
          (menu / "Sistema de Importação.lnk").is_file(),
          f"{sorted(p.name for p in menu.glob('*')) if menu.exists() else 'no folder ' + str(menu)}")
    uninstall = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
    views = {view: subprocess.run(["wine", "reg", "query", uninstall, "/s", view], capture_output=True,
                                  timeout=60).stdout.decode("utf-8", "replace")
             for view in ("/reg:64", "/reg:32")}
    check("installer: its uninstall entry is in the 64-bit registry view, not the 32-bit one",
          "Importa" in views["/reg:64"] and "Importa" not in views["/reg:32"])
    cli = subprocess.run(["wine", "C:\\Program Files\\Importacao\\importacao-cli.exe", "--help"],
                         capture_output=True, timeout=60)
    check("installer: the installed importacao-cli.exe --help", cli.returncode == 0 and
          b"--products" in cli.stdout, f"status {cli.returncode}: {cli.stdout[-300:]!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-windows", required=True)
    parser.add_argument("--linux-cli", required=True, type=Path)
    parser.add_argument("--work", required=True, type=Path)
    parser.add_argument("--pg-port")
    parser.add_argument("--window", action="store_true")
    parser.add_argument("--installer", action="store_true")
    parser.add_argument("--products", type=int, default=300)
    args = parser.parse_args()

    work = args.work / "Lojão"
    shutil.rmtree(work, ignore_errors=True)
    legacy = work / "Dados Legado"
    subprocess.run([sys.executable, ROOT / "scripts/make-demo-dbf", legacy, "--seed", "12",
                    "--products", str(args.products), "--customers", "200", "--suppliers", "40"],
                   check=True, stdout=subprocess.DEVNULL)
    reference = cli_checks("sqlite", args, work, legacy)
    if args.pg_port:
        cli_checks("postgresql", args, work, legacy)
    if args.window:
        # The window's store is compared with a fresh run of the Linux runner.
        fresh = Runner(False, args.linux_cli, work / "window-reference", legacy,
                       Store("sqlite", work / "window-reference", "lin", args.pg_port))
        fresh.run(["--products", "--customers", "--suppliers"])
        window_checks(args, work, legacy, fresh)
        window_keys_checks(args, work)
    if args.installer:
        installer_checks(args)
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
