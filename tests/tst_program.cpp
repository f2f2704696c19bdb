// Drives the built program from outside, as a user on a desktop would: real
// processes, a real X server with a tray host, and one without.

#include "dblock.h"
#include "singleinstance.h"
#include "testsupport.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QScreen>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>
#include <QWidget>

#include <memory>
#include <vector>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString program = QStringLiteral(NIVLETS_PROGRAM);
const QString database = QStringLiteral(NIVLETS_DATABASE);
const QString launcher = QStringLiteral(NIVLETS_LAUNCHER);
const QString xhelper = QStringLiteral(NIVLETS_SOURCE_DIR "/tests/xhelper.py");
const QString python = QStringLiteral("/usr/bin/python3");

constexpr int startTimeout = 20000;
constexpr int waitTimeout = 10000;
constexpr int windowWidth = 620;
constexpr int windowHeight = 570;

const QString alreadyRunningText =
    QStringLiteral("nivlets is already running!\nPlease activate it by clicking on its icon in the "
                   "system-tray (at the lower-right corner of the screen).");
const QString stillStartingText =
    QStringLiteral("nivlets is starting and waiting for the system tray.\nIts icon will appear "
                   "there as soon as the system tray is available.");
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

// A working folder with the database, and the folders a session names in
// its environment: a private runtime folder, a home and a cache. The
// single-instance lock ignores all three; every start of the program is
// "the same user".
class Sandbox
{
public:
    Sandbox()
    {
        for (const char *name : {"work", "runtime", "home", "home2", "cache", "bin"})
            QDir(root.path()).mkdir(QString::fromLatin1(name));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // A start as from another session: no runtime folder, other home and cache.
    bool otherSession = false;
    // A start outside any desktop session: neither an X nor a Wayland display.
    bool withoutDisplay = false;
    // Variables for the launcher's environment, on top of the usual ones.
    QProcessEnvironment extra;
    QString work() const { return root.filePath(QStringLiteral("work")); }
    QString runtime() const { return root.filePath(QStringLiteral("runtime")); }
    QString home() const
    {
        return root.filePath(otherSession ? QStringLiteral("home2") : QStringLiteral("home"));
    }
    QString cache() const { return root.filePath(QStringLiteral("cache")); }
    QString bin() const { return root.filePath(QStringLiteral("bin")); }
    QString file(const QString &name) const { return QDir(work()).filePath(name); }
    QString path(const QString &name) const { return root.filePath(name); }
    // Where the launcher keeps the data when XDG_DATA_HOME is not set.
    QString dataFolder() const
    {
        return QDir(home()).filePath(QStringLiteral(".local/share/nivlets"));
    }
    bool copyDatabase() const { return QFile::copy(database, file(QStringLiteral("nivlets"))); }
    // The locks a running program holds: its single-instance lock and the
    // one beside the database.
    QStringList lockFiles() const
    {
        QStringList found;
        for (const QString &lock : {SingleInstance::lockFilePath(program),
                                    file(QString::fromLatin1(DatabaseLock::fileName))}) {
            if (QFile::exists(lock))
                found << lock;
        }
        return found;
    }

private:
    QTemporaryDir root;
};

// The desktop's notification service as far as the program uses it.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    // Application, icon, summary and body of each notification.
    QList<QStringList> notes;
    int urgency = -1;

public slots:
    uint Notify(const QString &application, uint replaces, const QString &icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int timeout)
    {
        Q_UNUSED(replaces);
        Q_UNUSED(actions);
        Q_UNUSED(timeout);
        notes.append({application, icon, summary, body});
        urgency = hints.value(QStringLiteral("urgency"), -1).toInt();
        return uint(notes.size());
    }
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
    void secondStartWhileTheFirstWaitsForATray();
    void startArguments_data();
    void startArguments();
    void noSystemTray();
    void unreadableDatabase();
    void closeHidesToTray();
    void restartAfterKill();
    void lockIndependentOfEnvironment();
    void twoProgramsOneDatabase();
    void databaseHeldByTool();
    void exitFromTrayMenu_data();
    void exitFromTrayMenu();
    void exitButtonQuits();
    void windowNamesItsDesktopEntry();
    void trayClickRaisesWindow();
    void closeWithoutTray();
    void trayComesLater();
    void launcherFirstStart_data();
    void launcherFirstStart();
    void launcherKeepsDatabase();
    void launcherReplacesEmptyDatabase();
    void launcherCannotCreateFolder();
    void launcherWithoutDisplayNotifies();
    void autostartEntry();
    void autostartEntryKeepsTheDataFolder_data();
    void autostartEntryKeepsTheDataFolder();

private:
    QProcessEnvironment environment(const Sandbox &sandbox, const QString &display);
    QProcess *launch(const Sandbox &sandbox, const QStringList &arguments,
                     const QString &executable = launcher);
    QStringList commandLine(const QProcess *process) const;
    QString workingFolder(const QProcess *process) const;
    QProcess *start(const Sandbox &sandbox, const QStringList &arguments = {},
                    const QString &display = QString(), const QString &file = program);
    QString runHelper(const QStringList &arguments, const QString &display = QString(),
                      int *exitCode = nullptr);
    QList<XWindow> windows(const QProcess *process, const QString &display = QString());
    XWindow mainWindow(const QProcess *process, const QString &display = QString());
    bool mainWindowViewable(const QProcess *process, const QString &display = QString());
    QString trayIcon(const QProcess *process, QPoint *centre = nullptr,
                     const QString &display = QString());
    QString startXServer(QProcess &server);
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

QProcessEnvironment TestProgram::environment(const Sandbox &sandbox, const QString &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program must meet the X server and the XEmbed tray host, never a
    // headless platform or another session's services.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    env.insert(QStringLiteral("HOME"), sandbox.home());
    if (sandbox.otherSession) {
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), sandbox.cache());
    } else {
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox.runtime());
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
    }
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    if (sandbox.withoutDisplay) {
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.remove(QStringLiteral("NIVLETS_DATA_DIR"));
    env.insert(sandbox.extra);
    return env;
}

