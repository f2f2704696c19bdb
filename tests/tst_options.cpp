#include "log.h"
#include "nivletcore.h"
#include "options.h"
#include "optionsdialog.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using TestSupport::BoxCatcher;
using TestSupport::runModal;
using TestSupport::WorkDir;

namespace {

const QString minutesMessage =
    QStringLiteral("Please provide a whole number for 'minutes' between 1 and 240.");

// The options row as "auto_ch|auto_ch_interval|puzzle_affects_rates".
QString storedOptions()
{
    return TestSupport::rows(
               QStringLiteral(
                   "SELECT auto_ch, auto_ch_interval, puzzle_affects_rates FROM options"))
        .join(QLatin1Char('\n'));
}

QString cached(const Options &o)
{
    return QStringLiteral("%1|%2|%3")
        .arg(int(o.autoCh))
        .arg(o.autoChInterval)
        .arg(int(o.puzzleAffectsRates));
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void buildsTheWindow();
    void readsNothingUntilLoaded();
    void showsStoredMinutes();
    void minutesFromSeconds_data();
    void minutesFromSeconds();
    void fieldFollowsTheCheckBox();
    void okStoresSeconds_data();
    void okStoresSeconds();
    void returnKeySaves();
    void invalidMinutesStoreNothing_data();
    void invalidMinutesStoreNothing();
    void invalidMinutesInDisabledField();
    void cancelAfterChangingEverything_data();
    void cancelAfterChangingEverything();
    void unreadableOptions();
    void failingSaveStaysOpen();
    void savedOptionsSeenAtOnce();

private:
    bool openStore(const QString &extraSql = QString());
    QStringList takeBoxes();

    std::unique_ptr<WorkDir> work;
    std::unique_ptr<BoxCatcher> catcher;
    std::unique_ptr<NivletCore> core;
};

void TestOptions::init()
{
    work = std::make_unique<WorkDir>();
    QVERIFY(work->isValid());
    openLog();
    catcher = std::make_unique<BoxCatcher>();
}

void TestOptions::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    const QStringList leftOver = takeBoxes();
    core.reset();
    catcher.reset();
    closeLog();
    work.reset();
    QVERIFY2(leftOver.isEmpty(), qPrintable("unexpected boxes: " + leftOver.join(" / ")));
}

bool TestOptions::openStore(const QString &extraSql)
{
    core = TestSupport::openStore(extraSql);
    return core != nullptr;
}

QStringList TestOptions::takeBoxes()
{
    QStringList result;
    if (!catcher)
        return result;
    for (int i = 0; i < catcher->texts.size(); ++i)
        result << catcher->titles.value(i) + QStringLiteral(": ") + catcher->texts.at(i);
    catcher->clear();
    return result;
}

void TestOptions::buildsTheWindow()
{
    QVERIFY(openStore());
    QWidget parent;
    OptionsDialog dialog(&parent, core.get());
    QCOMPARE(dialog.parentWidget(), &parent);
    QCOMPARE(dialog.core, core.get());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));

    auto *layout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 3);

    auto *intervalRow = qobject_cast<QHBoxLayout *>(layout->itemAt(0)->layout());
    QVERIFY(intervalRow);
    QCOMPARE(intervalRow->alignment(), Qt::AlignLeft);
    QCOMPARE(intervalRow->count(), 3);
    QCOMPARE(intervalRow->itemAt(0)->widget(), dialog.autoChCheck);
    QCOMPARE(dialog.autoChCheck->text(), QStringLiteral("Automatically challenge me every"));
    QCOMPARE(intervalRow->itemAt(1)->widget(), dialog.intervalEdit);
    QCOMPARE(dialog.intervalEdit->minimumWidth(), 40);
    QCOMPARE(dialog.intervalEdit->maximumWidth(), 40);
    auto *unit = qobject_cast<QLabel *>(intervalRow->itemAt(2)->widget());
    QVERIFY(unit);
    QCOMPARE(unit->text(), QStringLiteral("minutes (1-240)"));

    QCOMPARE(layout->itemAt(1)->widget(), dialog.puzzleRatesCheck);
    QCOMPARE(dialog.puzzleRatesCheck->text(),
             QStringLiteral("Cross-word puzzle results affect knowledge rates."));

    auto *buttonRow = qobject_cast<QHBoxLayout *>(layout->itemAt(2)->layout());
    QVERIFY(buttonRow);
    QCOMPARE(buttonRow->alignment(), Qt::AlignLeft);
    QCOMPARE(buttonRow->itemAt(0)->widget(), dialog.okButton);
    QCOMPARE(buttonRow->itemAt(1)->widget(), dialog.cancelButton);
    QCOMPARE(dialog.okButton->text(), QStringLiteral("Ok"));
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Cancel"));
    QVERIFY(dialog.okButton->isDefault());
    QVERIFY(!dialog.cancelButton->isDefault());
    for (QPushButton *button : {dialog.okButton, dialog.cancelButton}) {
        QCOMPARE(button->minimumWidth(), 60);
        QCOMPARE(button->maximumWidth(), 60);
    }
}

