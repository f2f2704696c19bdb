#include "errorboxpresenter.h"

#include "log.h"

#include <QMessageBox>

namespace {
void showErrorBox(const QString &text)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Error"));
    // Messages carry user data and SQLite's words; neither is markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.exec();
}
} // namespace

void installErrorBoxPresenter()
{
    setErrorPresenter(showErrorBox);
}