QProcess *TestProgram::start(const Sandbox &sandbox, const QStringList &arguments,
                             const QString &display, const QString &file)
{
    auto process = std::make_unique<QProcess>();
    endWithTest(*process);
    process->setProcessEnvironment(environment(sandbox, display));
    process->setWorkingDirectory(sandbox.work());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(file, arguments);
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

namespace {
// The window asks for 620 x 570; its layout may need a few pixels more width
// with the style's margins, never less.
bool isMainWindowSize(const QSize &size)
{
    return size.height() == windowHeight && size.width() >= windowWidth &&
           size.width() < windowWidth + 60;
}
} // namespace

// The main window is the only top-level window of the program with its size
// and the normal window type; the tray menu, for one, is normal too.
XWindow TestProgram::mainWindow(const QProcess *process, const QString &display)
{
    const QList<XWindow> all = windows(process, display);
    for (const XWindow &w : all) {
        if (!w.embedded && w.type == QLatin1String("NORMAL") && isMainWindowSize(w.geometry.size()))
            return w;
    }
    return XWindow();
}

bool TestProgram::mainWindowViewable(const QProcess *process, const QString &display)
{
    return mainWindow(process, display).viewable;
}

QString TestProgram::trayIcon(const QProcess *process, QPoint *centre, const QString &display)
{
    int exitCode = -1;
    const QStringList f =
        runHelper({QStringLiteral("tray-icon"), QString::number(process->processId())}, display,
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
            !isMainWindowSize(w.geometry.size()))
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
    // The test command's X server has its tray host by now, or very soon;
    // any other display is looked at once, and one without a tray host is
    // not a place for this test.
    const bool testDisplay = TestSupport::onTestDisplay();
    int exitCode = -1;
    runHelper(
        {QStringLiteral("wait-tray"), testDisplay ? QStringLiteral("15") : QStringLiteral("0")},
        QString(), &exitCode);
    if (exitCode != 0 && !testDisplay)
        QSKIP("This test needs a system-tray host on $DISPLAY; it runs on the X server that "
              "scripts/test.sh starts (NIVLETS_TEST_DISPLAY equals DISPLAY there) or on a "
              "desktop with a tray.");
    QVERIFY2(exitCode == 0, "no system-tray host on $DISPLAY");

    // A second X server without a tray host; it writes its display number to
    // the descriptor given, here its standard output. Without -noreset it
    // would reset whenever its last client leaves and refuse connections
    // meanwhile.
    traylessDisplay = startXServer(trayless);
    QVERIFY(!traylessDisplay.isEmpty());
}

// Starts an X server of the test's own and returns its display name.
QString TestProgram::startXServer(QProcess &server)
{
    endWithTest(server);
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-noreset"),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server.waitForStarted(startTimeout))
        return QString();
    if (!QTest::qWaitFor([&] { return server.canReadLine(); }, waitTimeout))
        return QString();
    const QByteArray number = server.readLine().trimmed();
    return number.isEmpty() ? QString() : QLatin1Char(':') + QString::fromLatin1(number);
}

void TestProgram::cleanup()
{
    for (auto &process : processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        const qint64 pid = process->processId();
        const QString executable =
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        process->kill();
        process->waitForFinished();
        // The single-instance lock lies in the user's own home; a program
        // killed here must not leave its stale lock there for good.
        QLockFile lock(SingleInstance::lockFilePath(executable));
        qint64 owner = 0;
        if (!executable.isEmpty() && lock.getLockInfo(&owner, nullptr, nullptr) && owner == pid)
            lock.removeStaleLockFile();
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
                         .arg(w.id,
                              w.viewable ? QStringLiteral("viewable") : QStringLiteral("hidden"),
                              w.type)
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

// A start into the tray on a desktop whose tray is not up yet waits for it,
// with no icon anywhere: a second start must not send the user looking for one.
void TestProgram::secondStartWhileTheFirstWaitsForATray()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    const QString mark = SingleInstance::trayWaitPath(SingleInstance::lockFilePath(program));
    QProcess *first = start(sandbox, {QStringLiteral("startbg")}, traylessDisplay);
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mark), waitTimeout);

    QProcess *second = start(sandbox, {}, traylessDisplay);
    QVERIFY(second);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(
        !(box = findBox(second, QStringLiteral("Already starting!"), traylessDisplay)).isEmpty(),
        qPrintable(describe(second, traylessDisplay)), waitTimeout);
    verifyBoxText(second, box, QStringLiteral("Already starting!"), stillStartingText, Qt::AutoText,
                  traylessDisplay);
    closeWindow(box, traylessDisplay);
    verifyEnds(second, 1);
    QVERIFY(isRunning(first));
    for (const XWindow &w : windows(first, traylessDisplay))
        QVERIFY2(!w.viewable, qPrintable(describe(first, traylessDisplay)));
    QVERIFY(TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets.log"))).isEmpty());
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

    NIVLETS_REQUIRE_TEST_DISPLAY();
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
    QCOMPARE(sandbox.lockFiles().size(), 2);
    first->kill();
    QVERIFY(first->waitForFinished(startTimeout));
    QCOMPARE(first->exitStatus(), QProcess::CrashExit);
    // The dead instance's locks are still there; only their owner is gone.
    QCOMPARE(sandbox.lockFiles().size(), 2);

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

// One start from a session with a runtime folder, the next from one without
// it and with another home and cache: the same user's same program.
void TestProgram::lockIndependentOfEnvironment()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *first = start(sandbox, {QStringLiteral("startbg")});
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(first).isEmpty(), waitTimeout);
    QVERIFY(QFile::exists(SingleInstance::lockFilePath(program)));
    QCOMPARE(QFileInfo(SingleInstance::lockFolder()).permissions() &
                 ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    sandbox.otherSession = true;
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

// Two builds of the program (two program files) on one database: the second
// must not open the file the first is writing.
void TestProgram::twoProgramsOneDatabase()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    const QString other = QDir(sandbox.bin()).filePath(QStringLiteral("nivlets"));
    QVERIFY(QFile::copy(program, other));
    QVERIFY(QFile::setPermissions(other, QFile::permissions(program)));
    QProcess *first = start(sandbox, {QStringLiteral("startbg")});
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(first).isEmpty(), waitTimeout);
    const QByteArray rows = TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets")));

    QProcess *second = start(sandbox, {}, QString(), other);
    QVERIFY(second);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(!(box = findBox(second, QStringLiteral("Error"))).isEmpty(),
                              qPrintable(describe(second)), waitTimeout);
    QVERIFY(trayIcon(second).isEmpty());
    const QString text =
        QStringLiteral("The database in %1 is in use by another program (nivlets, process %2); "
                       "only one program at a time may work on it.")
            .arg(sandbox.work())
            .arg(first->processId());
    verifyBoxText(second, box, QStringLiteral("Error"), text, Qt::PlainText);
    closeWindow(box);
    verifyEnds(second, 1);
    QCOMPARE(TestSupport::readFile(sandbox.file(QStringLiteral("nivlets.log"))),
             QStringLiteral("Error: ") + text + QLatin1Char('\n'));
    QVERIFY(isRunning(first));
    QCOMPARE(TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets"))), rows);
}

// A tool of the project that writes the database takes the same lock.
void TestProgram::databaseHeldByTool()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    auto tool = std::make_unique<DatabaseLock>(sandbox.work());
    QVERIFY(tool->tryLock());
    QProcess *process = start(sandbox);
    QVERIFY(process);
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(!(box = findBox(process, QStringLiteral("Error"))).isEmpty(),
                              qPrintable(describe(process)), waitTimeout);
    const QString text =
        QStringLiteral("The database in %1 is in use by another program (tst_program, process "
                       "%2); only one program at a time may work on it.")
            .arg(sandbox.work())
            .arg(QCoreApplication::applicationPid());
    verifyBoxText(process, box, QStringLiteral("Error"), text, Qt::PlainText);
    closeWindow(box);
    verifyEnds(process, 1);
    QVERIFY(!mainWindowViewable(process));

    tool.reset();
    QProcess *again = start(sandbox);
    QVERIFY(again);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(again), waitTimeout);
}

