#!/usr/bin/python3
"""Cards between nivlets and Mnemosyne 2.9, both ways, with Mnemosyne's own
code run headless: its "Tab-separated text files" import reads what
"nivlets-cards export --format mnemosyne" writes, and "nivlets-cards import"
reads what its export writes.

Usage: tst_mnemosyne.py NIVLETS_CARDS SCHEMA_SQL

Exits 77 (skipped) when Mnemosyne's Python module is missing on a developer's
machine; under the test command, which installs it, that is a failure.
"""

import os
import sqlite3
import subprocess
import sys
import tempfile
import warnings

SKIPPED = 77

# Line ends of every kind, tabs, quotes where a CSV reader would take them
# for quoting, comments, and text beyond ASCII.
NIVLETS = [
    ('"Carpe diem" means', "seize the day\npluck the day"),
    ("tab\tin the question", "an answer\twith a tab"),
    ("Windows\r\nline ends\r\n", "one\r\ntwo\rthree"),
    ("Ελληνικά: λόγος", "word # a comment\nspeech"),
    ("שלום עולם", "مرحبا"),
    ("emoji 😀 👍🏽", "🎉"),
    ("ampersand & &#33; &#x263A; < > &amp;", 'x < y, "quoted", \'single\''),
    ("#hash first", '"'),
]

# As Mnemosyne's users type them into its card editor.
MNEMOSYNE = [
    ('"Veni, vidi, vici" was said by', "Caesar\nJulius Caesar"),
    ("Tab\tinside", "a\tb"),
    ("Straße", "street\nroad"),
    ("日本語", "にほんご"),
    ("She said \"no\"", "«non»"),
]


def fail(text):
    print("FAIL: " + text, file=sys.stderr)
    sys.exit(1)


def check(what, got, expected):
    if got != expected:
        fail("%s:\n  got      %r\n  expected %r" % (what, got, expected))


def in_mnemosyne(text):
    """The text as Mnemosyne keeps it after a tab-separated file: its export
    writes a tab as a space, and a line end is "<br>"."""
    return (text.replace("\r\n", "<br>").replace("\r", "<br>").replace("\n", "<br>")
            .replace("\t", " "))


def back_in_nivlets(text):
    """The text as nivlets gets it back from Mnemosyne: one line end, the
    tabs spaces."""
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\t", " ")


def run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        fail("%s: exit code %d\n%s%s" % (" ".join(args), done.returncode, done.stdout,
                                            done.stderr))
    return done


def new_database(folder, schema):
    os.makedirs(folder)
    db = sqlite3.connect(os.path.join(folder, "nivlets"))
    with open(schema, encoding="utf-8") as f:
        db.executescript(f.read())
    return db


def nivlets_of(folder, book):
    db = sqlite3.connect(os.path.join(folder, "nivlets"))
    rows = db.execute("SELECT m.question, m.answer FROM nivlet m, book b "
                      "WHERE b.id = m.book_id AND b.name = ? ORDER BY m.id", (book,)).fetchall()
    db.close()
    return rows


class Mnemosyne:
    """One Mnemosyne with a data folder of its own, as its scripts run it."""

    def __init__(self, script, data_dir):
        self.app = script(data_dir)
        self.errors = []
        self.app.main_widget().show_error = self.errors.append
        self.tsv = next(f for f in self.app.component_manager.all("file_format")
                        if f.__class__.__name__ == "Tsv")

    def import_file(self, path):
        self.tsv.do_import(path)
        if self.errors:
            fail("Mnemosyne's import of %s: %s" % (path, self.errors))

    def export_file(self, path):
        self.tsv.do_export(path)

    def add(self, question, answer):
        front_to_back = self.app.card_type_with_id("1")
        self.app.controller().create_new_cards({"f": question, "b": answer}, front_to_back,
                                               grade=-1, tag_names=[], check_for_duplicates=False)

    def facts(self):
        db = self.app.database()
        return [(db.card(card, is_id_internal=True).fact.data["f"],
                 db.card(card, is_id_internal=True).fact.data["b"])
                for card, _fact in db.active_cards()]

    def close(self):
        self.app.finalise()


