// Drives the built program from outside, as a user on a desktop would: real
// processes, a real X server with a tray host, and one without.

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString program = QStringLiteral(NIVLETS_PROGRAM);
const QString database = QStringLiteral(NIVLETS_DATABASE);
const QString xhelper = QStringLiteral(NIVLETS_SOURCE_DIR "/tests/xhelper.py");
const QString python = QStringLiteral("/usr/bin/python3");

constexpr int startTimeout = 20000;
constexpr int waitTimeout = 10000;
constexpr int windowWidth = 620;
constexpr int windowHeight = 570;

const QString alreadyRunningText =
    QStringLiteral("nivlets is already running!\nPlease activate it by clicking on its icon in the "
                   "system-tray (at the lower-right corner of the screen).");
const QString noTrayText =
    QStringLiteral("System tray is not available on this operating system, cannot continue.");

// A test killed by its time limit must not leave programs or X servers behind.
void endWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

struct XWindow
{
    QString id;
    bool viewable = false;
    QString type;
    QRect geometry;
    bool embedded = false;
    QString name;
};

// A working folder with the database and a private runtime folder that
// holds the single-instance lock; every start in one sandbox is "the same
// user".
class Sandbox
{
public:
    Sandbox()
    {
        QDir(root.path()).mkdir(QStringLiteral("work"));
        QDir(root.path()).mkdir(QStringLiteral("runtime"));
        QDir(root.path()).mkdir(QStringLiteral("home"));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool withRuntime = true;
    QString work() const { return root.filePath(QStringLiteral("work")); }
    QString runtime() const { return root.filePath(QStringLiteral("runtime")); }
    QString home() const { return root.filePath(QStringLiteral("home")); }
    QString lockFolder() const
    {
        return withRuntime ? runtime()
                           : QDir(home()).filePath(QStringLiteral(".cache/nivlets-runtime"));
    }
    QString file(const QString &name) const { return QDir(work()).filePath(name); }
    bool copyDatabase() const { return QFile::copy(database, file(QStringLiteral("nivlets"))); }
    QStringList lockFiles() const
    {
        return QDir(lockFolder()).entryList({QStringLiteral("*.lock")}, QDir::Files);
    }

private:
    QTemporaryDir root;
};

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void secondInstance_data();
    void secondInstance();
    void startArguments_data();
    void startArguments();
    void noSystemTray();
    void unreadableDatabase();
    void closeHidesToTray();
    void restartAfterKill();
    void lockWithoutRuntimeFolder();
    void exitFromTrayMenu();

private:
    QProcess *start(const Sandbox &sandbox, const QStringList &arguments = {},
                    const QString &display = QString());
    QString runHelper(const QStringList &arguments, const QString &display = QString(),
                      int *exitCode = nullptr);
    QList<XWindow> windows(const QProcess *process, const QString &display = QString());
    XWindow mainWindow(const QProcess *process);
    bool mainWindowViewable(const QProcess *process);
    QString trayIcon(const QProcess *process, QPoint *centre = nullptr);
    QString describe(const QProcess *process, const QString &display = QString());
    QString findBox(const QProcess *process, const QString &title,
                    const QString &display = QString());
    void closeWindow(const QString &id, const QString &display = QString());
    void clickTrayIcon(const QProcess *process, int button);
    bool trayMenuOpen(const QProcess *process);
    bool isRunning(const QProcess *process) const;
    void verifyBoxText(const QProcess *process, const QString &id, const QString &title,
                       const QString &text, Qt::TextFormat format,
                       const QString &display = QString());
    void verifyEnds(QProcess *process, int exitCode);

    std::vector<std::unique_ptr<QProcess>> processes;
    QProcess trayless;
    QString traylessDisplay;
};

QProcess *TestProgram::start(const Sandbox &sandbox, const QStringList &arguments,
                             const QString &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program must meet the X server and the XEmbed tray host, never a
    // headless platform or another session's services.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.insert(QStringLiteral("HOME"), sandbox.home());
    if (sandbox.withRuntime)
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.runtime());
    else
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    auto process = std::make_unique<QProcess>();
    endWithTest(*process);
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(sandbox.work());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, arguments);
    if (!process->waitForStarted(startTimeout))
        return nullptr;
    processes.push_back(std::move(process));
    return processes.back().get();
}

