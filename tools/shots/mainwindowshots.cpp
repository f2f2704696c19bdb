// Takes the screenshots of the main window after a search and of the nivlet
// editor for the README: run it on an X server with a system tray, with the
// folder to write to as its argument. It works on a copy of the delivered
// database in a temporary folder.
#include "editnivletdialog.h"
#include "mainwindow.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"

#include "errorboxpresenter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

namespace {
bool save(QWidget *widget, const QString &path)
{
    if (!QTest::qWaitForWindowExposed(widget))
        return false;
    QTest::qWait(200);
    const bool ok = widget->grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << '\n';
    return ok;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: nivlets_mainwindowshots OUTPUT-FOLDER\n";
        return 2;
    }
    const QDir output(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    installErrorBoxPresenter();

    QTemporaryDir work;
    if (!work.isValid() ||
        !QFile::copy(QStringLiteral(NIVLETS_DATABASE), work.filePath(QStringLiteral("nivlets"))))
        return 1;
    QDir::setCurrent(work.path());

    auto window = std::make_unique<MainWindow>();
    if (!window->init())
        return 1;
    window->show();
    window->findChild<QLineEdit *>(QStringLiteral("questionEdit"))
        ->setText(QStringLiteral("Capital of"));
    window->search();
    auto *table = window->findChild<NivletTableView *>();
    const auto *result = qobject_cast<NivletsTableModel *>(table->model());
    table->selectionModel()->select(result->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!save(window.get(), output.filePath(QStringLiteral("main-window-search.png"))))
        return 1;

    EditNivletDialog editor(window.get(), window->findChild<NivletCore *>(),
                            result->nivletAt(2)->id, QStringLiteral("\nMiensk"));
    if (!editor.setupUi(nullptr, QString(), false))
        return 1;
    editor.show();
    if (!save(&editor, output.filePath(QStringLiteral("nivlet-editor.png"))))
        return 1;
    return 0;
}
