// The whole program on a desktop with a real window manager (openbox) and a
// tray host, on the X server that the test command starts for it: started
// into the tray with automatic challenges on, it must ask by itself after the
// interval, in a challenge window the user can see and answer, with the main
// window minimised meanwhile and hidden again afterwards.

#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>


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
    void automaticChallengeFromTheTray();

private:
    QString run(const QString &command, const QStringList &arguments, int *exitCode = nullptr);
    QStringList windowsNamed(const QString &name, bool onlyVisible);
    QString mainWindow();
    QString windowState(const QString &id);
    QString mapState(const QString &id);
    QRect geometry(const QString &id);
    bool hasTrayIcon();
    QString describe();

    QString display;
    QTemporaryDir root;
    QProcess nivlets;
};

void TestDesktop::initTestCase()
{
    display = qEnvironmentVariable("NIVLETS_DESKTOP_DISPLAY");
    if (display.isEmpty())
        QSKIP("This test types into a desktop with a window manager; it runs only on the X "
              "server with openbox that scripts/test.sh starts (NIVLETS_DESKTOP_DISPLAY).");
    int exitCode = -1;
    run(QStringLiteral("/usr/bin/python3"), {xhelper, QStringLiteral("wait-tray"), "30"},
        &exitCode);
    QVERIFY2(exitCode == 0, "no system-tray host on the desktop display");
    QVERIFY(root.isValid());
}