QString TestProgram::runHelper(const QStringList &arguments, const QString &display, int *exitCode)
{
    QProcess helper;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        helper.setProcessEnvironment(env);
    }
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool isXdotool = arguments.value(0) == QLatin1String("xdotool");
    if (isXdotool)
        helper.start(QStringLiteral("xdotool"), arguments.mid(1));
    else
        helper.start(python, QStringList{xhelper} + arguments);
    if (!helper.waitForFinished(startTimeout)) {
        helper.kill();
        helper.waitForFinished();
    }
    if (exitCode)
        *exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1;
    return QString::fromUtf8(helper.readAllStandardOutput());
}

QList<XWindow> TestProgram::windows(const QProcess *process, const QString &display)
{
    QList<XWindow> result;
    const QString out =
        runHelper({QStringLiteral("windows"), QString::number(process->processId())}, display);
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() < 9)
            continue;
        XWindow w;
        w.id = f[0];
        w.viewable = f[1] == QLatin1String("viewable");
        w.type = f[2];
        w.geometry = QRect(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
        w.embedded = f[7] == QLatin1String("1");
        w.name = f.mid(8).join(QLatin1Char('\t'));
        result.append(w);
    }
    return result;
}

// The main window is the only top-level window of the program with its size
// and the normal window type; the tray menu, for one, is normal too.
XWindow TestProgram::mainWindow(const QProcess *process)
{
    const QList<XWindow> all = windows(process);
    for (const XWindow &w : all) {
        if (!w.embedded && w.type == QLatin1String("NORMAL") &&
            w.geometry.size() == QSize(windowWidth, windowHeight))
            return w;
    }
    return XWindow();
}

bool TestProgram::mainWindowViewable(const QProcess *process)
{
    return mainWindow(process).viewable;
}

QString TestProgram::trayIcon(const QProcess *process, QPoint *centre)
{
    int exitCode = -1;
    const QStringList f =
        runHelper({QStringLiteral("tray-icon"), QString::number(process->processId())}, QString(),
                  &exitCode)
            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (exitCode != 0 || f.size() != 3)
        return QString();
    if (centre)
        *centre = QPoint(f[1].toInt(), f[2].trimmed().toInt());
    return f[0];
}

// What a failed wait saw, for the failure message.
QString TestProgram::describe(const QProcess *process, const QString &display)
{
    QString text = QStringLiteral("process %1, state %2, exit code %3; windows:")
                       .arg(process->processId())
                       .arg(process->state())
                       .arg(process->exitCode());
    for (const XWindow &w : windows(process, display))
        text += QStringLiteral("\n  %1 %2 %3 %4x%5 \"%6\"")
                    .arg(w.id, w.viewable ? QStringLiteral("viewable") : QStringLiteral("hidden"),
                         w.type)
                    .arg(w.geometry.width())
                    .arg(w.geometry.height())
                    .arg(w.name);
    return text;
}

QString TestProgram::findBox(const QProcess *process, const QString &title, const QString &display)
{
    const QString out =
        runHelper({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--all"),
                   QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                   QString::number(process->processId()), QStringLiteral("--name"),
                   QLatin1Char('^') + title + QLatin1Char('$')},
                  display);
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
}

void TestProgram::closeWindow(const QString &id, const QString &display)
{
    int exitCode = -1;
    runHelper({QStringLiteral("close"), id}, display, &exitCode);
    QCOMPARE(exitCode, 0);
}

void TestProgram::clickTrayIcon(const QProcess *process, int button)
{
    QPoint centre;
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process, &centre).isEmpty(), waitTimeout);
    int exitCode = -1;
    runHelper({QStringLiteral("xdotool"), QStringLiteral("mousemove"), QString::number(centre.x()),
               QString::number(centre.y()), QStringLiteral("click"), QString::number(button)},
              QString(), &exitCode);
    QCOMPARE(exitCode, 0);
}

// The menu is the one viewable top-level window that is neither the main
// window nor a balloon.
bool TestProgram::trayMenuOpen(const QProcess *process)
{
    for (const XWindow &w : windows(process)) {
        if (w.viewable && !w.embedded && w.type != QLatin1String("TOOLTIP") &&
            w.geometry.size() != QSize(windowWidth, windowHeight))
            return true;
    }
    return false;
}