void TestProgram::exitFromTrayMenu_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("in the tray") << false;
    // A shown window refuses to close; that must not keep the program alive.
    QTest::newRow("shown") << true;
}

void TestProgram::exitFromTrayMenu()
{
    QFETCH(bool, shown);
    NIVLETS_REQUIRE_TEST_DISPLAY();
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process =
        start(sandbox, shown ? QStringList() : QStringList{QStringLiteral("startbg")});
    QVERIFY(process);
    if (shown)
        QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
    clickTrayIcon(process, 3);
    QTRY_VERIFY_WITH_TIMEOUT(trayMenuOpen(process), waitTimeout);
    QCOMPARE(mainWindowViewable(process), shown);
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

void TestProgram::exitButtonQuits()
{
    NIVLETS_REQUIRE_TEST_DISPLAY();
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
    const QString id = QString::number(mainWindow(process).id.toULongLong(nullptr, 16));
    int exitCode = -1;
    // Alt+X is the accelerator of "E&xit".
    runHelper({QStringLiteral("xdotool"), QStringLiteral("windowfocus"), QStringLiteral("--sync"),
               id, QStringLiteral("key"), QStringLiteral("alt+x")},
              QString(), &exitCode);
    QCOMPARE(exitCode, 0);
    verifyEnds(process, 0);
    QVERIFY(sandbox.lockFiles().isEmpty());
}

// Docks and task bars find the menu entry and its icon through the window:
// the desktop entry's id in _KDE_NET_WM_DESKTOP_FILE, and the program's icon
// in every installed size in _NET_WM_ICON.
void TestProgram::windowNamesItsDesktopEntry()
{
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
    const QString id = mainWindow(process).id;
    QCOMPARE(runHelper({QStringLiteral("text"), id, QStringLiteral("_KDE_NET_WM_DESKTOP_FILE")})
                 .trimmed(),
             QStringLiteral("org.nivlets.nivlets"));
    const QStringList sizes =
        runHelper({QStringLiteral("icon-sizes"), id}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        QVERIFY2(sizes.contains(QStringLiteral("%1x%1").arg(side)), qPrintable(sizes.join(u' ')));
}

// A click on the tray icon brings a window that other windows cover to the
// front and gives it the keyboard.
void TestProgram::trayClickRaisesWindow()
{
    NIVLETS_REQUIRE_TEST_DISPLAY();
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process), waitTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process).isEmpty(), waitTimeout);
    const XWindow window = mainWindow(process);

    QWidget cover;
    cover.setWindowTitle(QStringLiteral("cover"));
    cover.setGeometry(window.geometry.adjusted(-20, -20, 20, 20));
    cover.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cover));
    cover.raise();
    cover.activateWindow();
    const auto id = [](const QString &hex) { return hex.toULongLong(nullptr, 16); };
    const auto above = [&](const QString &upper, const QString &lower) {
        const QStringList order =
            runHelper({QStringLiteral("stacking")}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        qsizetype up = -1;
        qsizetype low = -1;
        for (qsizetype i = 0; i < order.size(); ++i) {
            if (id(order.at(i)) == id(upper))
                up = i;
            if (id(order.at(i)) == id(lower))
                low = i;
        }
        return up >= 0 && low >= 0 && up > low;
    };
    const QString coverId = QStringLiteral("0x%1").arg(cover.winId(), 0, 16);
    QTRY_VERIFY_WITH_TIMEOUT(above(coverId, window.id), waitTimeout);

    clickTrayIcon(process, 1);
    QTRY_VERIFY_WITH_TIMEOUT(above(window.id, coverId), waitTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(id(runHelper({QStringLiteral("focus")}).trimmed()), id(window.id),
                              waitTimeout);
    QVERIFY(isRunning(process));
}

// When the tray host goes away nothing could bring a hidden window back, so
// closing the window ends the program.
void TestProgram::closeWithoutTray()
{
    QProcess server;
    QProcess tray;
    const auto stop = qScopeGuard([&] {
        for (QProcess *p : {&tray, &server}) {
            p->kill();
            p->waitForFinished();
        }
    });
    const QString display = startXServer(server);
    QVERIFY(!display.isEmpty());
    endWithTest(tray);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    tray.setProcessEnvironment(env);
    tray.setStandardOutputFile(QProcess::nullDevice());
    tray.setStandardErrorFile(QProcess::nullDevice());
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                QStringLiteral("--width"), QStringLiteral("200"), QStringLiteral("--heighttype"),
                QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("24")});
    QVERIFY(tray.waitForStarted(startTimeout));
    int exitCode = -1;
    runHelper({QStringLiteral("wait-tray"), QStringLiteral("30")}, display, &exitCode);
    QCOMPARE(exitCode, 0);

    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QProcess *process = start(sandbox, {}, display);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process, nullptr, display).isEmpty(), waitTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(process, display), waitTimeout);

    tray.kill();
    QVERIFY(tray.waitForFinished(startTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            int code = -1;
            runHelper({QStringLiteral("wait-tray"), QStringLiteral("0")}, display, &code);
            return code == 1;
        }(),
        waitTimeout);
    closeWindow(mainWindow(process, display).id, display);
    verifyEnds(process, 0);
    QVERIFY(sandbox.lockFiles().isEmpty());
}

