#include "errorboxpresenter.h"

#include "log.h"

#include <QMessageBox>

namespace {
void showErrorBox(const QString &text)
{
    errorBox(text)->exec();
}
} // namespace

std::unique_ptr<QMessageBox> errorBox(const QString &text)
{
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(QStringLiteral("Error"));
    // Messages carry user data and SQLite's words; neither is markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    return box;
}

void installErrorBoxPresenter()
{
    setErrorPresenter(showErrorBox);
}
