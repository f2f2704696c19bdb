// nivlets_gendb [--answers A [--days D] [--last DATE]] OUTPUT N B SEED [SCHEMA]:
// writes a database of the delivered schema, or of the schema file given for
// a trial, with N nivlets in B books, the same file for the same arguments;
// with --answers also the answer history OUTPUT-history of a learner who
// answered them A times over the D days up to DATE.

#include "answerhistory.h"
#include "answersim.h"
#include "schemasql.h"
#include "sqlstatement.h"

#include <QDate>
#include <QFile>
#include <QTimeZone>

#include <sqlite3.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Roughly in order of frequency, so that the rank-weighted choice below gives
// the uneven spread of first letters and prefixes that real questions have.
const char *const words[] = {
    "the",       "of",         "and",        "to",       "in",        "is",         "what",
    "which",     "how",        "for",        "that",     "on",        "with",       "as",
    "was",       "by",         "at",         "from",     "word",      "name",       "called",
    "first",     "city",       "capital",    "country",  "year",      "river",      "people",
    "time",      "world",      "water",      "number",   "part",      "place",      "plant",
    "animal",    "large",      "small",      "old",      "new",       "long",       "great",
    "little",    "own",        "other",      "right",    "big",       "high",       "different",
    "following", "means",      "mean",       "meaning",  "language",  "english",    "french",
    "german",    "spanish",    "latin",      "greek",    "translate", "verb",       "noun",
    "plural",    "past",       "tense",      "form",     "opposite",  "synonym",    "spell",
    "letter",    "sound",      "colour",     "red",      "blue",      "green",      "yellow",
    "black",     "white",      "house",      "home",     "school",    "book",       "story",
    "history",   "king",       "queen",      "war",      "battle",    "empire",     "ancient",
    "modern",    "century",    "born",       "died",     "wrote",     "painted",    "built",
    "found",     "discovered", "invented",   "element",  "chemical",  "symbol",     "atomic",
    "planet",    "star",       "moon",       "sun",      "earth",     "mountain",   "lake",
    "sea",       "ocean",      "island",     "desert",   "forest",    "tree",       "flower",
    "fruit",     "food",       "bird",       "fish",     "dog",       "cat",        "horse",
    "body",      "bone",       "blood",      "heart",    "brain",     "muscle",     "cell",
    "organ",     "disease",    "medicine",   "doctor",   "law",       "rule",       "government",
    "president", "minister",   "parliament", "election", "money",     "price",      "bank",
    "market",    "trade",      "company",    "music",    "song",      "composer",   "instrument",
    "painting",  "artist",     "film",       "actor",    "author",    "poem",       "novel",
    "character", "play",       "game",       "sport",    "team",      "ball",       "player",
    "olympic",   "record",     "speed",      "light",    "heat",      "energy",     "force",
    "mass",      "weight",     "length",     "unit",     "measure",   "metre",      "gram",
    "litre",     "second",     "hour",       "day",      "week",      "month",      "season",
    "winter",    "summer",     "spring",     "autumn",   "north",     "south",      "east",
    "west",      "border",     "between",    "under",    "over",      "after",      "before",
    "during",    "without",    "against",    "about",    "around",    "through",    "into",
    "ship",      "train",      "car",        "road",     "bridge",    "tower",      "church",
    "temple",    "castle",     "palace",     "museum",   "library",   "university", "student",
    "teacher",   "lesson",     "exam",       "answer",   "question",  "problem",    "solution",
    "equation",  "formula",    "square",     "circle",   "triangle",  "angle",      "line",
    "point",     "area",       "volume",     "sum",      "product",   "prime",      "divide",
    "multiply",  "zero",       "one",        "two",      "three",     "four",       "five",
    "six",       "seven",      "eight",      "nine",     "ten",       "hundred",    "thousand",
    "million",   "quick",      "slow",       "hot",      "cold",      "dry",        "wet",
    "hard",      "soft",       "heavy",      "empty",    "full",      "dark",       "bright",
    "deep",      "wide",       "narrow",     "young",    "strong",    "weak",       "rich",
    "poor",      "happy",      "angry",      "afraid",   "brave",     "clever",     "famous",
    "known",     "usually",    "often",      "never",    "always",    "sometimes",  "where",
    "when",      "who",        "why",        "whose",    "give",      "take",       "make",
    "keep",      "bring",      "carry",      "write",    "read",      "speak",      "listen",
    "learn",     "teach",      "think",      "know",     "believe",   "remember",   "forget",
    "begin",     "end",        "open",       "close",    "win",       "lose",       "grow",
    "fall",      "rise",       "run",        "walk",     "swim",      "fly",        "drive",
    "ride",      "eat",        "drink",      "sleep",    "wake",      "sing",       "dance",
    "jump",      "climb",      "throw",      "catch",    "cut",       "break",      "vowel",
    "consonant", "syllable",   "accent",     "grammar",  "sentence",  "phrase",     "idiom",
    "proverb",   "saying",     "quote",      "zodiac",   "yacht",     "xylophone",  "zebra",
    "volcano",   "glacier",    "canyon",     "valley",   "harbour",   "jungle",     "kingdom",
    "knight",    "journey",    "justice",    "oxygen",   "hydrogen",  "carbon",     "iron",
    "gold",      "silver",     "copper",     "uranium",  "quartz",    "quantum",    "velocity",
};
const int wordCount = sizeof(words) / sizeof(words[0]);