QProcess *TestProgram::launch(const Sandbox &sandbox, const QStringList &arguments,
                              const QString &executable)
{
    auto process = std::make_unique<QProcess>();
    endWithTest(*process);
    process->setProcessEnvironment(environment(sandbox, QString()));
    process->setWorkingDirectory(sandbox.work());
    // Standard error holds the launcher's messages.
    process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process->start(executable, arguments);
    if (!process->waitForStarted(startTimeout))
        return nullptr;
    processes.push_back(std::move(process));
    return processes.back().get();
}

// What the process runs now: after the launcher's exec, the program.
QStringList TestProgram::commandLine(const QProcess *process) const
{
    QByteArray bytes =
        TestSupport::readBytes(QStringLiteral("/proc/%1/cmdline").arg(process->processId()));
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    QStringList arguments;
    for (const QByteArray &argument : bytes.split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    return arguments;
}

QString TestProgram::workingFolder(const QProcess *process) const
{
    return QFileInfo(QStringLiteral("/proc/%1/cwd").arg(process->processId())).canonicalFilePath();
}

namespace {

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

bool runsProgram(const QStringList &commandLine)
{
    return !commandLine.isEmpty() && canonical(commandLine.first()) == canonical(program);
}

// The arguments of a desktop entry's Exec value: first the escapes of a
// string value, then the quoting rules of the Exec key, then "%%".
QStringList execArguments(const QString &value)
{
    QString text;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            if (next == QLatin1Char('s'))
                text += QLatin1Char(' ');
            else if (next == QLatin1Char('n'))
                text += QLatin1Char('\n');
            else if (next == QLatin1Char('t'))
                text += QLatin1Char('\t');
            else if (next == QLatin1Char('r'))
                text += QLatin1Char('\r');
            else if (next == QLatin1Char('\\'))
                text += QLatin1Char('\\');
            else
                text += QLatin1Char('\\') + next;
        } else {
            text += value[i];
        }
    }
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool started = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                current += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                current += c;
        } else if (c == QLatin1Char('"')) {
            quoted = started = true;
        } else if (c == QLatin1Char(' ')) {
            if (started || !current.isEmpty())
                arguments << current;
            current.clear();
            started = false;
        } else {
            current += c;
        }
    }
    if (started || !current.isEmpty())
        arguments << current;
    for (QString &argument : arguments)
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return arguments;
}

} // namespace

