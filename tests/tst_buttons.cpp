// Clicks every button of the main window of the built program, as a user
// would with the mouse, on a real X server with a tray host: each window a
// button opens is found by its title and closed with the window's close
// button, and the program must still be running afterwards; "E&xit" ends it
// with exit code 0.

#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString program = QStringLiteral(NIVLETS_PROGRAM);
const QString database = QStringLiteral(NIVLETS_DATABASE);
const QString xhelper = QStringLiteral(NIVLETS_SOURCE_DIR "/tests/xhelper.py");

constexpr int startTimeout = 20000;
constexpr int waitTimeout = 10000;

// Runs a helper on the test's display: xdotool, or the X helper script.
QString runHelper(const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (arguments.value(0) == QLatin1String("xdotool"))
        helper.start(QStringLiteral("xdotool"), arguments.mid(1));
    else
        helper.start(QStringLiteral("/usr/bin/python3"), QStringList{xhelper} + arguments);
    if (!helper.waitForFinished(startTimeout)) {
        helper.kill();
        helper.waitForFinished();
    }
    if (exitCode)
        *exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1;
    return QString::fromUtf8(helper.readAllStandardOutput());
}

struct XWindow
{
    QString id;
    bool viewable = false;
    QString type;
    QRect geometry;
    QString name;
};

QList<XWindow> windowsOf(const QProcess &process)
{
    QList<XWindow> result;
    const QString out =
        runHelper({QStringLiteral("windows"), QString::number(process.processId())});
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() < 9 || f[7] == QLatin1String("1"))
            continue;
        XWindow w;
        w.id = f[0];
        w.viewable = f[1] == QLatin1String("viewable");
        w.type = f[2];
        w.geometry = QRect(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
        w.name = f.mid(8).join(QLatin1Char('\t'));
        result.append(w);
    }
    return result;
}

// The main window sets no title of its own; it is the program's one normal
// window of its height (its width may grow by what its layout needs).
XWindow mainWindowOf(const QProcess &process)
{
    for (const XWindow &w : windowsOf(process)) {
        if (w.viewable && w.type == QLatin1String("NORMAL") && w.geometry.height() == 570 &&
            w.geometry.width() >= 620 && w.geometry.width() < 700)
            return w;
    }
    return XWindow();
}

XWindow viewableByTitle(const QProcess &process, const QString &title)
{
    for (const XWindow &w : windowsOf(process)) {
        if (w.viewable && w.name == title)
            return w;
    }
    return XWindow();
}

} // namespace

class TestButtons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyButton();

private:
    void click(const QPoint &inMainWindow);
    MainWindowTestAccess ui() const { return MainWindowTestAccess(reference.get()); }
    void clickButton(QPushButton *reference);
    void openAndClose(QPushButton *reference, const QString &title);

    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<TestSupport::WorkDir> referenceDir;
    std::unique_ptr<MainWindow> reference;
    XWindow shown;
};

void TestButtons::initTestCase()
{
    NIVLETS_REQUIRE_TEST_DISPLAY();
    int exitCode = -1;
    runHelper({QStringLiteral("wait-tray"), QStringLiteral("20")}, &exitCode);
    QCOMPARE(exitCode, 0);
}

void TestButtons::cleanupTestCase()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
    reference.reset();
    referenceDir.reset();
}

void TestButtons::click(const QPoint &inMainWindow)
{
    const QPoint at = shown.geometry.topLeft() + inMainWindow;
    int exitCode = -1;
    runHelper({QStringLiteral("xdotool"), QStringLiteral("mousemove"), QStringLiteral("--sync"),
               QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
               QStringLiteral("1")},
              &exitCode);
    QCOMPARE(exitCode, 0);
}

// The program lays its window out exactly as the same class does here, so a
// button sits where it sits in the reference window of the same size.
void TestButtons::clickButton(QPushButton *button)
{
    click(button->mapTo(reference.get(), button->rect().center()));
}

void TestButtons::openAndClose(QPushButton *button, const QString &title)
{
    clickButton(button);
    XWindow opened;
    QVERIFY2(
        QTest::qWaitFor([&] { return !(opened = viewableByTitle(*process, title)).id.isEmpty(); },
                        waitTimeout),
        qPrintable(button->text() + QStringLiteral(" opened no window \"") + title +
                   QStringLiteral("\"")));
    int exitCode = -1;
    runHelper({QStringLiteral("close"), opened.id}, &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY2(
        QTest::qWaitFor([&] { return viewableByTitle(*process, title).id.isEmpty(); }, waitTimeout),
        qPrintable(QStringLiteral("\"") + title + QStringLiteral("\" did not close")));
    QCOMPARE(process->state(), QProcess::Running);
    QVERIFY(!mainWindowOf(*process).id.isEmpty());
}

void TestButtons::everyButton()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    const QDir dir(root->path());
    QVERIFY(dir.mkpath(QStringLiteral("work")) && dir.mkpath(QStringLiteral("home")) &&
            dir.mkpath(QStringLiteral("runtime")));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(QFile::copy(database, dir.filePath(QStringLiteral("work/nivlets"))));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    process = std::make_unique<QProcess>();
    // A test killed by its time limit must not leave the program behind.
    process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(dir.filePath(QStringLiteral("work")));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, QStringList());
    QVERIFY(process->waitForStarted(startTimeout));
    QVERIFY(QTest::qWaitFor([&] { return !(shown = mainWindowOf(*process)).id.isEmpty(); },
                            startTimeout));

    referenceDir = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(QFile::copy(database, referenceDir->file(QStringLiteral("nivlets"))));
    reference = std::make_unique<MainWindow>();
    QVERIFY(reference->init());
    reference->resize(shown.geometry.size());
    reference->show();
    QVERIFY(QTest::qWaitForWindowExposed(reference.get()));
    QCOMPARE(reference->size(), shown.geometry.size());
    reference->hide();

    // The delivered database has active nivlets, so a card is asked; closing
    // its window ends the series.
    openAndClose(ui().button("challengeButton"), QStringLiteral("nivlets - Challenge"));
    openAndClose(ui().button("puzzleButton"), QStringLiteral("nivlets - Create puzzle"));
    openAndClose(ui().button("booksButton"), QStringLiteral("Books"));
    openAndClose(ui().button("optionsButton"), QStringLiteral("Options"));
    openAndClose(ui().button("aboutButton"), QStringLiteral("About nivlets"));
    openAndClose(ui().button("newButton"), QStringLiteral("New nivlet"));

    // A search fills the table; its first row, selected, gives Edit and
    // Delete something to work on. The program takes the clicks in order, so
    // the search has run before the row is clicked. The result line it shows
    // moves the table and the buttons below; the reference does the same.
    clickButton(ui().button("searchButton"));
    reference->search();
    reference->show();
    QVERIFY(QTest::qWaitForWindowExposed(reference.get()));
    reference->hide();
    QWidget *viewport = ui().nivletTableView()->viewport();
    const int rowHeight = ui().nivletTableView()->verticalHeader()->defaultSectionSize();
    click(viewport->mapTo(reference.get(), QPoint(viewport->width() / 2, rowHeight / 2)));
    openAndClose(ui().button("editButton"), QStringLiteral("Edit nivlet"));
    openAndClose(ui().button("deleteButton"), QStringLiteral("Delete nivlet(s)"));
    clickButton(ui().button("resetButton"));

    clickButton(ui().button("exitButton"));
    QVERIFY(process->waitForFinished(waitTimeout));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

QTEST_MAIN(TestButtons)
#include "tst_buttons.moc"