// Word ranks weighted 1/(rank+1)^0.8: a Zipf-like spread over the list.
class WordPicker
{
public:
    WordPicker()
    {
        double total = 0.0;
        for (int i = 0; i < wordCount; ++i) {
            total += 1.0 / std::pow(i + 1.0, 0.8);
            cumulative.push_back(total);
        }
        for (double &c : cumulative)
            c /= total;
    }

    const char *pick(Random &random) const
    {
        const double u = random.unit();
        int low = 0;
        int high = wordCount - 1;
        while (low < high) {
            const int mid = (low + high) / 2;
            if (cumulative[mid] < u)
                low = mid + 1;
            else
                high = mid;
        }
        return words[low];
    }

private:
    std::vector<double> cumulative;
};

std::string question(Random &random, const WordPicker &picker)
{
    const int target = random.range(20, 120);
    std::string text;
    for (;;) {
        const char *word = picker.pick(random);
        const std::size_t extra = std::strlen(word) + (text.empty() ? 0 : 1);
        // One character is kept for the question mark.
        if (text.size() + extra + 1 > static_cast<std::size_t>(target) && text.size() + 1 >= 20)
            break;
        if (text.size() + extra + 1 > 120)
            break;
        if (!text.empty())
            text += ' ';
        text += word;
    }
    while (text.size() + 1 < 20)
        text += text.empty() ? "x" : " x";
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    text += '?';
    return text;
}

// One possible answer of 3 to 15 characters: words where they fit, letters
// for the rest.
std::string answerLine(Random &random, const WordPicker &picker)
{
    const std::size_t target = static_cast<std::size_t>(random.range(3, 15));
    std::string line;
    while (line.size() < target) {
        const char *word = picker.pick(random);
        const std::size_t extra = std::strlen(word) + (line.empty() ? 0 : 1);
        if (line.size() + extra > target)
            break;
        if (!line.empty())
            line += ' ';
        line += word;
    }
    if (!line.empty() && line.size() + 2 <= target)
        line += ' ';
    while (line.size() < target)
        line += static_cast<char>('a' + random.range(0, 25));
    return line;
}

std::string answer(Random &random, const WordPicker &picker)
{
    const int lines = random.range(1, 3);
    std::string text;
    for (int i = 0; i < lines; ++i) {
        if (i > 0)
            text += '\n';
        text += answerLine(random, picker);
        if (random.chance(0.1)) {
            text += " # ";
            text += picker.pick(random);
        }
    }
    return text;
}

bool readFile(const char *path, std::string &text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "nivlets_gendb: %s\n", error ? error : sqlite3_errmsg(db));
    sqlite3_free(error);
    return false;
}

bool stepDone(SqlStatement &stmt)
{
    const bool done = stmt.execute();
    if (!done)
        std::fprintf(stderr, "nivlets_gendb: %s\n", stmt.errorMessage().toUtf8().constData());
    stmt.reset();
    return done;
}

bool parseCount(const char *text, long long &value)
{
    errno = 0;
    char *end = nullptr;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

bool generate(sqlite3 *db, long long nivlets, long long bookCount, std::uint64_t seed)
{
    Random random(seed);
    const WordPicker picker;

    SqlStatement addBook(db, "INSERT INTO book (id, name, active) VALUES (?, ?, ?)");
    SqlStatement addNivlet(db, "INSERT INTO nivlet (id, active, kn_rate, book_id, question, "
                               "answer) VALUES (?, ?, ?, ?, ?, ?)");
    for (const SqlStatement *stmt : {&addBook, &addNivlet}) {
        if (!*stmt) {
            std::fprintf(stderr, "nivlets_gendb: %s\n", stmt->errorMessage().toUtf8().constData());
            return false;
        }
    }

    bool ok = true;
    for (long long b = 1; ok && b <= bookCount; ++b) {
        const std::string name = std::string("Book ") + std::to_string(b) + " " +
                                 picker.pick(random) + " " + picker.pick(random);
        addBook.bindInt64(1, b);
        addBook.bindText(2, name.c_str());
        addBook.bindInt(3, random.chance(0.1) ? 0 : 1);
        ok = stepDone(addBook);
    }
    for (long long n = 1; ok && n <= nivlets; ++n) {
        const std::string q = question(random, picker);
        const std::string a = answer(random, picker);
        addNivlet.bindInt64(1, n);
        addNivlet.bindInt(2, random.chance(0.1) ? 0 : 1);
        addNivlet.bindDouble(3, random.unit());
        addNivlet.bindInt64(4, 1 + static_cast<long long>(random.next() % bookCount));
        addNivlet.bindText(5, q.c_str(), static_cast<int>(q.size()));
        addNivlet.bindText(6, a.c_str(), static_cast<int>(a.size()));
        ok = stepDone(addNivlet);
    }
    return ok;
}

// The options before the positional arguments: --answers A, --days D, --last
// DATE. Gives the index of the first positional argument, or -1.
int parseOptions(int argc, char **argv, long long &answers, long long &days, QDate &last)
{
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        const std::string option = argv[i];
        if (option == "--answers" && parseCount(argv[i + 1], answers))
            continue;
        if (option == "--days" && parseCount(argv[i + 1], days) && days > 0)
            continue;
        if (option == "--last") {
            last = QDate::fromString(QString::fromLatin1(argv[i + 1]), Qt::ISODate);
            if (last.isValid())
                continue;
        }
        return -1;
    }
    return i;
}