// At login the panel with the tray may come up after the program: started into
// the tray, it shows nothing meanwhile and docks its icon once the tray is there.
void TestProgram::trayComesLater()
{
    QProcess server;
    const QString display = startXServer(server);
    QVERIFY(!display.isEmpty());
    Sandbox sandbox;
    QVERIFY(sandbox.copyDatabase());
    QElapsedTimer sinceStart;
    sinceStart.start();
    QProcess *process = start(sandbox, {QStringLiteral("startbg")}, display);
    QVERIFY(process);

    QTest::qWait(3000);
    QVERIFY2(isRunning(process), qPrintable(describe(process, display)));
    for (const XWindow &w : windows(process, display))
        QVERIFY2(!w.viewable, qPrintable(describe(process, display)));
    QTest::qWait(int(qMax<qint64>(0, 10000 - sinceStart.elapsed())));
    QVERIFY(isRunning(process));

    QProcess tray;
    endWithTest(tray);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    tray.setProcessEnvironment(env);
    tray.setProcessChannelMode(QProcess::SeparateChannels);
    tray.setStandardOutputFile(QProcess::nullDevice());
    tray.setStandardErrorFile(QProcess::nullDevice());
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                QStringLiteral("--width"), QStringLiteral("200"), QStringLiteral("--heighttype"),
                QStringLiteral("pixel"), QStringLiteral("--height"), QStringLiteral("24")});
    QVERIFY(tray.waitForStarted(startTimeout));

    QTRY_VERIFY2_WITH_TIMEOUT(!trayIcon(process, nullptr, display).isEmpty(),
                              qPrintable(describe(process, display)), 2 * waitTimeout);
    for (const XWindow &w : windows(process, display))
        QVERIFY2(w.embedded || !w.viewable, qPrintable(describe(process, display)));
    QVERIFY(isRunning(process));
    QVERIFY(TestSupport::readBytes(sandbox.file(QStringLiteral("nivlets.log"))).isEmpty());

    process->kill();
    process->waitForFinished();
    tray.kill();
    tray.waitForFinished();
    server.terminate();
    server.waitForFinished();
}

