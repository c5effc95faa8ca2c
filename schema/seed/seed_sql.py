#!/usr/bin/env python3
"""Writes the INSERT statements that seed a store's Estado and Municipio tables.

    seed_sql.py postgresql|sqlite|sqlserver [OUT]   (standard output when OUT is left out)

Reads estados.csv (codigo_uf,uf,nome) and municipios.csv (codigo_ibge,nome,uf) beside this
script. The store spells names in capitals with their accents (SÃO PAULO); CODIGO is the
two-digit state code and codmun the last five digits of the seven-digit municipality code.
The data are checked before anything is written; a bad row stops the script with its line number.
Python 3 standard library only.
"""
import csv
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
DIALECTS = ("postgresql", "sqlite", "sqlserver")
ROWS_PER_INSERT = 500  # SQL Server takes at most 1000 rows in one VALUES list


class SeedError(Exception):
    pass


def store_name(name):
    """The store's spelling of a name: capitals, accents kept. The importer works in code page
    1252, so a name that 1252 cannot hold would never match; refuse it here."""
    upper = name.strip().upper()
    try:
        upper.encode("cp1252")
    except UnicodeEncodeError:
        raise SeedError(f"name {name!r} has letters outside code page 1252") from None
    return upper


def read_csv(path, columns):
    try:
        with open(path, encoding="utf-8-sig", newline="") as f:
            reader = csv.DictReader(f)
            if reader.fieldnames is None or list(reader.fieldnames) != list(columns):
                raise SeedError(f"{path.name}: expected the columns {','.join(columns)}, "
                                f"found {','.join(reader.fieldnames or [])}")
            return [(reader.line_num, row) for row in reader]
    except OSError as e:
        raise SeedError(f"{path}: {e.strerror}") from None


def load(directory=HERE):
    """Returns (states, municipalities): lists of (Estado, CODIGO, NOME) and
    (IdMunicipio, IDSIGLA, NOME, codmun), checked."""
    states, codes = [], {}
    for line, row in read_csv(directory / "estados.csv", ("codigo_uf", "uf", "nome")):
        code, uf = row["codigo_uf"].strip(), row["uf"].strip().upper()
        if len(code) != 2 or not code.isdigit() or len(uf) != 2 or not uf.isalpha():
            raise SeedError(f"estados.csv line {line}: bad state {row['codigo_uf']!r} {row['uf']!r}")
        if uf in codes or code in codes.values():
            raise SeedError(f"estados.csv line {line}: state {uf} ({code}) appears twice")
        codes[uf] = code
        states.append((uf, code, store_name(row["nome"])))

    municipalities, seen_codes, seen_names = [], set(), set()
    for line, row in read_csv(directory / "municipios.csv", ("codigo_ibge", "nome", "uf")):
        code, uf = row["codigo_ibge"].strip(), row["uf"].strip().upper()
        name = store_name(row["nome"])
        if len(code) != 7 or not code.isdigit():
            raise SeedError(f"municipios.csv line {line}: code {code!r} is not 7 digits")
        if uf not in codes:
            raise SeedError(f"municipios.csv line {line}: unknown state {uf!r}")
        if code[:2] != codes[uf]:
            raise SeedError(f"municipios.csv line {line}: code {code} does not begin with "
                            f"the code {codes[uf]} of {uf}")
        if not name:
            raise SeedError(f"municipios.csv line {line}: empty name")
        if code in seen_codes:
            raise SeedError(f"municipios.csv line {line}: code {code} appears twice")
        # The store finds a municipality by state and capitalised name: the pair must be unique.
        if (uf, name) in seen_names:
            raise SeedError(f"municipios.csv line {line}: {name}/{uf} appears twice")
        seen_codes.add(code)
        seen_names.add((uf, name))
        municipalities.append((int(code), uf, name, code[2:]))
    return states, municipalities


def literal(value, dialect):
    if isinstance(value, int):
        return str(value)
    quoted = "'" + value.replace("'", "''") + "'"
    # nvarchar columns in SQL Server need the N prefix, or accents go through the code page.
    return "N" + quoted if dialect == "sqlserver" else quoted


def inserts(table, columns, rows, dialect):
    for start in range(0, len(rows), ROWS_PER_INSERT):
        chunk = rows[start:start + ROWS_PER_INSERT]
        values = ",\n".join("  (" + ", ".join(literal(v, dialect) for v in row) + ")"
                            for row in chunk)
        yield f"insert into {table} ({', '.join(columns)}) values\n{values};\n"


def seed_sql(dialect, directory=HERE):
    if dialect not in DIALECTS:
        raise SeedError(f"unknown dialect {dialect!r}: use one of {', '.join(DIALECTS)}")
    states, municipalities = load(directory)
    parts = ["-- States and municipalities of Brazil, from schema/seed/ (see SOURCES.md there).\n"]
    if dialect == "sqlserver":
        parts.append("set nocount on;\n")
    parts += inserts("Estado", ("Estado", "CODIGO", "NOME"), states, dialect)
    parts += inserts("Municipio", ("IdMunicipio", "IDSIGLA", "NOME", "codmun"),
                     municipalities, dialect)
    return "".join(parts)


def main(argv):
    if len(argv) not in (2, 3) or argv[1] in ("-h", "--help"):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    try:
        text = seed_sql(argv[1])
    except SeedError as e:
        print(f"seed_sql: {e}", file=sys.stderr)
        return 1
    if len(argv) == 3:
        pathlib.Path(argv[2]).write_text(text, encoding="utf-8")
    else:
        sys.stdout.reconfigure(encoding="utf-8")
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