void TestOptions::readsNothingUntilLoaded()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(!core->cachedOptions());
    QVERIFY(dialog.intervalEdit->text().isEmpty());
    QVERIFY(dialog.loadOptions());
    QVERIFY(core->cachedOptions());
}

void TestOptions::showsStoredMinutes()
{
    QVERIFY(openStore("UPDATE options SET auto_ch = 1, auto_ch_interval = 900, "
                      "puzzle_affects_rates = 0;"));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    QVERIFY(dialog.autoChCheck->isChecked());
    QCOMPARE(dialog.intervalEdit->text(), QStringLiteral("15"));
    QVERIFY(dialog.intervalEdit->isEnabled());
    QVERIFY(!dialog.puzzleRatesCheck->isChecked());
}

void TestOptions::minutesFromSeconds_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("shown");
    QTest::newRow("900") << 900 << "15";
    QTest::newRow("30") << 30 << "1";
    QTest::newRow("0") << 0 << "1";
    QTest::newRow("150") << 150 << "2";
    QTest::newRow("119") << 119 << "1";
    QTest::newRow("14400") << 14400 << "240";
}

void TestOptions::minutesFromSeconds()
{
    QFETCH(int, seconds);
    QFETCH(QString, shown);
    QVERIFY(openStore());
    // The store keeps a hand-edited interval in range when it reads the
    // file; the record it hands out is what the dialog divides.
    Options *options = core->options();
    QVERIFY(options);
    options->autoChInterval = seconds;
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    QCOMPARE(dialog.intervalEdit->text(), shown);
}

void TestOptions::fieldFollowsTheCheckBox()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    QVERIFY(!dialog.autoChCheck->isChecked());
    QVERIFY(!dialog.intervalEdit->isEnabled());
    QVERIFY(dialog.puzzleRatesCheck->isChecked());

    dialog.autoChCheck->setChecked(true);
    QVERIFY(dialog.intervalEdit->isEnabled());
    dialog.autoChCheck->setChecked(false);
    QVERIFY(!dialog.intervalEdit->isEnabled());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.autoChCheck, Qt::LeftButton);
    QVERIFY(dialog.autoChCheck->isChecked());
    QVERIFY(dialog.intervalEdit->isEnabled());
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));
}

void TestOptions::okStoresSeconds_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("240") << "240"
                         << "1|14400|0";
    QTest::newRow("1") << "1"
                       << "1|60|0";
    QTest::newRow("blanks around") << " 7 "
                                   << "1|420|0";
}

