-- The nivlets database. The program never creates tables: this file and the
-- sample content are built into the delivered "nivlets" file.
CREATE TABLE book (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL DEFAULT '',
    active INTEGER NOT NULL DEFAULT 1
);

CREATE TABLE nivlet (
    id INTEGER PRIMARY KEY,
    active INTEGER NOT NULL DEFAULT 1,
    kn_rate REAL NOT NULL DEFAULT 0.0,
    book_id INTEGER NOT NULL,
    question TEXT NOT NULL DEFAULT '',
    answer TEXT NOT NULL DEFAULT ''
);

-- The indexes were chosen by measurement (docs/performance.md). There are
-- deliberately no ANALYZE statistics: without them the planner picks the plans
-- shown there for files of every size.

-- Counting a book's nivlets (the index alone answers it), deleting them, and a
-- search within one book in rate order.
CREATE INDEX nivlet_book_rate ON nivlet (book_id, kn_rate);
-- Every listing is in ascending rate order. Holding every column the store
-- reads, it lets the active list and an empty search be read in rate order
-- without one table lookup per row, which dominated the load of a large file.
CREATE INDEX nivlet_rate ON nivlet (kn_rate, active, book_id, question, answer);
-- The question prefix search: LIKE ignores ASCII case, so the index must too,
-- or SQLite cannot turn the prefix into a range. The further columns let the
-- matches be sorted by rate without a table lookup each.
CREATE INDEX nivlet_question ON nivlet (question COLLATE NOCASE, kn_rate, active, book_id, answer);
-- A prefix search within one book: the range on the question follows the
-- book, so the cost follows the book's matches, not the book's size.
CREATE INDEX nivlet_book_question ON nivlet (book_id, question COLLATE NOCASE);

CREATE TABLE options (
    auto_ch INTEGER NOT NULL DEFAULT 0,
    auto_ch_interval INTEGER NOT NULL DEFAULT 900,
    puzzle_affects_rates INTEGER NOT NULL DEFAULT 1
);

INSERT INTO options (auto_ch, auto_ch_interval, puzzle_affects_rates) VALUES (0, 900, 1);
