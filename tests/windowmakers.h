#ifndef WINDOWMAKERS_H
#define WINDOWMAKERS_H

#include "testsupport.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class NivletCore;
struct CWPuzzle;
struct Nivlet;

// What a window is built over: a copy of the delivered sample database in a
// working directory of its own and a store on it. It keeps whatever else a
// window needs alive (a puzzle, records) for as long as it lives, so the
// window it made must go first.
class WindowFixture
{
public:
    WindowFixture();
    ~WindowFixture();

    bool isValid() const { return valid; }
    NivletCore *core() const { return store.get(); }
    // A record of the nivlet with that question, read for the fixture and
    // kept by it.
    std::shared_ptr<Nivlet> nivlet(const QString &question);
    // The same 12 x 12 puzzle each time, laid out of the sample's capitals.
    CWPuzzle *puzzle();

private:
    TestSupport::WorkDir work;
    bool valid = false;
    std::unique_ptr<NivletCore> store;
    std::unique_ptr<CWPuzzle> crossword;
    std::vector<std::shared_ptr<Nivlet>> records;
};

// One window of the program in a state a user meets it in, built but not yet
// shown. Every check of tst_windows runs over all of them: a new window is
// covered by a line in windowMakers().
struct WindowMaker
{
    QString name;
    std::function<std::unique_ptr<QWidget>(WindowFixture &)> make;
    // Escape ends the window as its Cancel or Close button would; false for
    // the main window, which is no dialog, and for the backup's progress,
    // which takes no input while it waits.
    bool escapeCloses = true;
};

const QList<WindowMaker> &windowMakers();

#endif
