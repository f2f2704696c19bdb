// The screenshots of the progress window: run it in a folder holding a copy
// of the delivered database (and no answer history); it answers the sample's
// cards for three weeks as a learner would, opens the window late on the
// evening of the last day and writes each page as a PNG into the folder given.
// --dark shows it under a dark palette, --suffix names the pictures of a
// run apart (QT_SCALE_FACTOR=2 for the scaled ones). Run it on a real X
// server so the style and fonts are those a user sees.
#include "answerhistory.h"
#include "answersim.h"
#include "log.h"
#include "nivletcore.h"
#include "progresswindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <QTextStream>

#include <sqlite3.h>

namespace {
const QTimeZone zone(QByteArrayLiteral("Europe/Berlin"));
const QDate lastDay(2026, 6, 30);

class EveningClock : public WallClock
{
public:
    QDateTime now() const override { return QDateTime(lastDay, QTime(22, 45), zone); }
};

QPalette darkPalette()
{
    QPalette dark;
    const QColor window(0x2b, 0x2b, 0x2b);
    const QColor base(0x1e, 0x1e, 0x1e);
    const QColor text(0xe8, 0xe8, 0xe8);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Mid, QColor(0x60, 0x60, 0x60));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0x8f, 0xd1));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x90, 0x90, 0x90));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x90, 0x90, 0x90));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x90, 0x90, 0x90));
    return dark;
}

bool writeAnswers()
{
    if (QFile::exists(QString::fromLatin1(AnswerHistory::fileName)))
        return true;
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open("nivlets", &db) == SQLITE_OK;
    std::string error;
    if (ok) {
        AnswerHistory history;
        ok = simulateAnswers(db, history, {420, 21, lastDay, zone, 7}, error);
    }
    sqlite3_close(db);
    if (!ok)
        QTextStream(stderr) << "could not write the answers: " << error.c_str() << '\n';
    return ok;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
    QString suffix;
    const qsizetype named = args.indexOf(QStringLiteral("--suffix"));
    if (named >= 0 && named + 1 < args.size()) {
        suffix = args.at(named + 1);
        args.remove(named, 2);
    }
    if (args.size() != 1) {
        QTextStream(stderr) << "usage: nivlets_progressshots [--dark] [--suffix S] FOLDER\n";
        return 2;
    }
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
    }
    const QDir out(args.first());
    openLog();
    bool ok = writeAnswers();
    if (ok) {
        EveningClock clock;
        NivletCore core;
        AnswerHistory history(&clock);
        ok = core.open();
        ProgressWindow window(nullptr, &core, &history, &clock);
        ok = ok && window.setupUi();
        if (ok) {
            window.show();
            ok = QTest::qWaitForWindowExposed(&window);
            auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("progressTabs"));
            const char *const pages[] = {"now", "days", "growth"};
            for (int page = 0; ok && page < 3; ++page) {
                tabs->setCurrentIndex(page);
                QTest::qWait(300);
                const QString file =
                    out.filePath(QStringLiteral("progress-%1%2.png")
                                     .arg(QString::fromLatin1(pages[page]), suffix));
                ok = window.grab().save(file);
                QTextStream(stdout) << (ok ? "wrote " : "could not write ") << file << '\n';
            }
        }
    }
    closeLog();
    return ok ? 0 : 1;
}
