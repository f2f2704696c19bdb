// The whole program on a desktop with a real window manager (openbox) and a
// tray host, on the X server that the test command starts for it. Started
// into the tray with automatic challenges on, it must ask by itself after the
// interval, in a challenge window the user can see and answer, with the main
// window minimised meanwhile and hidden again afterwards; and it must never
// take the keyboard from the program the user types in, nor come up over that
// program's full screen. The shortest interval is a minute: the tests share
// two runs of the program, the second started 40 s after the first, and run
// in the order they are declared.

#include "testsupport.h"
#include "x11desktop.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString program = QStringLiteral(NIVLETS_PROGRAM);
const QString database = QStringLiteral(NIVLETS_DATABASE);
const QString xhelper = QStringLiteral(NIVLETS_SOURCE_DIR "/tests/xhelper.py");

// The shortest interval the options allow, in seconds.
constexpr int interval = 60;
// A tick every 2 s, and the program's own start-up on a busy machine.
constexpr int tickAndStartUp = 2000 + 8000;
// The second run's challenge falls due after the first one's has been
// answered, and long before the first one's next.
constexpr qint64 secondStartsAfter = 40 * 1000;
// How long the keyboard must rest before a due challenge comes up.
constexpr qint64 typingPause = 3000;
constexpr int tick = 2000;

QString argument(const char *text)
{
    return QString::fromUtf8(text);
}

const QString &argument(const QString &text)
{
    return text;
}

// A command line of literals and strings.
template <typename... Parts> QStringList arguments(const Parts &...parts)
{
    return QStringList{argument(parts)...};
}

void endWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readersOfTheDesktop();
    void typingAcrossTheDueMoment();
    void fullScreenHoldsTheChallenge();

private:
    bool startProgram(QProcess &process, const QString &name);
    QString databaseOf(const QString &name) const;
    void startSecondWhenDue();
    QString run(const QString &command, const QStringList &arguments, int *exitCode = nullptr);
    QStringList windowsNamed(const QProcess &process, const QString &name, bool onlyVisible);
    QString challengeOf(const QProcess &process);
    QString mainWindow(const QProcess &process);
    QString windowState(const QString &id);
    QString mapState(const QString &id);
    QRect geometry(const QString &id);
    bool hasTrayIcon(const QProcess &process);
    QString activeWindow();
    bool isFullScreen(const QString &id);
    bool setFullScreen(const QString &id, bool on);
    bool isAbove(const QString &upper, const QString &lower);
    QString describe(const QProcess &process);
    void verifyBackInTheTray(const QProcess &process);

    QString display;
    QTemporaryDir root;
    QProcess nivlets;
    QProcess second;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceSecondStart;
    QProcess terminal;
    QString terminalWindow;
    QString typedFile;
};

void TestDesktop::initTestCase()
{
    display = qEnvironmentVariable("NIVLETS_DESKTOP_DISPLAY");
    if (display.isEmpty())
        QSKIP("This test types into a desktop with a window manager; it runs only on the X "
              "server with openbox that scripts/test.sh starts (NIVLETS_DESKTOP_DISPLAY).");
    int exitCode = -1;
    run(QStringLiteral("/usr/bin/python3"), arguments(xhelper, QStringLiteral("wait-tray"), "30"),
        &exitCode);
    QVERIFY2(exitCode == 0, "no system-tray host on the desktop display");
    QVERIFY(root.isValid());

    QVERIFY(startProgram(nivlets, QStringLiteral("first")));
    sinceStart.start();
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(nivlets), 20000);

    // The program the user types into: `cat` writes each line to a file.
    typedFile = root.filePath(QStringLiteral("typed.txt"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    terminal.setProcessEnvironment(env);
    terminal.setStandardErrorFile(QProcess::nullDevice());
    endWithTest(terminal);
    terminal.start(QStringLiteral("xterm"), arguments("-geometry", "80x24+0+0", "-e", "sh", "-c",
                                                      "cat > \"$0\"", typedFile));
    QVERIFY(terminal.waitForStarted(20000));
    QTRY_VERIFY_WITH_TIMEOUT(
        !(terminalWindow = run(QStringLiteral("xdotool"),
                               arguments("search", "--pid", QString::number(terminal.processId())))
                               .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                               .value(0))
             .isEmpty(),
        20000);
    run(QStringLiteral("xdotool"), arguments("windowactivate", "--sync", terminalWindow),
        &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), terminalWindow, 5000);
}

