"""Checks that the three dialects of the store schema declare the same store: the same tables and
columns in the same order with corresponding kinds, and that the T-SQL script make-store writes
runs as sqlcmd batches. The PostgreSQL and SQLite schemas are also loaded and exercised by the
store tests; the SQL Server one can only be read here.
Run from this directory: python3 -m unittest schema_test"""
import importlib.machinery
import importlib.util
import pathlib
import re
import unittest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent


def tables(dialect):
    """{table: [(column, kind)]} in file order, kinds in lower case without 'not null' etc."""
    text = (HERE / f"{dialect}.sql").read_text(encoding="utf-8")
    out = {}
    for m in re.finditer(r"^create table (\w+) \((.*?)^\);", text, re.S | re.M):
        columns = []
        for line in m.group(2).splitlines():
            line = line.split("--")[0].strip()
            c = re.match(r"(\w+)\s+(\w+(?:\(\s*(?:\d+\s*(?:,\s*\d+)?|max)\s*\))?)", line)
            if c and c.group(1).lower() != "primary":
                columns.append((c.group(1), c.group(2).lower()))
        out[m.group(1)] = columns
    return out


def indexes(dialect):
    """{index: (table, [column])}; an expression on a column counts as the column."""
    text = (HERE / f"{dialect}.sql").read_text(encoding="utf-8")
    out = {}
    for m in re.finditer(r"^create\s+(?:unique\s+)?index\s+(\w+)\s+on\s+(\w+)\s*\((.*?)\);", text, re.S | re.M):
        columns = [re.sub(r"^\w+\((\w+)\)$", r"\1", c.strip()) for c in m.group(3).split(",")]
        out[m.group(1)] = (m.group(2), columns)
    return out


# The PostgreSQL kind each SQLite and SQL Server kind stands for.
def as_postgresql(kind, dialect):
    if dialect == "sqlite":
        return {"datetime": "timestamp(3)"}.get(kind, kind)
    kind = re.sub(r"^nvarchar\(", "varchar(", kind)
    kind = re.sub(r"^decimal\(", "numeric(", kind)
    return {"int": "integer", "datetime": "timestamp(3)", "varchar(max)": "text"}.get(kind, kind)


class SameStore(unittest.TestCase):
    def test_every_dialect_declares_the_same_columns(self):
        postgresql = tables("postgresql")
        self.assertEqual(len(postgresql), 9)
        for dialect in ("sqlite", "sqlserver"):
            other = tables(dialect)
            with self.subTest(dialect):
                self.assertEqual(list(other), list(postgresql))
                for table, columns in postgresql.items():
                    with self.subTest(table=table):
                        self.assertEqual([(c, as_postgresql(k, dialect)) for c, k in other[table]], columns)

    def test_every_dialect_declares_the_same_indexes(self):
        postgresql = indexes("postgresql")
        # the products section's stock lookup, which the primary key cannot serve
        self.assertIn(("lj_referEst", ["IdReferencia", "IdCor", "Tam", "IdEstoque"]), postgresql.values())
        for dialect in ("sqlite", "sqlserver"):
            with self.subTest(dialect):
                self.assertEqual(indexes(dialect), postgresql)

    def test_wide_text_only_where_the_importer_declares_it(self):
        for table, columns in tables("sqlserver").items():
            wide = [c for c, k in columns if k.startswith("nvarchar")]
            with self.subTest(table):
                if table not in ("clientes", "Estado", "Municipio"):
                    self.assertEqual(wide, [])
        clientes = dict(tables("sqlserver")["clientes"])
        self.assertEqual(clientes["NomeCliente"], "nvarchar(50)")
        self.assertEqual(clientes["NomeFantasia"], "varchar(50)")
        self.assertEqual(clientes["Observacao"], "varchar(max)")


def load_make_store():
    loader = importlib.machinery.SourceFileLoader("make_store", str(ROOT / "scripts" / "make-store"))
    spec = importlib.util.spec_from_loader("make_store", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


class SqlServerScript(unittest.TestCase):
    def test_script_runs_as_batches(self):
        text = load_make_store().store_script("sqlserver", True)
        batches = re.split(r"^GO$", text, flags=re.M)
        procedure = [b for b in batches if "create procedure" in b]
        self.assertEqual(len(procedure), 1)
        # a procedure must be the first statement of its batch
        self.assertEqual(re.sub(r"--[^\n]*\n", "", procedure[0]).strip().split()[:3],
                         ["create", "procedure", "Sp_EstoqueInicial"])
        self.assertIn("@refer varchar(10), @idcor int, @tam varchar(3), @idempresa int, @idfilial int",
                      procedure[0])
        self.assertIn("insert into Municipio", batches[-1])
        self.assertIn("N'SÃO PAULO'", batches[-1])


class DataLinkValues(unittest.TestCase):
    def test_password_from_the_connection_string(self):
        make_store = load_make_store()
        cases = [("host=h password=secret", "secret"),
                 ("host=h password='a b\\'c' user=u", "a b'c"),
                 ("postgresql://u:p%40ss@h:5432/db", "p@ss"),
                 ("postgresql://u@h/db?password=x", "x"),
                 ("host=h user=u", None)]
        for conninfo, want in cases:
            with self.subTest(conninfo):
                self.assertEqual(make_store.conninfo_password(conninfo), want)

    def test_odbc_values_are_braced_when_they_would_end_early(self):
        make_store = load_make_store()
        cases = [("loja", "loja"), ("a;b", "{a;b}"), ("a}b", "{a}}b}"), (" lead", "{ lead}"),
                 ("a b=c", "a b=c"), ("", "")]
        for value, want in cases:
            with self.subTest(value):
                self.assertEqual(make_store.odbc_value(value), want)


if __name__ == "__main__":
    unittest.main()