bool writeHistory(sqlite3 *db, const std::string &file, long long answers, long long days,
                  const QDate &last, std::uint64_t seed)
{
    AnswerHistory history(WallClock::system(), nullptr, QString::fromStdString(file));
    const AnswerPlan plan{answers, static_cast<int>(days), last,
                          QTimeZone(QByteArrayLiteral("Europe/Berlin")), seed};
    std::string error;
    if (simulateAnswers(db, history, plan, error))
        return true;
    std::fprintf(stderr, "nivlets_gendb: %s\n", error.c_str());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    long long answers = 0;
    long long days = 365;
    QDate last(2026, 6, 30);
    const int first = parseOptions(argc, argv, answers, days, last);
    const int positional = first < 0 ? 0 : argc - first;
    long long nivlets = 0;
    long long books = 0;
    long long seed = 0;
    if ((positional != 4 && positional != 5) || !parseCount(argv[first + 1], nivlets) ||
        !parseCount(argv[first + 2], books) || !parseCount(argv[first + 3], seed) ||
        (books == 0 && nivlets > 0)) {
        std::fprintf(stderr,
                     "usage: nivlets_gendb [--answers A [--days D] [--last YYYY-MM-DD]] OUTPUT N "
                     "B SEED [SCHEMA]\n"
                     "  N nivlets in B books (B >= 1 when N > 0); the same arguments give the "
                     "same file\n"
                     "  --answers: also OUTPUT-history, A answers over the D days (365) up to\n"
                     "  the date (2026-06-30), and the nivlets' rates where they left them\n");
        return 2;
    }
    std::string schema = Schema::sql;
    if (positional == 5 && !readFile(argv[first + 4], schema)) {
        std::fprintf(stderr, "nivlets_gendb: cannot read %s\n", argv[first + 4]);
        return 1;
    }

    // Built beside the target and renamed at the end, so that an interrupted
    // run never leaves a half-written file under the final name. A history
    // left from an earlier run would not belong to the new file.
    const std::string output = argv[first];
    const std::string partial = output + ".partial";
    const std::string history = output + "-history";
    const std::string historyPartial = history + ".partial";
    for (const std::string &stale :
         {partial, partial + "-journal", history, historyPartial, historyPartial + "-journal"})
        std::remove(stale.c_str());

    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(partial.c_str(), &db) == SQLITE_OK;
    if (!ok)
        std::fprintf(stderr, "nivlets_gendb: %s\n", db ? sqlite3_errmsg(db) : "out of memory");
    // A half-built file is thrown away, so it needs no crash safety while it
    // is written; the finished file keeps SQLite's default journal mode.
    ok = ok && exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
                        "PRAGMA cache_size = -1048576; BEGIN");
    ok = ok && exec(db, schema.c_str());
    ok = ok && generate(db, nivlets, books, static_cast<std::uint64_t>(seed));
    ok = ok && (answers == 0 || writeHistory(db, historyPartial, answers, days, last,
                                             static_cast<std::uint64_t>(seed)));
    ok = ok && exec(db, "COMMIT");
    if (db && sqlite3_close(db) != SQLITE_OK) {
        std::fprintf(stderr, "nivlets_gendb: %s\n", sqlite3_errmsg(db));
        ok = false;
    }
    if (ok && std::rename(partial.c_str(), output.c_str()) != 0) {
        std::perror("nivlets_gendb: rename");
        ok = false;
    }
    if (ok && answers > 0 && std::rename(historyPartial.c_str(), history.c_str()) != 0) {
        std::perror("nivlets_gendb: rename");
        ok = false;
    }
    if (!ok) {
        std::remove(partial.c_str());
        std::remove(historyPartial.c_str());
        return 1;
    }
    return 0;
}