void TestDesktop::cleanupTestCase()
{
    for (QProcess *process : {&nivlets, &second, &terminal}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
}

QString TestDesktop::databaseOf(const QString &name) const
{
    return root.filePath(name + QStringLiteral("/work/nivlets"));
}

// A copy of the program holds a lock of its own, so the other program tests
// may run meanwhile, and so may a second copy here.
bool TestDesktop::startProgram(QProcess &process, const QString &name)
{
    const QDir dir(root.filePath(name));
    for (const char *folder : {"work", "runtime", "home", "bin"}) {
        if (!dir.mkpath(QString::fromLatin1(folder)))
            return false;
    }
    if (!QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const QString copy = dir.filePath(QStringLiteral("bin/nivlets"));
    const QString file = databaseOf(name);
    if (!QFile::copy(program, copy) || !QFile::setPermissions(copy, QFile::permissions(program)) ||
        !QFile::copy(database, file) ||
        !QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner))
        return false;
    // One active nivlet, so the test knows the question and its answer.
    if (!TestSupport::execSql(
            file, QStringLiteral("UPDATE options SET auto_ch = 1, auto_ch_interval = %1;"
                                 "UPDATE nivlet SET active = (id = 1);")
                      .arg(interval)) ||
        TestSupport::storedRate(1, file) != 0.75)
        return false;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    endWithTest(process);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.filePath(QStringLiteral("work")));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(copy, {QStringLiteral("startbg")});
    return process.waitForStarted(20000);
}

void TestDesktop::startSecondWhenDue()
{
    if (second.state() == QProcess::NotRunning && !sinceSecondStart.isValid() &&
        sinceStart.elapsed() >= secondStartsAfter) {
        QVERIFY(startProgram(second, QStringLiteral("second")));
        sinceSecondStart.start();
    }
}

QString TestDesktop::run(const QString &command, const QStringList &arguments, int *exitCode)
{
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    helper.setProcessEnvironment(env);
    helper.setStandardErrorFile(QProcess::nullDevice());
    helper.start(command, arguments);
    if (!helper.waitForFinished(20000)) {
        helper.kill();
        helper.waitForFinished();
    }
    if (exitCode)
        *exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1;
    return QString::fromUtf8(helper.readAllStandardOutput());
}

