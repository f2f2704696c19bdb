#ifndef ANSWERSIM_H
#define ANSWERSIM_H

#include "answerhistory.h"

#include <QDate>
#include <QTimeZone>

#include <sqlite3.h>

#include <cstdint>
#include <string>

// splitmix64: fixed arithmetic, so the same seed gives the same file with any
// compiler and standard library.
struct Random
{
    explicit Random(std::uint64_t seed) : state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

    int range(int low, int high) { return low + static_cast<int>(next() % (high - low + 1)); }

    bool chance(double p) { return unit() < p; }

    std::uint64_t state;
};

// A learner's days: about `answers` answers over the `days` days up to and
// including lastDay, on most days and at the waking hours of the zone.
struct AnswerPlan
{
    qint64 answers;
    int days;
    QDate lastDay;
    QTimeZone zone;
    std::uint64_t seed;
};

// Answers the active nivlets of the card file as such a learner would, the
// same answers for the same plan: sessions of challenges, series of
// automatic ones and crossword checks, each nivlet drawn as the program
// draws it (the least known most often) and answered right the more often
// the better it is known. Records every answer in the history and leaves each
// nivlet's rate in the card file where its last answer left it. False with
// the reason in error.
bool simulateAnswers(sqlite3 *cards, AnswerHistory &history, const AnswerPlan &plan,
                     std::string &error);

#endif
