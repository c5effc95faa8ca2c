"""Checks of the seed generator: the store's spelling of names and codes, and the refusal of bad
rows. Run from this directory: python3 -m unittest seed_sql_test"""
import pathlib
import tempfile
import unittest

import seed_sql

STATES = "codigo_uf,uf,nome\n35,SP,São Paulo\n53,DF,Distrito Federal\n11,RO,Rondônia\n"
MUNICIPALITIES = ("codigo_ibge,nome,uf\n3550308,São Paulo,SP\n5300108,Brasília,DF\n"
                  "1100015,Alta Floresta D'Oeste,RO\n")


def seed_dir(states=STATES, municipalities=MUNICIPALITIES):
    d = tempfile.TemporaryDirectory()
    path = pathlib.Path(d.name)
    (path / "estados.csv").write_text(states, encoding="utf-8")
    (path / "municipios.csv").write_text(municipalities, encoding="utf-8")
    return d


class StoreSpelling(unittest.TestCase):
    def test_names_in_capitals_with_accents_and_codes_split(self):
        with seed_dir() as d:
            states, municipalities = seed_sql.load(pathlib.Path(d))
        self.assertIn(("SP", "35", "SÃO PAULO"), states)
        self.assertIn(("RO", "11", "RONDÔNIA"), states)
        self.assertIn((3550308, "SP", "SÃO PAULO", "50308"), municipalities)
        self.assertIn((5300108, "DF", "BRASÍLIA", "00108"), municipalities)
        self.assertIn((1100015, "RO", "ALTA FLORESTA D'OESTE", "00015"), municipalities)

    def test_literals_per_dialect(self):
        cases = [("postgresql", "(1100015, 'RO', 'ALTA FLORESTA D''OESTE', '00015')"),
                 ("sqlite", "(3550308, 'SP', 'SÃO PAULO', '50308')"),
                 ("sqlserver", "(3550308, N'SP', N'SÃO PAULO', N'50308')")]
        for dialect, row in cases:
            with self.subTest(dialect), seed_dir() as d:
                self.assertIn(row, seed_sql.seed_sql(dialect, pathlib.Path(d)))

    def test_a_byte_order_mark_in_the_csv_is_not_part_of_the_first_column(self):
        with seed_dir(states="\ufeff" + STATES) as d:
            states, _ = seed_sql.load(pathlib.Path(d))
        self.assertEqual(len(states), 3)

    def test_long_lists_are_split_into_inserts_sql_server_accepts(self):
        # SQL Server refuses more than 1000 rows in one VALUES list.
        rows = "".join(f"35{i:05d},Cidade {i},SP\n" for i in range(1, 1201))
        with seed_dir(municipalities="codigo_ibge,nome,uf\n" + rows) as d:
            text = seed_sql.seed_sql("sqlserver", pathlib.Path(d))
        inserts = text.split("insert into Municipio")[1:]
        self.assertEqual(len(inserts), 3)
        for insert in inserts:
            self.assertLessEqual(insert.count("\n  ("), 1000)


class BadRows(unittest.TestCase):
    def test_each_fault_is_refused_with_its_line(self):
        header = "codigo_ibge,nome,uf\n"
        cases = [
            ("six-digit code", STATES, header + "355030,São Paulo,SP\n", "line 2: code '355030' is not 7 digits"),
            ("unknown state", STATES, header + "3550308,São Paulo,XX\n", "line 2: unknown state 'XX'"),
            ("code of another state", STATES, header + "3350308,São Paulo,SP\n",
             "line 2: code 3350308 does not begin with the code 35 of SP"),
            ("code twice", STATES, header + "3550308,São Paulo,SP\n3550308,Santos,SP\n",
             "line 3: code 3550308 appears twice"),
            ("name twice in a state, by capitals", STATES, header + "3550308,São Paulo,SP\n3550309,SÃO PAULO,SP\n",
             "line 3: SÃO PAULO/SP appears twice"),
            ("name outside code page 1252", STATES, header + "3550308,Cidade Ł,SP\n", "outside code page 1252"),
            ("empty name", STATES, header + "3550308, ,SP\n", "line 2: empty name"),
            ("columns", STATES, "codigo,nome,uf\n", "municipios.csv: expected the columns codigo_ibge,nome,uf"),
            ("state code", "codigo_uf,uf,nome\n3,SP,São Paulo\n", MUNICIPALITIES, "estados.csv line 2: bad state"),
            ("state twice", STATES + "35,SP,São Paulo\n", MUNICIPALITIES, "estados.csv line 5: state SP (35) appears twice"),
        ]
        for name, states, municipalities, message in cases:
            with self.subTest(name), seed_dir(states, municipalities) as d:
                with self.assertRaises(seed_sql.SeedError) as caught:
                    seed_sql.load(pathlib.Path(d))
                self.assertIn(message, str(caught.exception))

    def test_a_missing_file_is_named(self):
        with tempfile.TemporaryDirectory() as d:
            with self.assertRaises(seed_sql.SeedError) as caught:
                seed_sql.load(pathlib.Path(d))
            self.assertIn("estados.csv", str(caught.exception))


class ShippedData(unittest.TestCase):
    def test_the_shipped_files_load(self):
        states, municipalities = seed_sql.load()
        self.assertEqual(len(states), 27)
        self.assertEqual(len(municipalities), 5571)


if __name__ == "__main__":
    unittest.main()