bool TestProgram::isRunning(const QProcess *process) const
{
    return process->state() == QProcess::Running;
}

// X holds no text, so the box's text is checked by its pixels: a box built
// here with the same title and text must show the very same label.
void TestProgram::verifyBoxText(const QProcess *process, const QString &id, const QString &title,
                                const QString &text, Qt::TextFormat format, const QString &display)
{
    QMessageBox reference;
    reference.setWindowTitle(title);
    reference.setTextFormat(format);
    reference.setText(text);
    reference.show();
    QVERIFY(QTest::qWaitForWindowExposed(&reference));
    auto *label = reference.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    const QRect labelRect(label->mapTo(&reference, QPoint(0, 0)), label->size());
    const QImage expected =
        reference.grab(labelRect).toImage().convertToFormat(QImage::Format_RGB888);
    const QSize referenceSize = reference.size();
    // Without a backing store a covered window has no contents to read.
    reference.hide();

    XWindow box;
    for (const XWindow &w : windows(process, display)) {
        if (w.id.toULongLong(nullptr, 16) == id.toULongLong())
            box = w;
    }
    QVERIFY2(box.viewable, qPrintable(QStringLiteral("box %1 not found").arg(id)));
    QCOMPARE(box.name, title);
    QCOMPARE(box.geometry.size(), referenceSize);

    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("box.ppm"));
    const auto actual = [&] {
        int exitCode = -1;
        runHelper({QStringLiteral("image"), id, QString::number(labelRect.x()),
                   QString::number(labelRect.y()), QString::number(labelRect.width()),
                   QString::number(labelRect.height()), shot},
                  display, &exitCode);
        return exitCode == 0 ? QImage(shot).convertToFormat(QImage::Format_RGB888) : QImage();
    };
    QTRY_COMPARE_WITH_TIMEOUT(actual(), expected, waitTimeout);
}

void TestProgram::verifyEnds(QProcess *process, int exitCode)
{
    QVERIFY(process->waitForFinished(startTimeout));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);
}

void TestProgram::initTestCase()
{
    QVERIFY2(QFile::exists(program), qPrintable(program));
    QVERIFY2(QFile::exists(database), qPrintable(database));
    QVERIFY2(QFile::exists(python), "the X helper needs /usr/bin/python3 with python3-xlib");
    int exitCode = -1;
    runHelper({QStringLiteral("wait-tray"), QStringLiteral("30")}, QString(), &exitCode);
    QVERIFY2(exitCode == 0, "no system-tray host on $DISPLAY");

    // A second X server without a tray host; it writes its display number to
    // the descriptor given, here its standard output. Without -noreset it
    // would reset whenever its last client leaves and refuse connections
    // meanwhile.
    endWithTest(trayless);
    trayless.setProcessChannelMode(QProcess::SeparateChannels);
    trayless.setStandardErrorFile(QProcess::nullDevice());
    trayless.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-noreset"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(trayless.waitForStarted(startTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(trayless.canReadLine(), waitTimeout);
    const QByteArray number = trayless.readLine().trimmed();
    QVERIFY(!number.isEmpty());
    traylessDisplay = QLatin1Char(':') + QString::fromLatin1(number);
}

void TestProgram::cleanup()
{
    for (auto &process : processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
    processes.clear();
}

void TestProgram::cleanupTestCase()
{
    if (trayless.state() != QProcess::NotRunning) {
        trayless.terminate();
        if (!trayless.waitForFinished(startTimeout)) {
            trayless.kill();
            trayless.waitForFinished();
        }
    }
}

void TestProgram::secondInstance_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("shown") << QStringList();
    QTest::newRow("in the tray") << QStringList{QStringLiteral("startbg")};
}

