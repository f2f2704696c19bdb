#include "aboutdialog.h"

#include "guiutil.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

const char AboutDialog::webAddress[] = "https://nivlets.example.org/";
// Names the licence of the LICENSE file at the top of the source tree.
const char AboutDialog::legalNotice[] = "Free software under the GNU GPL, version 3 or later.";

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    resize(440, 250);
    setWindowTitle(QStringLiteral("About nivlets"));

    auto *layout = new QVBoxLayout;

    auto *header = new QLabel;
    header->setPixmap(QPixmap(QStringLiteral(":/challengeheader.png")));
    layout->addWidget(header, 0);
    layout->addSpacing(10);

    auto *product = new QLabel(QStringLiteral("<b>nivlets 1.0.3</b>"));
    product->setTextFormat(Qt::RichText);
    layout->addWidget(product);
    layout->addSpacing(5);

    auto *build = new QLabel(QStringLiteral("Built on Dec. 20. 2009"));
    build->setTextFormat(Qt::PlainText);
    layout->addWidget(build);
    layout->addSpacing(10);
    layout->addStretch(1);

    auto *web = new QLabel(QString::fromLatin1(webAddress));
    web->setTextFormat(Qt::PlainText);
    layout->addWidget(web);

    auto *bottomRow = new QHBoxLayout;
    auto *legal = new QLabel(QString::fromUtf8(legalNotice));
    legal->setTextFormat(Qt::PlainText);
    bottomRow->addWidget(legal);
    bottomRow->addStretch(2);
    QPushButton *okButton = GuiUtil::named(GuiUtil::button("Ok", 50), "okButton");
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &AboutDialog::accept);
    bottomRow->addWidget(okButton);
    bottomRow->addSpacing(1);
    layout->addLayout(bottomRow, 0);

    setLayout(layout);
}
