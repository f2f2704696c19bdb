#include "traywait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSystemTrayIcon>
#include <QTimer>

TrayWait::TrayWait()
    : clock([] {
          static QElapsedTimer timer;
          if (!timer.isValid())
              timer.start();
          return timer.elapsed();
      }),
      probe(&QSystemTrayIcon::isSystemTrayAvailable), pollInterval(defaultPollInterval)
{
}

bool TrayWait::waitForSystemTray(int limit)
{
    const qint64 start = clock();
    if (probe())
        return true;

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(pollInterval);
    bool found = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        found = probe();
        if (found || clock() - start >= limit)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return found;
}