def main():
    cards, schema = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as temp:
        # Mnemosyne finds its configuration through these; none of the user's.
        for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"),
                          ("XDG_DATA_HOME", "data"), ("XDG_CACHE_HOME", "cache")):
            os.environ[name] = os.path.join(temp, sub)
            os.makedirs(os.environ[name])
        warnings.simplefilter("ignore")
        try:
            from mnemosyne.script import Mnemosyne as Script
        except ImportError as error:
            test_command = os.environ.get("NIVLETS_TEST_DISPLAY")
            if test_command and test_command == os.environ.get("DISPLAY"):
                fail("the test command installs mnemosyne, yet its module is missing: %s" % error)
            print("SKIP: Mnemosyne's Python module is missing (%s); "
                  "apt-get install mnemosyne to run this test" % error)
            return SKIPPED

        # nivlets to Mnemosyne: one book of the file, and only it.
        source = os.path.join(temp, "source")
        db = new_database(source, schema)
        db.execute("INSERT INTO book (id, name) VALUES (1, 'Out'), (2, 'Stays')")
        db.executemany("INSERT INTO nivlet (book_id, question, answer) VALUES (1, ?, ?)", NIVLETS)
        db.execute("INSERT INTO nivlet (book_id, question, answer) VALUES (2, 'other', 'x')")
        db.commit()
        db.close()
        to_mnemosyne = os.path.join(temp, "to-mnemosyne.txt")
        run([cards, "--dir", source, "export", "--format", "mnemosyne", "--book", "Out",
             to_mnemosyne])
        first = Mnemosyne(Script, os.path.join(temp, "mnemosyne-1"))
        first.import_file(to_mnemosyne)
        check("Mnemosyne's cards of the nivlets export", sorted(first.facts()),
              sorted((in_mnemosyne(q), in_mnemosyne(a)) for q, a in NIVLETS))

        # ... and back: Mnemosyne's export of them gives every nivlet again.
        round_trip = os.path.join(temp, "round-trip.txt")
        first.export_file(round_trip)
        first.close()
        copy = os.path.join(temp, "copy")
        new_database(copy, schema).close()
        run([cards, "--dir", copy, "import", "--format", "mnemosyne", "--book", "Back",
             round_trip])
        check("nivlets through Mnemosyne and back", sorted(nivlets_of(copy, "Back")),
              sorted((back_in_nivlets(q), back_in_nivlets(a)) for q, a in NIVLETS))

        # Mnemosyne to nivlets: cards made in Mnemosyne.
        second = Mnemosyne(Script, os.path.join(temp, "mnemosyne-2"))
        for question, answer in MNEMOSYNE:
            second.add(question, answer)
        from_mnemosyne = os.path.join(temp, "from-mnemosyne.txt")
        second.export_file(from_mnemosyne)
        second.close()
        target = os.path.join(temp, "target")
        new_database(target, schema).close()
        run([cards, "--dir", target, "import", "--format", "mnemosyne", "--book", "In",
             from_mnemosyne])
        check("Mnemosyne's cards in nivlets", sorted(nivlets_of(target, "In")),
              sorted((back_in_nivlets(q), back_in_nivlets(a)) for q, a in MNEMOSYNE))

        # Read as any table, the file imports too: a question that begins
        # with a quote is text; only Mnemosyne's "<br>" stays as it is.
        run([cards, "--dir", target, "import", "--book", "Table", from_mnemosyne])
        check("Mnemosyne's export read as a table", sorted(nivlets_of(target, "Table")),
              sorted((in_mnemosyne(q), in_mnemosyne(a)) for q, a in MNEMOSYNE))
    print("PASS: %d nivlets to Mnemosyne and back, %d Mnemosyne cards to nivlets"
          % (len(NIVLETS), len(MNEMOSYNE)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