void TestOptions::okStoresSeconds()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    const int result = runModal(&dialog, [&] {
        QTest::mouseClick(dialog.autoChCheck, Qt::LeftButton);
        QTest::mouseClick(dialog.puzzleRatesCheck, Qt::LeftButton);
        dialog.intervalEdit->setText(typed);
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(storedOptions(), stored);
    QCOMPARE(cached(*core->options()), stored);
}

void TestOptions::returnKeySaves()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    const int result = runModal(&dialog, [&] {
        dialog.autoChCheck->setChecked(true);
        dialog.intervalEdit->setFocus();
        dialog.intervalEdit->setText(QStringLiteral("3"));
        QTest::keyClick(dialog.intervalEdit, Qt::Key_Return);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(storedOptions(), QStringLiteral("1|180|1"));
}

void TestOptions::invalidMinutesStoreNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("0") << "0";
    QTest::newRow("241") << "241";
    QTest::newRow("negative") << "-5";
    QTest::newRow("letters") << "ten";
    QTest::newRow("digits and letters") << "10m";
    QTest::newRow("fraction") << "1.5";
    QTest::newRow("nothing") << "";
    QTest::newRow("huge") << "99999999999";
}

void TestOptions::invalidMinutesStoreNothing()
{
    QFETCH(QString, typed);
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    bool stayedOpen = false;
    const int result = runModal(&dialog, [&] {
        dialog.autoChCheck->setChecked(true);
        dialog.intervalEdit->setText(typed);
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        QTRY_COMPARE(catcher->texts.size(), 1);
        stayedOpen = dialog.isVisible() && dialog.intervalEdit->text() == typed;
        dialog.reject();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(takeBoxes(), QStringList{"Error: " + minutesMessage});
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));
    QCOMPARE(cached(*core->options()), QStringLiteral("0|900|1"));
    QVERIFY(TestSupport::readFile(work->file("nivlets.log")).contains("Error: " + minutesMessage));
}

void TestOptions::invalidMinutesInDisabledField()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    dialog.intervalEdit->setText(QStringLiteral("0"));
    dialog.puzzleRatesCheck->setChecked(false);
    QVERIFY(!dialog.intervalEdit->isEnabled());
    dialog.onOk();
    QCOMPARE(takeBoxes(), QStringList{"Error: " + minutesMessage});
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));

    dialog.intervalEdit->setText(QStringLiteral("20"));
    dialog.onOk();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(storedOptions(), QStringLiteral("0|1200|0"));
}

void TestOptions::cancelAfterChangingEverything_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("closing the window") << 2;
}

void TestOptions::cancelAfterChangingEverything()
{
    QFETCH(int, way);
    QVERIFY(openStore("UPDATE options SET auto_ch = 1, auto_ch_interval = 600;"));
    Options *before = core->options();
    QVERIFY(before);
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    const int result = runModal(&dialog, [&] {
        QTest::mouseClick(dialog.autoChCheck, Qt::LeftButton);
        QTest::mouseClick(dialog.puzzleRatesCheck, Qt::LeftButton);
        dialog.intervalEdit->setText(QStringLiteral("42"));
        QVERIFY(!dialog.autoChCheck->isChecked());
        QVERIFY(!dialog.puzzleRatesCheck->isChecked());
        if (way == 0)
            QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
        else if (way == 1)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(storedOptions(), QStringLiteral("1|600|1"));
    QCOMPARE(core->options(), before);
    QCOMPARE(cached(*before), QStringLiteral("1|600|1"));
}

void TestOptions::unreadableOptions()
{
    QVERIFY(openStore("DROP TABLE options;"));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(!dialog.loadOptions());
    QCOMPARE(takeBoxes(), QStringList{"Error: Could not get options from database. error code: 1 "
                                      "error message: no such table: options"});
    QVERIFY(!dialog.isVisible());
}

void TestOptions::failingSaveStaysOpen()
{
    QVERIFY(openStore("CREATE TRIGGER keep_options BEFORE UPDATE ON options "
                      "BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    bool stayedOpen = false;
    const int result = runModal(&dialog, [&] {
        dialog.autoChCheck->setChecked(true);
        dialog.intervalEdit->setText(QStringLiteral("5"));
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
        QTRY_COMPARE(catcher->texts.size(), 1);
        stayedOpen = dialog.isVisible() && dialog.intervalEdit->text() == QStringLiteral("5");
        dialog.reject();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(takeBoxes(),
             QStringList{"Error: Could not set options. error code: 19 error message: kept"});
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));
    QCOMPARE(cached(*core->options()), QStringLiteral("0|900|1"));
}

void TestOptions::savedOptionsSeenAtOnce()
{
    QVERIFY(openStore());
    Options *held = core->options();
    QVERIFY(held);
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    dialog.autoChCheck->setChecked(true);
    dialog.intervalEdit->setText(QStringLiteral("2"));
    dialog.onOk();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // What a reader of the options sees next, without being told.
    QCOMPARE(core->options(), held);
    QVERIFY(held->autoCh);
    QCOMPARE(held->autoChInterval, 120);
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