void TestProgram::launcherFirstStart_data()
{
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<QString>("folder");
    QTest::newRow("default") << QString() << QStringLiteral("home/.local/share/nivlets");
    QTest::newRow("XDG_DATA_HOME")
        << QStringLiteral("my data") << QStringLiteral("my data/nivlets");
    // The XDG rules ignore a relative path.
    QTest::newRow("relative XDG_DATA_HOME")
        << QStringLiteral("relative") << QStringLiteral("home/.local/share/nivlets");
}

void TestProgram::launcherFirstStart()
{
    QFETCH(QString, dataHome);
    QFETCH(QString, folder);
    Sandbox sandbox;
    if (dataHome == QLatin1String("relative"))
        sandbox.extra.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    else if (!dataHome.isEmpty())
        sandbox.extra.insert(QStringLiteral("XDG_DATA_HOME"), sandbox.path(dataHome));
    const QString data = sandbox.path(folder);
    QVERIFY(!QFileInfo::exists(data));

    const QStringList arguments{QStringLiteral("two words"), QStringLiteral("-x"),
                                QStringLiteral("startbg")};
    QProcess *process = launch(sandbox, arguments);
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process).isEmpty(), waitTimeout);
    const QStringList commandLine = this->commandLine(process);
    QVERIFY2(runsProgram(commandLine), qPrintable(commandLine.join(QLatin1Char(' '))));
    QCOMPARE(commandLine.mid(1), arguments);
    QCOMPARE(workingFolder(process), canonical(data));
    QCOMPARE(TestSupport::readBytes(QDir(data).filePath(QStringLiteral("nivlets"))),
             TestSupport::readBytes(database));
    QVERIFY(QDir(data)
                .entryList({QStringLiteral(".nivlets.new*")}, QDir::Files | QDir::Hidden)
                .isEmpty());
    QVERIFY(!QFileInfo::exists(sandbox.file(QStringLiteral("nivlets"))));

    // "startbg" reached the program: it sits in the tray only.
    QTest::qWait(300);
    for (const XWindow &w : windows(process))
        QVERIFY2(w.embedded || !w.viewable, qPrintable(describe(process)));
    QVERIFY(isRunning(process));
}

void TestProgram::launcherKeepsDatabase()
{
    Sandbox sandbox;
    const QString data = sandbox.dataFolder();
    const QString file = QDir(data).filePath(QStringLiteral("nivlets"));
    QVERIFY(QDir().mkpath(data));
    QVERIFY(QFile::copy(database, file));
    // The user's own data: a database that is no longer the delivered one.
    QVERIFY(TestSupport::execSql(file, QStringLiteral("PRAGMA user_version = 4242;")));
    const QByteArray before = TestSupport::readBytes(file);
    QVERIFY(before != TestSupport::readBytes(database));

    for (int round = 0; round < 2; ++round) {
        QProcess *process = launch(sandbox, {});
        QVERIFY(process);
        QTRY_VERIFY2_WITH_TIMEOUT(mainWindowViewable(process), qPrintable(describe(process)),
                                  waitTimeout);
        QVERIFY(runsProgram(commandLine(process)));
        QCOMPARE(commandLine(process).size(), 1);
        QCOMPARE(workingFolder(process), canonical(data));
        QCOMPARE(TestSupport::readBytes(file), before);
        process->kill();
        process->waitForFinished();
        QCOMPARE(TestSupport::readBytes(file), before);
    }
}