void TestProgram::secondInstance()
{
    QFETCH(QStringList, arguments);
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *first = start(sandbox, arguments);
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(first).isEmpty(), waitTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(mainWindowViewable(first), arguments.isEmpty(), waitTimeout);
    const auto state = [&] {
        QStringList lines;
        for (const XWindow &w : windows(first))
            lines << QStringLiteral("%1 %2 %3 %4,%5 %6x%7")
                         .arg(w.id, w.viewable ? "viewable" : "hidden", w.type)
                         .arg(w.geometry.x())
                         .arg(w.geometry.y())
                         .arg(w.geometry.width())
                         .arg(w.geometry.height());
        return lines;
    };
    const QStringList before = state();
    const QByteArray logBefore =
        TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets.log")));

    QProcess *second = start(sandbox);
    QVERIFY(second);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(box = findBox(second, QStringLiteral("Already running!"))).isEmpty(),
        qPrintable(describe(second)), waitTimeout);
    verifyBoxText(second, box, QStringLiteral("Already running!"), alreadyRunningText,
                  Qt::AutoText);
    QVERIFY(isRunning(second));
    closeWindow(box);
    verifyEnds(second, 1);

    QVERIFY(isRunning(first));
    QCOMPARE(state(), before);
    QCOMPARE(TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets.log"))), logBefore);
}

void TestProgram::startArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("startbg") << QStringList{QStringLiteral("startbg")} << true;
    QTest::newRow("startbg later")
        << QStringList{QStringLiteral("-x"), QStringLiteral("y"), QStringLiteral("startbg")}
        << true;
    QTest::newRow("no argument") << QStringList() << false;
    QTest::newRow("StartBG") << QStringList{QStringLiteral("StartBG")} << false;
    QTest::newRow("-startbg") << QStringList{QStringLiteral("-startbg")} << false;
    QTest::newRow("startbgx") << QStringList{QStringLiteral("startbgx")} << false;
}

void TestProgram::startArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, hidden);
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox, arguments);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process).isEmpty(), waitTimeout);
    if (hidden) {
        // The window would be mapped before the icon is docked, which takes a
        // round trip through the tray host; a short grace covers slow servers.
        QTest::qWait(300);
        for (const XWindow &w : windows(process))
            QVERIFY2(w.embedded || !w.viewable, qPrintable(w.id + QLatin1Char(' ') + w.type));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
        const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        const XWindow w = mainWindow(process);
        QCOMPARE(w.geometry.topLeft(), QPoint((desktop.width() - windowWidth) / 2,
                                              (desktop.height() - windowHeight) / 2));
    }
    QVERIFY(isRunning(process));
    QVERIFY(!QFile::exists(sandbox.file(QStringLiteral("nivlets.log"))) ||
            TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets.log"))).isEmpty());
}

void TestProgram::noSystemTray()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox, {}, traylessDisplay);
    QVERIFY(process);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(box = findBox(process, QStringLiteral("Error"), traylessDisplay)).isEmpty(),
        qPrintable(describe(process, traylessDisplay)), waitTimeout);
    for (const XWindow &w : windows(process, traylessDisplay))
        QVERIFY2(!w.viewable || w.type == QLatin1String("DIALOG"), qPrintable(w.id));
    verifyBoxText(process, box, QStringLiteral("Error"), noTrayText, Qt::PlainText,
                  traylessDisplay);
    closeWindow(box, traylessDisplay);
    verifyEnds(process, 1);
    QCOMPARE(TestSupport::readFile(sandbox.file(QStringLiteral("nivlets.log"))),
             QStringLiteral("Error: ") + noTrayText + QLatin1Char('\n'));
}

