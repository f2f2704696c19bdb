// The wait for a system tray at a start into the tray, on a clock and a tray
// probe of the test's own, so no case sleeps through the minute.

#include "traywait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestTrayWait : public QObject
{
    Q_OBJECT

private slots:
    void trayAlreadyThere();
    void trayAppearsWhileWaiting();
    void givesUpAfterAMinute();
    void limitGiven();
    void eventsRunWhileWaiting();
    void noTrayOnThisPlatform();
};

namespace {

// A clock that moves on by a step whenever the probe is asked.
struct FakeTray
{
    qint64 now = 1000;
    qint64 step = 0;
    int probes = 0;
    int trayAtProbe = -1;

    TrayWait waiter()
    {
        TrayWait wait;
        wait.clock = [this] { return now; };
        wait.probe = [this] {
            ++probes;
            now += step;
            return trayAtProbe >= 0 && probes >= trayAtProbe;
        };
        wait.pollInterval = 0;
        return wait;
    }
};

} // namespace

void TestTrayWait::trayAlreadyThere()
{
    FakeTray tray;
    tray.trayAtProbe = 1;
    QVERIFY(tray.waiter().waitForSystemTray());
    QCOMPARE(tray.probes, 1);
}

void TestTrayWait::trayAppearsWhileWaiting()
{
    FakeTray tray;
    tray.step = 10000;
    tray.trayAtProbe = 5;
    QVERIFY(tray.waiter().waitForSystemTray());
    QCOMPARE(tray.probes, 5);
}

void TestTrayWait::givesUpAfterAMinute()
{
    FakeTray tray;
    tray.step = 7000;
    QVERIFY(!tray.waiter().waitForSystemTray());
    // 9 × 7 s is the first count of steps that reaches 60 s.
    QCOMPARE(tray.probes, 9);
    QCOMPARE(tray.now - 1000, 63000);
}

void TestTrayWait::limitGiven()
{
    FakeTray tray;
    tray.step = 1000;
    QVERIFY(!tray.waiter().waitForSystemTray(5000));
    QCOMPARE(tray.probes, 5);

    // A tray that comes at the very last look still counts.
    FakeTray late;
    late.step = 1000;
    late.trayAtProbe = 5;
    QVERIFY(late.waiter().waitForSystemTray(5000));
}

// The tray host announces itself through the window system's events, so the
// wait must keep the event loop running.
void TestTrayWait::eventsRunWhileWaiting()
{
    bool delivered = false;
    QTimer::singleShot(20, this, [&] { delivered = true; });
    TrayWait wait;
    wait.probe = [&] { return delivered; };
    wait.pollInterval = 5;
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(wait.waitForSystemTray(10000));
    QVERIFY(elapsed.elapsed() < 5000);
}

// On the offscreen platform there is never a tray: the real probe and clock
// give up once the limit has passed, not before.
void TestTrayWait::noTrayOnThisPlatform()
{
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!TrayWait().waitForSystemTray(600));
    QVERIFY2(elapsed.elapsed() >= 600, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(TestTrayWait)
#include "tst_traywait.moc"