// A file of zero bytes holds no cards; it is what a start of the program in
// a folder without a database leaves behind.
void TestProgram::launcherReplacesEmptyDatabase()
{
    Sandbox sandbox;
    sandbox.extra.insert(QStringLiteral("NIVLETS_DATA_DIR"), sandbox.path(QStringLiteral("own")));
    const QString file = sandbox.path(QStringLiteral("own/nivlets"));
    QVERIFY(QDir().mkpath(sandbox.path(QStringLiteral("own"))));
    {
        QFile empty(file);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    QCOMPARE(QFileInfo(file).size(), 0);
    QProcess *process = launch(sandbox, {QStringLiteral("startbg")});
    QVERIFY(process);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(process).isEmpty(), waitTimeout);
    QCOMPARE(TestSupport::readBytes(file), TestSupport::readBytes(database));
    QCOMPARE(workingFolder(process), canonical(sandbox.path(QStringLiteral("own"))));
    QVERIFY(!QFileInfo::exists(sandbox.dataFolder()));
}

void TestProgram::launcherCannotCreateFolder()
{
    Sandbox sandbox;
    const QString blocker = sandbox.path(QStringLiteral("blocker"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("not a folder"), 12);
    }
    sandbox.extra.insert(QStringLiteral("XDG_DATA_HOME"), blocker + QStringLiteral("/share"));
    QProcess *process = launch(sandbox, {QStringLiteral("startbg")});
    QVERIFY(process);
    // A start from the menu shows no standard error: the reason comes in a
    // box as well, until the user has closed it.
    QString box;
    QTRY_VERIFY2_WITH_TIMEOUT(!(box = findBox(process, QStringLiteral("Error"))).isEmpty(),
                              qPrintable(describe(process)), waitTimeout);
    QString message = QString::fromLocal8Bit(process->readAllStandardError());
    QVERIFY2(message.startsWith(QStringLiteral("nivlets: cannot create the data folder ") +
                                blocker + QStringLiteral("/share/nivlets")),
             qPrintable(message));
    const QString reason = message.mid(9).trimmed();
    verifyBoxText(process, box, QStringLiteral("Error"),
                  QStringLiteral("Could not start nivlets: ") + reason, Qt::PlainText);
    QVERIFY(isRunning(process));
    closeWindow(box);
    verifyEnds(process, 1);
    message += QString::fromLocal8Bit(process->readAllStandardError());
    QCOMPARE(message.count(QLatin1Char('\n')), 1);
    QCOMPARE(TestSupport::readBytes(blocker), QByteArray("not a folder"));
}

// Without a display no box can be shown; the desktop's notification
// service, here one of the test's own on a bus of its own, shows the reason.
void TestProgram::launcherWithoutDisplayNotifies()
{
    QProcess bus;
    endWithTest(bus);
    bus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address")});
    QVERIFY2(bus.waitForStarted(startTimeout), "dbus-daemon is needed (package dbus-daemon)");
    const auto stopBus = qScopeGuard([&] {
        bus.kill();
        bus.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), waitTimeout);
    const QString address = QString::fromUtf8(bus.readLine().trimmed());
    QDBusConnection connection =
        QDBusConnection::connectToBus(address, QStringLiteral("notifications"));
    const auto disconnect =
        qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("notifications")); });
    QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
    NotificationService service;
    QVERIFY(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                      QDBusConnection::ExportAllSlots));
    QVERIFY(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));

    Sandbox sandbox;
    sandbox.extra.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    sandbox.withoutDisplay = true;
    QProcess *process = launch(sandbox, {QStringLiteral("startbg")});
    QVERIFY(process);
    // The service answers from this event loop, so the test must keep it running.
    QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, waitTimeout);
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 1);
    const QString reason =
        QStringLiteral("nivlets needs a desktop session with a system tray (DISPLAY is not set).");
    QCOMPARE(QString::fromLocal8Bit(process->readAllStandardError()),
             QStringLiteral("nivlets: ") + reason + QLatin1Char('\n'));
    QCOMPARE(service.notes.size(), 1);
    QCOMPARE(service.notes.first(),
             (QStringList{QStringLiteral("nivlets"), QStringLiteral("nivlets"),
                          QStringLiteral("Could not start nivlets"), reason}));
    QCOMPARE(service.urgency, 2);
}