void TestDesktop::cleanupTestCase()
{
    if (nivlets.state() != QProcess::NotRunning) {
        nivlets.kill();
        nivlets.waitForFinished();
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

QStringList TestDesktop::windowsNamed(const QString &name, bool onlyVisible)
{
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--all")};
    if (onlyVisible)
        arguments << QStringLiteral("--onlyvisible");
    arguments << QStringLiteral("--pid") << QString::number(nivlets.processId())
              << QStringLiteral("--name") << QLatin1Char('^') + name + QLatin1Char('$');
    return run(QStringLiteral("xdotool"), arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The program's one window with the main window's height; the tray icon,
// its menu and the challenge have other sizes.
QString TestDesktop::mainWindow()
{
    for (const QString &id : windowsNamed(QStringLiteral(".*"), false)) {
        if (geometry(id).height() == 570)
            return id;
    }
    return QString();
}

// "Normal", "Iconic", or empty for a withdrawn window, as the window manager
// records it in WM_STATE.
QString TestDesktop::windowState(const QString &id)
{
    const QString out = run(QStringLiteral("xprop"), {"-id", id, "WM_STATE"});
    const int at = out.indexOf(QStringLiteral("window state: "));
    if (at < 0)
        return QString();
    return out.mid(at + 14).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString TestDesktop::mapState(const QString &id)
{
    const QString out = run(QStringLiteral("xwininfo"), {"-id", id});
    const int at = out.indexOf(QStringLiteral("Map State: "));
    return at < 0 ? QString() : out.mid(at + 11).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QRect TestDesktop::geometry(const QString &id)
{
    const QString out = run(QStringLiteral("xwininfo"), {"-id", id});
    const auto field = [&](const char *name) {
        const QString key = QString::fromLatin1(name);
        const int at = out.indexOf(key);
        return at < 0 ? -1 : out.mid(at + key.size()).section(QLatin1Char('\n'), 0, 0).toInt();
    };
    return QRect(field("Absolute upper-left X:"), field("Absolute upper-left Y:"), field("Width:"),
                 field("Height:"));
}

// What the program has on the X server, for a failure message.
QString TestDesktop::describe()
{
    QString text = QStringLiteral("windows of process %1:").arg(nivlets.processId());
    for (const QString &id : windowsNamed(QStringLiteral(".*"), false)) {
        const QRect r = geometry(id);
        text += QStringLiteral("\n  %1 \"%2\" %3x%4 %5 %6")
                    .arg(id, run(QStringLiteral("xdotool"), {"getwindowname", id}).trimmed())
                    .arg(r.width())
                    .arg(r.height())
                    .arg(mapState(id), windowState(id));
    }
    return text;
}

bool TestDesktop::hasTrayIcon()
{
    int exitCode = -1;
    run(QStringLiteral("/usr/bin/python3"),
        {xhelper, QStringLiteral("tray-icon"), QString::number(nivlets.processId())}, &exitCode);
    return exitCode == 0;
}

void TestDesktop::automaticChallengeFromTheTray()
{
    for (const char *name : {"work", "runtime", "home", "bin"})
        QVERIFY(QDir(root.path()).mkpath(QString::fromLatin1(name)));
    QVERIFY(QFile::setPermissions(root.filePath("runtime"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // A copy of the program holds a lock of its own, so the other program
    // tests may run meanwhile.
    const QString copy = root.filePath(QStringLiteral("bin/nivlets"));
    QVERIFY(QFile::copy(program, copy));
    QVERIFY(QFile::setPermissions(copy, QFile::permissions(program)));
    const QString file = root.filePath(QStringLiteral("work/nivlets"));
    QVERIFY(QFile::copy(database, file));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
    // One active nivlet, so the test knows the question and its answer.
    QVERIFY(TestSupport::execSql(
        file, QStringLiteral("UPDATE options SET auto_ch = 1, auto_ch_interval = %1;"
                             "UPDATE nivlet SET active = (id = 1);")
                  .arg(interval)));
    const double rateBefore = TestSupport::storedRate(1, file);
    QCOMPARE(rateBefore, 0.75);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("runtime")));
    endWithTest(nivlets);
    nivlets.setProcessEnvironment(env);
    nivlets.setWorkingDirectory(root.filePath(QStringLiteral("work")));
    nivlets.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer sinceStart;
    sinceStart.start();
    nivlets.start(copy, {QStringLiteral("startbg")});
    QVERIFY(nivlets.waitForStarted(20000));
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(), 20000);

    // Nothing before the interval has run out, a challenge within a tick
    // (and the start-up) after it.
    QString challenge;
    while (sinceStart.elapsed() < interval * 1000 + tickAndStartUp) {
        const QStringList found = windowsNamed(QStringLiteral("nivlets - Challenge"), true);
        if (!found.isEmpty()) {
            challenge = found.first();
            break;
        }
        QVERIFY(nivlets.state() == QProcess::Running);
        // In the tray: no window of the program but its icon is on screen.
        const QString early = mainWindow();
        QVERIFY(early.isEmpty() || mapState(early) != QLatin1String("IsViewable"));
        QTest::qWait(250);
    }
    const qint64 shownAfter = sinceStart.elapsed();
    QVERIFY2(!challenge.isEmpty(), "no challenge window came up");
    QVERIFY2(shownAfter > interval * 1000, qPrintable(QString::number(shownAfter)));
    qInfo("The challenge came up %lld ms after the start.", shownAfter);

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
    QTRY_VERIFY2_WITH_TIMEOUT(!(main = mainWindow()).isEmpty(), qPrintable(describe()), 5000);
    QCOMPARE(windowState(main), QStringLiteral("Iconic"));
    QCOMPARE(mapState(main), QStringLiteral("IsUnMapped"));

    // Answering by typing: the window manager gave the challenge the keyboard.
    int exitCode = -1;
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", challenge}, &exitCode);
    QCOMPARE(exitCode, 0);
    run(QStringLiteral("xdotool"), {"type", "--delay", "20", " PARIS "}, &exitCode);
    QCOMPARE(exitCode, 0);
    run(QStringLiteral("xdotool"), {"key", "Return"}, &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(TestSupport::storedRate(1, file), rateBefore * 0.5 + 0.5, 10000);
    QCOMPARE(windowState(main), QStringLiteral("Iconic"));

    // Closing the answered challenge ends the series: the window goes back
    // to the tray, the program and its icon stay.
    run(QStringLiteral("xdotool"), {"key", "Escape"}, &exitCode);
    QCOMPARE(exitCode, 0);
    QTRY_VERIFY_WITH_TIMEOUT(windowsNamed(QStringLiteral("nivlets - Challenge"), true).isEmpty(),
                             10000);
    QTRY_COMPARE_WITH_TIMEOUT(mapState(main), QStringLiteral("IsUnMapped"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(windowState(main), QString(), 10000);
    QTest::qWait(500);
    QVERIFY(nivlets.state() == QProcess::Running);
    QVERIFY(hasTrayIcon());
    QCOMPARE(TestSupport::readFile(root.filePath(QStringLiteral("work/nivlets.log"))), QString());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
