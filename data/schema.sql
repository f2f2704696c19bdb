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

-- Counting and deleting a book's nivlets, and a search within one book in rate order.
CREATE INDEX nivlet_book_rate ON nivlet (book_id, kn_rate);
-- Every listing is in ascending rate order.
CREATE INDEX nivlet_rate ON nivlet (kn_rate);
-- The question prefix search: LIKE ignores ASCII case, so the index must too.
CREATE INDEX nivlet_question ON nivlet (question COLLATE NOCASE);

CREATE TABLE options (
    auto_ch INTEGER NOT NULL DEFAULT 0,
    auto_ch_interval INTEGER NOT NULL DEFAULT 900,
    puzzle_affects_rates INTEGER NOT NULL DEFAULT 1
);

INSERT INTO options (auto_ch, auto_ch_interval, puzzle_affects_rates) VALUES (0, 900, 1);