// The autostart entry names the launcher wherever it lives; a folder name
// full of characters that a desktop entry must quote proves the quoting.
void TestProgram::autostartEntry()
{
    Sandbox sandbox;
    const QString tree = sandbox.path(QStringLiteral("odd \"tree\" $HOME `x` 100% \\ 'end'"));
    for (const QString &sub :
         {QStringLiteral("launcher"), QStringLiteral("bin"), QStringLiteral("data")})
        QVERIFY(QDir().mkpath(QDir(tree).filePath(sub)));
    const QString copy = QDir(tree).filePath(QStringLiteral("launcher/nivlets"));
    // The launcher of the build tree finds the program and the database
    // beside it, as in the build tree.
    QVERIFY(QFile::copy(launcher, copy));
    QVERIFY(QFile::copy(program, QDir(tree).filePath(QStringLiteral("bin/nivlets"))));
    QVERIFY(QFile::copy(database, QDir(tree).filePath(QStringLiteral("data/nivlets"))));
    const QString entry =
        sandbox.path(QStringLiteral("home/.config/autostart/org.nivlets.nivlets.desktop"));

    QProcess *enable = launch(sandbox, {QStringLiteral("--enable-autostart")}, copy);
    QVERIFY(enable);
    verifyEnds(enable, 0);
    QVERIFY(QFileInfo::exists(entry));

    QProcess validate;
    validate.setProcessChannelMode(QProcess::ForwardedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY(validate.waitForFinished(startTimeout));
    QCOMPARE(validate.exitCode(), 0);

    QString exec;
    for (const QString &line : TestSupport::readFile(entry).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            exec = line.mid(5);
    }
    const QStringList command = execArguments(exec);
    QCOMPARE(command, QStringList({copy, QStringLiteral("startbg")}));

    // What the session runs at login starts the program in the tray.
    QProcess *atLogin = launch(sandbox, command.mid(1), command.first());
    QVERIFY(atLogin);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(atLogin).isEmpty(), waitTimeout);
    QCOMPARE(canonical(commandLine(atLogin).value(0)),
             canonical(QDir(tree).filePath(QStringLiteral("bin/nivlets"))));
    QCOMPARE(workingFolder(atLogin), canonical(sandbox.dataFolder()));
    atLogin->kill();
    atLogin->waitForFinished();

    for (int round = 0; round < 2; ++round) {
        QProcess *disable = launch(sandbox, {QStringLiteral("--disable-autostart")}, copy);
        QVERIFY(disable);
        verifyEnds(disable, 0);
        QVERIFY(!QFileInfo::exists(entry));
    }
}

void TestProgram::autostartEntryKeepsTheDataFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("relative");
    QTest::newRow("absolute") << QStringLiteral("odd \"data\" $HOME `x` 100% \\ 'end'") << false;
    // Relative to the folder the command was run in, as it would be at once.
    QTest::newRow("relative") << QStringLiteral("mine") << true;
}

// The session starts the entry without the NIVLETS_DATA_DIR of the shell in
// which it was written; the entry names the folder itself.
void TestProgram::autostartEntryKeepsTheDataFolder()
{
    QFETCH(QString, name);
    QFETCH(bool, relative);
    Sandbox sandbox;
    const QString given = relative ? name : sandbox.path(name);
    // The launcher runs in the sandbox's working folder.
    const QString data = relative ? sandbox.file(name) : sandbox.path(name);
    sandbox.extra.insert(QStringLiteral("NIVLETS_DATA_DIR"), given);
    const QString entry =
        sandbox.path(QStringLiteral("home/.config/autostart/org.nivlets.nivlets.desktop"));
    QProcess *enable = launch(sandbox, {QStringLiteral("--enable-autostart")});
    QVERIFY(enable);
    verifyEnds(enable, 0);

    QProcess validate;
    validate.setProcessChannelMode(QProcess::ForwardedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY(validate.waitForFinished(startTimeout));
    QCOMPARE(validate.exitCode(), 0);
    QString exec;
    for (const QString &line : TestSupport::readFile(entry).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            exec = line.mid(5);
    }
    const QStringList command = execArguments(exec);
    QCOMPARE(command,
             QStringList({QStringLiteral("env"), QStringLiteral("NIVLETS_DATA_DIR=") + data,
                          canonical(launcher), QStringLiteral("startbg")}));

    // At login: the session's environment, without the variable.
    sandbox.extra.clear();
    QProcess *atLogin = launch(sandbox, command.mid(1), command.first());
    QVERIFY(atLogin);
    QTRY_VERIFY_WITH_TIMEOUT(!trayIcon(atLogin).isEmpty(), waitTimeout);
    QCOMPARE(workingFolder(atLogin), canonical(data));
    QVERIFY(QFileInfo(QDir(data).filePath(QStringLiteral("nivlets"))).size() > 0);
    QVERIFY(!QFileInfo::exists(sandbox.dataFolder()));
}

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
