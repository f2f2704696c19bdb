// A developer's way to look at the dialogs of the main window's commands:
// each is built over the "nivlets" file of the working directory, shown, and
// written as a PNG into the folder given as the argument (docs/screenshots
// in the source tree). Run it on a real X server so the desktop style and
// fonts are those a user sees.
#include "aboutdialog.h"
#include "booksdialog.h"
#include "editbookdialog.h"
#include "log.h"
#include "nivletcore.h"
#include "nivlettableview.h"
#include "optionsdialog.h"

#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QTest>
#include <QTextStream>

namespace {
bool shoot(QWidget *window, const QString &file)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    // Let the layouts settle and the first paint happen.
    QTest::qWait(200);
    const bool saved = window->grab().save(file);
    QTextStream(stdout) << (saved ? "wrote " : "could not write ") << file << '\n';
    window->hide();
    return saved;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: nivlets_dialogshots OUTPUT-FOLDER\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    openLog();
    bool ok = true;
    {
        NivletCore core;
        if (!core.open()) {
            ok = false;
        } else {
            BooksDialog books(nullptr, &core);
            books.setupUi();
            books.findChild<NivletTableView *>()->selectRow(0);
            ok = shoot(&books, out.filePath(QStringLiteral("books.png"))) && ok;

            EditBookDialog editor(nullptr, &core, core.bookCount() > 0 ? core.book(0) : nullptr);
            ok = shoot(&editor, out.filePath(QStringLiteral("book-editor.png"))) && ok;

            OptionsDialog options(nullptr, &core);
            ok = options.loadOptions() &&
                 shoot(&options, out.filePath(QStringLiteral("options.png"))) && ok;

            AboutDialog about(nullptr);
            ok = shoot(&about, out.filePath(QStringLiteral("about.png"))) && ok;
        }
    }
    closeLog();
    return ok ? 0 : 1;
}
