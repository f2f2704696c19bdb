-- Sample content of the delivered database. The capitals book keeps every
-- possible answer to one word of 2 to 9 plain letters, so that a 10 x 10
-- crossword can be laid from it alone.

INSERT INTO book (id, name, active) VALUES (1, 'European capitals', 1);
INSERT INTO book (id, name, active) VALUES (2, 'English – German words', 1);
INSERT INTO book (id, name, active) VALUES (3, 'Chemical symbols', 0);

INSERT INTO nivlet (active, kn_rate, book_id, question, answer) VALUES
    (1, 0.75, 1, 'Capital of France?', 'Paris'),
    (1, 0.5, 1, 'Capital of Germany?', 'Berlin'),
    (1, 0.5, 1, 'Capital of Italy?', 'Rome'),
    (1, 0.0, 1, 'Capital of Spain?', 'Madrid'),
    (1, 0.0, 1, 'Capital of Portugal?', 'Lisbon'),
    (1, 0.0, 1, 'Capital of Austria?', 'Vienna'),
    (1, 0.0, 1, 'Capital of Hungary?', 'Budapest'),
    (1, 0.0, 1, 'Capital of Poland?', 'Warsaw'),
    (1, 0.0, 1, 'Capital of the Czech Republic?', 'Prague'),
    (1, 0.0, 1, 'Capital of Slovenia?', 'Ljubljana'),
    (1, 0.0, 1, 'Capital of Croatia?', 'Zagreb'),
    (1, 0.0, 1, 'Capital of Serbia?', 'Belgrade'),
    (1, 0.0, 1, 'Capital of Bosnia and Herzegovina?', 'Sarajevo'),
    (1, 0.0, 1, 'Capital of Montenegro?', 'Podgorica'),
    (1, 0.0, 1, 'Capital of Albania?', 'Tirana'),
    (1, 0.0, 1, 'Capital of North Macedonia?', 'Skopje'),
    (1, 0.5, 1, 'Capital of Greece?', 'Athens'),
    (1, 0.0, 1, 'Capital of Bulgaria?', 'Sofia'),
    (1, 0.0, 1, 'Capital of Romania?', 'Bucharest'),
    (1, 0.0, 1, 'Capital of Ukraine?', 'Kyiv' || char(10) || 'Kiev # the older English spelling'),
    (1, 0.0, 1, 'Capital of Belarus?', 'Minsk'),
    (1, 0.0, 1, 'Capital of Lithuania?', 'Vilnius'),
    (1, 0.0, 1, 'Capital of Latvia?', 'Riga'),
    (1, 0.0, 1, 'Capital of Estonia?', 'Tallinn'),
    (1, 0.0, 1, 'Capital of Finland?', 'Helsinki'),
    (1, 0.0, 1, 'Capital of Sweden?', 'Stockholm'),
    (1, 0.25, 1, 'Capital of Norway?', 'Oslo'),
    (1, 0.0, 1, 'Capital of Iceland?', 'Reykjavik'),
    (1, 0.0, 1, 'Capital of Ireland?', 'Dublin'),
    (1, 0.875, 1, 'Capital of the United Kingdom?', 'London'),
    (1, 0.0, 1, 'Capital of the Netherlands?', 'Amsterdam # The Hague is the seat of government'),
    (1, 0.0, 1, 'Capital of Belgium?', 'Brussels'),
    (1, 0.0, 1, 'Capital of Switzerland?', 'Bern' || char(10) || 'Berne # the French spelling'),
    (1, 0.0, 1, 'Capital of Liechtenstein?', 'Vaduz'),
    (1, 0.0, 1, 'Capital of Monaco?', 'Monaco # a city-state'),
    (1, 0.0, 1, 'Capital of Malta?', 'Valletta'),
    (1, 0.0, 1, 'Capital of Cyprus?', 'Nicosia'),
    (1, 0.0, 1, 'Capital of Russia?', 'Moscow'),
    (1, 0.0, 1, 'Capital of Turkey?', 'Ankara # not Istanbul, the largest city'),
    (1, 0.0, 1, 'Capital of Georgia, the country in the Caucasus?', 'Tbilisi');

INSERT INTO nivlet (active, kn_rate, book_id, question, answer) VALUES
    (1, 0.5, 2, 'German for "house"?', 'Haus # das Haus'),
    (1, 0.0, 2, 'German for "dog"?', 'Hund'),
    (1, 0.0, 2, 'German for "cat"?', 'Katze'),
    (1, 0.0, 2, 'German for "car"?', 'Auto' || char(10) || 'Wagen'),
    (1, 0.0, 2, 'German for "street"?', 'Straße' || char(10) || 'Strasse # the spelling in Switzerland'),
    (1, 0.0, 2, 'German for "door"?', 'Tür' || char(10) || 'Tuer # when no umlaut can be typed'),
    (1, 0.75, 2, 'German for "book"?', 'Buch'),
    (1, 0.0, 2, 'German for "water"?', 'Wasser'),
    (1, 0.0, 2, 'German for "bread"?', 'Brot'),
    (1, 0.0, 2, 'German for "tree"?', 'Baum'),
    (1, 0.5, 2, 'German for "apple"?', 'Apfel'),
    (1, 0.0, 2, 'German for "thank you"?', 'danke' || char(10) || 'danke schön' || char(10) || 'danke schoen'),
    (1, 0.0, 2, 'German for "good morning"?', 'guten Morgen'),
    (1, 0.0, 2, 'German for "the girl"?', 'das Mädchen # neuter, although it means a girl'),
    (1, 0.0, 2, 'German for "friend" (a man)?', 'Freund # a woman friend is eine Freundin'),
    (0, 0.0, 2, 'German for "the day after tomorrow"?', 'übermorgen');

INSERT INTO nivlet (active, kn_rate, book_id, question, answer) VALUES
    (1, 0.0, 3, 'Chemical symbol of gold?', 'Au'),
    (1, 0.0, 3, 'Chemical symbol of iron?', 'Fe'),
    (1, 0.5, 3, 'Chemical symbol of sodium?', 'Na'),
    (1, 0.0, 3, 'Chemical symbol of potassium?', 'K'),
    (1, 0.0, 3, 'Chemical symbol of silver?', 'Ag');
