#include "startfailure.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace {

const char argument[] = "--show-start-failure";

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void showBox(const QString &reason)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Error"));
    // Paths and the system's own words, never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("Could not start nivlets: %1").arg(reason));
    box.exec();
}

// The Desktop Notifications protocol; a desktop without the service, or a
// session without a bus, leaves the launcher's standard error as the only word.
void notify(const QString &reason)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    // Critical: it stays until the user has seen it.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
    call << QStringLiteral("nivlets") << uint(0) << QStringLiteral("nivlets")
         << QStringLiteral("Could not start nivlets") << reason << QStringList() << hints
         << int(-1);
    QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

} // namespace

bool isStartFailureCall(int argc, char *argv[])
{
    return argc == 3 && qstrcmp(argv[1], argument) == 0;
}

int showStartFailure(int argc, char *argv[])
{
    const QString reason = QString::fromLocal8Bit(argv[2]);
    if (hasDisplay()) {
        QApplication app(argc, argv);
        showBox(reason);
    } else {
        QCoreApplication app(argc, argv);
        notify(reason);
    }
    return 1;
}
