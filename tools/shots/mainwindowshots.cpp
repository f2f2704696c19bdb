// Takes the screenshots of the main window after a search, of the nivlet
// editor and of a challenge asking and answered for the README: run it on an
// X server with a system tray, with the folder to write to as its argument.
// Given a suffix as well ("-dark"), it writes the main window and the
// challenge only, with the suffix behind their names: the README shows them
// under another palette or scale beside the usual ones. It works on a copy of
// the delivered database in a temporary folder.
#include "challengedialog.h"
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
    if (argc != 2 && argc != 3) {
        QTextStream(stderr) << "usage: nivlets_mainwindowshots OUTPUT-FOLDER [SUFFIX]\n";
        return 2;
    }
    const QDir output(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    const QString suffix = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto file = [&output, &suffix](const char *stem) {
        return output.filePath(QStringLiteral("%1%2.png").arg(QLatin1String(stem), suffix));
    };
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
    if (!save(window.get(), file("main-window-search")))
        return 1;
    auto *core = window->findChild<NivletCore *>();

    if (suffix.isEmpty()) {
        EditNivletDialog editor(window.get(), core, result->nivletAt(2)->id,
                                QStringLiteral("\nMiensk"));
        if (!editor.setupUi(nullptr, QString(), false))
            return 1;
        editor.show();
        if (!save(&editor, file("nivlet-editor")))
            return 1;
    }

    window->findChild<QLineEdit *>(QStringLiteral("questionEdit"))
        ->setText(QStringLiteral("Capital of Croatia?"));
    window->search();
    if (result->rowCount() != 1)
        return 1;
    ChallengeDialog challenge(nullptr, core, core->getNivlet(result->nivletAt(0)->id));
    auto *answer = challenge.findChild<QLineEdit *>(QStringLiteral("answerEdit"));
    answer->setText(QStringLiteral("Split"));
    challenge.show();
    // As typed: the focus coming into the field has selected it.
    if (!QTest::qWaitForWindowExposed(&challenge))
        return 1;
    answer->deselect();
    if (!save(&challenge, file("challenge-asking")))
        return 1;
    challenge.check();
    return save(&challenge, file("challenge-answered")) ? 0 : 1;
}