QStringList TestDesktop::windowsNamed(const QProcess &process, const QString &name,
                                      bool onlyVisible)
{
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--all")};
    if (onlyVisible)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--pid") << QString::number(process.processId())
              << QStringLiteral("--name") << QLatin1Char('^') + name + QLatin1Char('$');
    return run(QStringLiteral("xdotool"), arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString TestDesktop::challengeOf(const QProcess &process)
{
    return windowsNamed(process, QStringLiteral("nivlets - Challenge"), true).value(0);
}

// The program's one window with the main window's height; the tray icon,
// its menu and the challenge have other sizes.
QString TestDesktop::mainWindow(const QProcess &process)
{
    for (const QString &id : windowsNamed(process, QStringLiteral(".*"), false)) {
        if (geometry(id).height() == 570)
            return id;
    }
    return QString();
}

// "Normal", "Iconic", or empty for a withdrawn window, as the window manager
// records it in WM_STATE.
QString TestDesktop::windowState(const QString &id)
{
    const QString out = run(QStringLiteral("xprop"), arguments("-id", id, "WM_STATE"));
    const int at = out.indexOf(QStringLiteral("window state: "));
    if (at < 0)
        return QString();
    return out.mid(at + 14).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString TestDesktop::mapState(const QString &id)
{
    const QString out = run(QStringLiteral("xwininfo"), arguments("-id", id));
    const int at = out.indexOf(QStringLiteral("Map State: "));
    return at < 0 ? QString() : out.mid(at + 11).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QRect TestDesktop::geometry(const QString &id)
{
    const QString out = run(QStringLiteral("xwininfo"), arguments("-id", id));
    const auto field = [&](const char *name) {
        const QString key = QString::fromLatin1(name);
        const int at = out.indexOf(key);
        return at < 0 ? -1 : out.mid(at + key.size()).section(QLatin1Char('\n'), 0, 0).toInt();
    };
    return QRect(field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"),
                 field("Height:"));
}

// What a program has on the X server, for a failure message.
QString TestDesktop::describe(const QProcess &process)
{
    QString text = QStringLiteral("windows of process %1:").arg(process.processId());
    for (const QString &id : windowsNamed(process, QStringLiteral(".*"), false)) {
        const QRect r = geometry(id);
        text +=
            QStringLiteral("\n  %1 \"%2\" %3x%4 %5 %6")
                .arg(id, run(QStringLiteral("xdotool"), arguments("getwindowname", id)).trimmed())
                .arg(r.width())
                .arg(r.height())
                .arg(mapState(id), windowState(id));
    }
    return text;
}

bool TestDesktop::hasTrayIcon(const QProcess &process)
{
    int exitCode = -1;
    run(QStringLiteral("/usr/bin/python3"),
        arguments(xhelper, QStringLiteral("tray-icon"), QString::number(process.processId())),
        &exitCode);
    return exitCode == 0;
}

// The window the window manager has given the keyboard (_NET_ACTIVE_WINDOW).
QString TestDesktop::activeWindow()
{
    return run(QStringLiteral("xdotool"), arguments("getactivewindow")).trimmed();
}

bool TestDesktop::isFullScreen(const QString &id)
{
    return run(QStringLiteral("xprop"), arguments("-id", id, "_NET_WM_STATE"))
        .contains(QStringLiteral("_NET_WM_STATE_FULLSCREEN"));
}

bool TestDesktop::setFullScreen(const QString &id, bool on)
{
    int exitCode = -1;
    run(QStringLiteral("wmctrl"),
        arguments("-i", "-r", id, "-b", on ? "add,fullscreen" : "remove,fullscreen"), &exitCode);
    return exitCode == 0;
}

bool TestDesktop::isAbove(const QString &upper, const QString &lower)
{
    int exitCode = -1;
    run(QStringLiteral("/usr/bin/python3"),
        arguments(xhelper, QStringLiteral("above"), upper, lower), &exitCode);
    return exitCode == 0;
}

// The series has ended: the window is back in the tray, the program and its
// icon stay.
void TestDesktop::verifyBackInTheTray(const QProcess &process)
{
    QTRY_VERIFY_WITH_TIMEOUT(challengeOf(process).isEmpty(), 10000);
    const QString main = mainWindow(process);
    QVERIFY2(!main.isEmpty(), qPrintable(describe(process)));
    QTRY_COMPARE_WITH_TIMEOUT(mapState(main), QStringLiteral("IsUnMapped"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(windowState(main), QString(), 10000);
    QTest::qWait(500);
    QVERIFY(process.state() == QProcess::Running);
    QVERIFY(hasTrayIcon(process));
}

// The program reads the same X server as this test does (its own connection
// goes to the desktop display, see main).
void TestDesktop::readersOfTheDesktop()
{
    const std::unique_ptr<X11Desktop> desktop = X11Desktop::open();
    QVERIFY(desktop);
    const std::optional<qint64> before = desktop->msecs();
    QVERIFY2(before, "no idle time from the screen-saver extension");
    QTest::qWait(1500);
    const std::optional<qint64> later = desktop->msecs();
    QVERIFY(later);
    QVERIFY2(*later >= *before + 1000,
             qPrintable(QStringLiteral("%1 %2").arg(*before).arg(*later)));
    // Shift alone types nothing into the terminal.
    int exitCode = -1;
    run(QStringLiteral("xdotool"), arguments("key", "shift"), &exitCode);
    QCOMPARE(exitCode, 0);
    const std::optional<qint64> after = desktop->msecs();
    QVERIFY(after);
    QVERIFY2(*after < 1000, qPrintable(QString::number(*after)));

    QCOMPARE(activeWindow(), terminalWindow);
    QVERIFY(!desktop->otherWindowFullScreen());
    QVERIFY(setFullScreen(terminalWindow, true));
    QTRY_VERIFY_WITH_TIMEOUT(isFullScreen(terminalWindow), 5000);
    QVERIFY(desktop->otherWindowFullScreen());
    QVERIFY(setFullScreen(terminalWindow, false));
    QTRY_VERIFY_WITH_TIMEOUT(!isFullScreen(terminalWindow), 5000);
    QVERIFY(!desktop->otherWindowFullScreen());

    // A full-screen window of this program is not another program's.
    {
        QWidget own;
        own.showFullScreen();
        const QString ownId = QString::number(own.winId());
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), ownId, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(isFullScreen(ownId), 5000);
        QVERIFY(!desktop->otherWindowFullScreen());
    }
    run(QStringLiteral("xdotool"), arguments("windowactivate", "--sync", terminalWindow),
        &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), terminalWindow, 5000);
}

void TestDesktop::typingAcrossTheDueMoment()
{
    const QString file = databaseOf(QStringLiteral("first"));
    // In the tray until shortly before the interval has run out: no window
    // of the program but its icon is on screen.
    const qint64 typingFrom = interval * 1000 - 8000;
    while (sinceStart.elapsed() < typingFrom) {
        QVERIFY(challengeOf(nivlets).isEmpty());
        QVERIFY(nivlets.state() == QProcess::Running);
        const QString early = mainWindow(nivlets);
        QVERIFY(early.isEmpty() || mapState(early) != QLatin1String("IsViewable"));
        startSecondWhenDue();
        QTest::qWait(250);
    }

    // Words typed without a pause from before the challenge falls due until
    // well after, a few at a time: every key goes to the terminal.
    QString words;
    int exitCode = -1;
    for (int i = 1; sinceStart.elapsed() < interval * 1000 + tickAndStartUp + 4000;) {
        QString some;
        for (const int last = i + 10; i < last; ++i)
            some += QStringLiteral("word%1 ").arg(i);
        run(QStringLiteral("xdotool"), arguments("type", "--delay", "40", some), &exitCode);
        QCOMPARE(exitCode, 0);
        words += some;
        QVERIFY2(challengeOf(nivlets).isEmpty(), "a challenge came up while the user typed");
        startSecondWhenDue();
    }
    words += QLatin1Char('\n');
    run(QStringLiteral("xdotool"), arguments("key", "Return"), &exitCode);
    QCOMPARE(exitCode, 0);
    const qint64 typingEnded = sinceStart.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::readFile(typedFile), words, 5000);
    QCOMPARE(TestSupport::storedRate(1, file), 0.75);

    // Once the keyboard has rested, the challenge comes up at the next tick,
    // on top of the terminal, which keeps the keyboard.
    QString challenge;
    QTRY_VERIFY_WITH_TIMEOUT(!(challenge = challengeOf(nivlets)).isEmpty(), 15000);
    const qint64 afterTyping = sinceStart.elapsed() - typingEnded;
    qInfo("The challenge came up %lld ms after the typing stopped.", afterTyping);
    QVERIFY2(afterTyping >= typingPause - 500 && afterTyping <= typingPause + 2 * tick + 1000,
             qPrintable(QString::number(afterTyping)));
    QCOMPARE(activeWindow(), terminalWindow);
    QVERIFY(isAbove(challenge, terminalWindow));
    run(QStringLiteral("xdotool"), arguments("type", "--delay", "20", "after\n"), &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::readFile(typedFile), words + QStringLiteral("after\n"),
                              5000);
    QCOMPARE(TestSupport::storedRate(1, file), 0.75);

    // The dialog is on screen, not hidden with its minimised parent; the
    // parent is iconic meanwhile.
    QCOMPARE(mapState(challenge), QStringLiteral("IsViewable"));
    QCOMPARE(windowState(challenge), QStringLiteral("Normal"));
    const QRect onScreen = geometry(challenge);
    QVERIFY2(QRect(0, 0, 1280, 1024).contains(onScreen), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                        .arg(onScreen.x())
                                                                        .arg(onScreen.y())
                                                                        .arg(onScreen.width())
                                                                        .arg(onScreen.height())));
    QString main;
    QTRY_VERIFY2_WITH_TIMEOUT(!(main = mainWindow(nivlets)).isEmpty(),
                              qPrintable(describe(nivlets)), 5000);
    QCOMPARE(windowState(main), QStringLiteral("Iconic"));
    QCOMPARE(mapState(main), QStringLiteral("IsUnMapped"));

    // A click on the header picture gives the challenge the keyboard, with
    // the cursor in the answer field, and the answer typed then is judged.
    run(QStringLiteral("xdotool"),
        arguments("mousemove", "--sync", QString::number(onScreen.x() + onScreen.width() / 2),
                  QString::number(onScreen.y() + 20), "click", "1"),
        &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), challenge, 5000);
    run(QStringLiteral("xdotool"), arguments("type", "--delay", "20", " PARIS "), &exitCode);
    QCOMPARE(exitCode, 0);
    run(QStringLiteral("xdotool"), arguments("key", "Return"), &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::storedRate(1, file), 0.75 * 0.5 + 0.5, 10000);
    QCOMPARE(windowState(main), QStringLiteral("Iconic"));

    // Closing the answered challenge ends the series.
    run(QStringLiteral("xdotool"), arguments("key", "Escape"), &exitCode);
    QCOMPARE(exitCode, 0);
    verifyBackInTheTray(nivlets);
    QCOMPARE(TestSupport::readFile(typedFile), words + QStringLiteral("after\n"));
    QCOMPARE(TestSupport::readFile(root.filePath(QStringLiteral("first/work/nivlets.log"))),
             QString());
}

void TestDesktop::fullScreenHoldsTheChallenge()
{
    while (!sinceSecondStart.isValid()) {
        startSecondWhenDue();
        QTest::qWait(250);
    }
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(second), 20000);
    int exitCode = -1;
    run(QStringLiteral("xdotool"), arguments("windowactivate", "--sync", terminalWindow),
        &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), terminalWindow, 5000);
    QVERIFY(setFullScreen(terminalWindow, true));
    QTRY_VERIFY_WITH_TIMEOUT(isFullScreen(terminalWindow), 5000);

    // The second run's challenge falls due meanwhile, and none comes up.
    while (sinceSecondStart.elapsed() < interval * 1000 + tickAndStartUp + tick) {
        QVERIFY2(challengeOf(second).isEmpty(), "a challenge came up over the full screen");
        QVERIFY(challengeOf(nivlets).isEmpty());
        QVERIFY(second.state() == QProcess::Running);
        QTest::qWait(250);
    }
    QVERIFY(isFullScreen(terminalWindow));
    QVERIFY(setFullScreen(terminalWindow, false));
    QElapsedTimer sinceLeft;
    sinceLeft.start();
    QString challenge;
    QTRY_VERIFY_WITH_TIMEOUT(!(challenge = challengeOf(second)).isEmpty(), 10000);
    qInfo("The challenge came up %lld ms after the full screen ended.", sinceLeft.elapsed());
    QVERIFY2(sinceLeft.elapsed() <= tick + 2500, qPrintable(QString::number(sinceLeft.elapsed())));
    QVERIFY(!isFullScreen(terminalWindow));
    // Still without the keyboard.
    QCOMPARE(activeWindow(), terminalWindow);
    QVERIFY(isAbove(challenge, terminalWindow));

    // Closed unanswered, as a window manager closes it: the series ends and
    // the rate stays.
    run(QStringLiteral("/usr/bin/python3"), arguments(xhelper, QStringLiteral("close"), challenge),
        &exitCode);
    QCOMPARE(exitCode, 0);
    verifyBackInTheTray(second);
    QCOMPARE(TestSupport::storedRate(1, databaseOf(QStringLiteral("second"))), 0.75);
    QCOMPARE(TestSupport::readFile(root.filePath(QStringLiteral("second/work/nivlets.log"))),
             QString());
    QVERIFY(nivlets.state() == QProcess::Running);
}

int main(int argc, char **argv)
{
    // The test's own connection, which the readers use, goes to the desktop
    // the program runs on.
    const QByteArray desktop = qgetenv("NIVLETS_DESKTOP_DISPLAY");
    if (!desktop.isEmpty())
        qputenv("DISPLAY", desktop);
    QApplication app(argc, argv);
    TestDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