void TestProgram::unreadableDatabase()
{
    Sandbox sandbox;
    QByteArray garbage(4096, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(garbage.data()),
                                          garbage.size() / int(sizeof(quint32)));
    // Random bytes that happened to start like a database would test nothing.
    garbage[0] = 'X';
    {
        QFile file(sandbox.file(QStringLiteral("nivlets")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(garbage), garbage.size());
    }
    QProcess *process = start(sandbox);
    QVERIFY(process);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(!(box = findBox(process, QStringLiteral("Error"))).isEmpty(),
                              qPrintable(describe(process)), waitTimeout);
    for (const XWindow &w : windows(process))
        QVERIFY2(!w.viewable || w.type == QLatin1String("DIALOG"), qPrintable(w.id));
    const QString text = QStringLiteral(
        "Could not read books. error code: 26 error message: file is not a database");
    verifyBoxText(process, box, QStringLiteral("Error"), text, Qt::PlainText);
    closeWindow(box);
    verifyEnds(process, 1);

    const QString log = TestSupport::readFile(sandbox.file(QStringLiteral("nivlets.log")));
    QVERIFY2(log.startsWith(QStringLiteral("Error: Could not read books. error code: 26")),
             qPrintable(log));
    QCOMPARE(log.count(QLatin1Char('\n')), 1);
    QCOMPARE(TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets"))), garbage);
}

void TestProgram::closeHidesToTray()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox, {QStringLiteral("startbg")});
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process).isEmpty(), waitTimeout);
    QVERIFY(!mainWindowViewable(process));

    const auto balloons = [&] {
        QStringList ids;
        for (const XWindow &w : windows(process)) {
            if (w.viewable && w.type == QLatin1String("TOOLTIP"))
                ids << w.id;
        }
        return ids;
    };

    QStringList seenBalloons;
    for (int round = 0; round < 2; ++round) {
        clickTrayIcon(process, 1);
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
        const QStringList earlier = balloons();

        closeWindow(mainWindow(process).id);
        QTRY_VERIFY_WITH_TIMEOUT(!mainWindowViewable(process), waitTimeout);
        QVERIFY(isRunning(process));
        // Every close shows the balloon anew.
        QStringList fresh;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                fresh.clear();
                for (const QString &id : balloons()) {
                    if (!earlier.contains(id) && !seenBalloons.contains(id))
                        fresh << id;
                }
                return !fresh.isEmpty();
            }(),
            waitTimeout);
        seenBalloons << fresh;
    }

    // The first entry of the tray menu shows the window as well.
    clickTrayIcon(process, 3);
    QTRY_VERIFY_WITH_TIMEOUT(trayMenuOpen(process), waitTimeout);
    int exitCode = -1;
    runHelper({QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("Down"),
               QStringLiteral("Return")},
              QString(), &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
    QVERIFY(isRunning(process));
}

void TestProgram::restartAfterKill()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *first = start(sandbox);
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(first), waitTimeout);
    QCOMPARE(sandbox.lockFiles().size(), 1);
    first->kill();
    QVERIFY(first->waitForFinished(startTimeout));
    QCOMPARE(first->exitStatus(), QProcess::CrashExit);
    // The dead instance's lock is still there; only its owner is gone.
    QCOMPARE(sandbox.lockFiles().size(), 1);

    QProcess *again = start(sandbox);
    QVERIFY(again);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(again), waitTimeout);
    QVERIFY(findBox(again, QStringLiteral("Already running!")).isEmpty());
    QVERIFY(isRunning(again));

    // The restarted instance holds the lock anew.
    QProcess *third = start(sandbox);
    QVERIFY(third);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(!(box = findBox(third, QStringLiteral("Already running!"))).isEmpty(),
                              qPrintable(describe(third)), waitTimeout);
    closeWindow(box);
    verifyEnds(third, 1);
    QVERIFY(isRunning(again));
}

void TestProgram::lockWithoutRuntimeFolder()
{
    Sandbox sandbox;
    sandbox.withRuntime = false;
    QVERIFY(sandbox.copyDatabase());
    QProcess *first = start(sandbox, {QStringLiteral("startbg")});
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(first).isEmpty(), waitTimeout);
    QCOMPARE(sandbox.lockFiles().size(), 1);
    QCOMPARE(QFileInfo(sandbox.lockFolder()).permissions() &
                 ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess *second = start(sandbox);
    QVERIFY(second);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(box = findBox(second, QStringLiteral("Already running!"))).isEmpty(),
        qPrintable(describe(second)), waitTimeout);
    closeWindow(box);
    verifyEnds(second, 1);
    QVERIFY(isRunning(first));
}

void TestProgram::exitFromTrayMenu()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox, {QStringLiteral("startbg")});
    QVERIFY(process);
    clickTrayIcon(process, 3);
    QTRY_VERIFY_WITH_TIMEOUT(trayMenuOpen(process), waitTimeout);
    QVERIFY(!mainWindowViewable(process));
    // The open menu holds the keyboard; moving up from no entry wraps to
    // the last one, "Exit nivlets".
    int exitCode = -1;
    runHelper({QStringLiteral("xdotool"), QStringLiteral("key"), QStringLiteral("Up"),
               QStringLiteral("Return")},
              QString(), &exitCode);
    QCOMPARE(exitCode, 0);
    verifyEnds(process, 0);
    QVERIFY(sandbox.lockFiles().isEmpty());
}

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
