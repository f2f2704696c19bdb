#include "aboutdialog.h"
#include "testsupport.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QTest>
#include <QVBoxLayout>

using TestSupport::child;
using TestSupport::runModal;

namespace {

QLabel *labelAt(QLayout *layout, int index)
{
    QLayoutItem *item = layout->itemAt(index);
    return item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
}

int spacingAt(QLayout *layout, int index)
{
    QLayoutItem *item = layout->itemAt(index);
    QSpacerItem *spacer = item ? item->spacerItem() : nullptr;
    if (!spacer)
        return -1;
    return qobject_cast<QVBoxLayout *>(layout) ? spacer->sizeHint().height()
                                               : spacer->sizeHint().width();
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void buildsTheBox();
    void textsAreShownAsTheyAre();
    void legalNoticeNamesTheLicence();
    void closes_data();
    void closes();
};

void TestAbout::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
}

void TestAbout::buildsTheBox()
{
    QWidget parent;
    AboutDialog box(&parent);
    QCOMPARE(box.parentWidget(), &parent);
    QCOMPARE(box.windowTitle(), QStringLiteral("About nivlets"));
    QCOMPARE(box.size(), QSize(440, 250));

    auto *layout = qobject_cast<QVBoxLayout *>(box.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 9);

    QLabel *header = labelAt(layout, 0);
    QVERIFY(header);
    QCOMPARE(header->pixmap().size(), QSize(420, 98));
    QCOMPARE(layout->stretch(0), 0);
    QCOMPARE(layout->itemAt(0)->alignment(), Qt::Alignment());
    QCOMPARE(spacingAt(layout, 1), 10);

    QLabel *product = labelAt(layout, 2);
    QVERIFY(product);
    QCOMPARE(product->text(), QStringLiteral("<b>nivlets 1.0.3</b>"));
    QCOMPARE(product->textFormat(), Qt::RichText);
    QCOMPARE(spacingAt(layout, 3), 5);

    QLabel *build = labelAt(layout, 4);
    QVERIFY(build);
    QCOMPARE(build->text(), QStringLiteral("Built on Dec. 20. 2009"));
    QCOMPARE(spacingAt(layout, 5), 10);

    QVERIFY(layout->itemAt(6)->spacerItem());
    QCOMPARE(layout->stretch(6), 1);

    QLabel *web = labelAt(layout, 7);
    QVERIFY(web);
    QCOMPARE(web->text(), QString::fromLatin1(AboutDialog::webAddress));

    auto *bottom = qobject_cast<QHBoxLayout *>(layout->itemAt(8)->layout());
    QVERIFY(bottom);
    QCOMPARE(layout->stretch(8), 0);
    QCOMPARE(bottom->count(), 4);
    QLabel *legal = labelAt(bottom, 0);
    QVERIFY(legal);
    QCOMPARE(legal->text(), QString::fromUtf8(AboutDialog::legalNotice));
    QVERIFY(bottom->itemAt(1)->spacerItem());
    QCOMPARE(bottom->stretch(1), 2);
    QCOMPARE(bottom->itemAt(2)->widget(), child<QPushButton>(&box, "okButton"));
    QCOMPARE(spacingAt(bottom, 3), 1);

    QCOMPARE(child<QPushButton>(&box, "okButton")->text(), QStringLiteral("Ok"));
    QVERIFY(child<QPushButton>(&box, "okButton")->isDefault());
    QCOMPARE(child<QPushButton>(&box, "okButton")->minimumWidth(), 50);
    QCOMPARE(child<QPushButton>(&box, "okButton")->maximumWidth(), 50);
}

void TestAbout::textsAreShownAsTheyAre()
{
    AboutDialog box(nullptr);
    const QList<QLabel *> labels = box.findChildren<QLabel *>();
    QCOMPARE(labels.size(), 5);
    for (QLabel *label : labels) {
        // Nothing in the box opens a browser or can be clicked.
        QVERIFY(!label->openExternalLinks());
        if (!label->text().isEmpty() && label->text() != QStringLiteral("<b>nivlets 1.0.3</b>"))
            QCOMPARE(label->textFormat(), Qt::PlainText);
        else if (label->text().isEmpty())
            QVERIFY(!label->pixmap().isNull());
    }
}

void TestAbout::legalNoticeNamesTheLicence()
{
    const QString licence =
        TestSupport::readFile(QStringLiteral(NIVLETS_SOURCE_DIR "/LICENSE")).simplified();
    if (licence.isEmpty())
        QSKIP("The source tree has no LICENSE file to compare the notice with.");
    const QString notice = QString::fromUtf8(AboutDialog::legalNotice);
    if (licence.startsWith(QStringLiteral("GNU GENERAL PUBLIC LICENSE Version 3"))) {
        QVERIFY2(notice.contains(QStringLiteral("GNU GPL")) &&
                     notice.contains(QStringLiteral("version 3 or later")),
                 qPrintable(notice));
    } else if (licence.startsWith(QStringLiteral("MIT License"))) {
        QVERIFY2(notice.contains(QStringLiteral("MIT")), qPrintable(notice));
    } else {
        QFAIL(qPrintable(QStringLiteral("The notice knows nothing of this licence: ") +
                         licence.left(80)));
    }
}

void TestAbout::closes_data()
{
    QTest::addColumn<int>("way");
    QTest::addColumn<int>("result");
    QTest::newRow("Return") << 0 << int(QDialog::Accepted);
    QTest::newRow("Escape") << 1 << int(QDialog::Rejected);
    QTest::newRow("close button") << 2 << int(QDialog::Rejected);
    QTest::newRow("Ok clicked") << 3 << int(QDialog::Accepted);
}

void TestAbout::closes()
{
    QFETCH(int, way);
    QFETCH(int, result);
    QWidget parent;
    AboutDialog box(&parent);
    const int outcome = runModal(&box, [&] {
        switch (way) {
        case 0:
            QTest::keyClick(&box, Qt::Key_Return);
            break;
        case 1:
            QTest::keyClick(&box, Qt::Key_Escape);
            break;
        case 2:
            box.close();
            break;
        default:
            QTest::mouseClick(child<QPushButton>(&box, "okButton"), Qt::LeftButton);
            break;
        }
    });
    QCOMPARE(outcome, result);
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
