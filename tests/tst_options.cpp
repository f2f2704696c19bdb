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
using TestSupport::child;
using TestSupport::runModal;
using TestSupport::WorkDir;

// The store a dialog saves through shows in no widget.
class OptionsDialogTestAccess
{
public:
    static NivletCore *core(const OptionsDialog *dialog) { return dialog->core; }
};

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
    QVERIFY2(leftOver.isEmpty(), qPrintable(QStringLiteral("unexpected boxes: ") +
                                            leftOver.join(QStringLiteral(" / "))));
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
    QCOMPARE(OptionsDialogTestAccess::core(&dialog), core.get());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));

    auto *layout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 3);

    auto *intervalRow = qobject_cast<QHBoxLayout *>(layout->itemAt(0)->layout());
    QVERIFY(intervalRow);
    QCOMPARE(intervalRow->alignment(), Qt::AlignLeft);
    QCOMPARE(intervalRow->count(), 3);
    QCOMPARE(intervalRow->itemAt(0)->widget(), child<QCheckBox>(&dialog, "autoChCheck"));
    QCOMPARE(child<QCheckBox>(&dialog, "autoChCheck")->text(),
             QStringLiteral("Automatically challenge me every"));
    QCOMPARE(intervalRow->itemAt(1)->widget(), child<QLineEdit>(&dialog, "intervalEdit"));
    QCOMPARE(child<QLineEdit>(&dialog, "intervalEdit")->minimumWidth(), 40);
    QCOMPARE(child<QLineEdit>(&dialog, "intervalEdit")->maximumWidth(), 40);
    auto *unit = qobject_cast<QLabel *>(intervalRow->itemAt(2)->widget());
    QVERIFY(unit);
    QCOMPARE(unit->text(), QStringLiteral("minutes (1-240)"));

    QCOMPARE(layout->itemAt(1)->widget(), child<QCheckBox>(&dialog, "puzzleRatesCheck"));
    QCOMPARE(child<QCheckBox>(&dialog, "puzzleRatesCheck")->text(),
             QStringLiteral("Cross-word puzzle results affect knowledge rates."));

    auto *buttonRow = qobject_cast<QHBoxLayout *>(layout->itemAt(2)->layout());
    QVERIFY(buttonRow);
    QCOMPARE(buttonRow->alignment(), Qt::AlignLeft);
    QCOMPARE(buttonRow->itemAt(0)->widget(), child<QPushButton>(&dialog, "okButton"));
    QCOMPARE(buttonRow->itemAt(1)->widget(), child<QPushButton>(&dialog, "cancelButton"));
    QCOMPARE(child<QPushButton>(&dialog, "okButton")->text(), QStringLiteral("Ok"));
    QCOMPARE(child<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("Cancel"));
    QVERIFY(child<QPushButton>(&dialog, "okButton")->isDefault());
    QVERIFY(!child<QPushButton>(&dialog, "cancelButton")->isDefault());
    for (QPushButton *button :
         {child<QPushButton>(&dialog, "okButton"), child<QPushButton>(&dialog, "cancelButton")}) {
        QCOMPARE(button->minimumWidth(), 60);
        QCOMPARE(button->maximumWidth(), 60);
    }
}

void TestOptions::readsNothingUntilLoaded()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(!core->cachedOptions());
    QVERIFY(child<QLineEdit>(&dialog, "intervalEdit")->text().isEmpty());
    QVERIFY(dialog.loadOptions());
    QVERIFY(core->cachedOptions());
}

void TestOptions::showsStoredMinutes()
{
    QVERIFY(openStore(QStringLiteral("UPDATE options SET auto_ch = 1, auto_ch_interval = 900, "
                                     "puzzle_affects_rates = 0;")));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    QVERIFY(child<QCheckBox>(&dialog, "autoChCheck")->isChecked());
    QCOMPARE(child<QLineEdit>(&dialog, "intervalEdit")->text(), QStringLiteral("15"));
    QVERIFY(child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());
    QVERIFY(!child<QCheckBox>(&dialog, "puzzleRatesCheck")->isChecked());
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
    QCOMPARE(child<QLineEdit>(&dialog, "intervalEdit")->text(), shown);
}

void TestOptions::fieldFollowsTheCheckBox()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    QVERIFY(!child<QCheckBox>(&dialog, "autoChCheck")->isChecked());
    QVERIFY(!child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());
    QVERIFY(child<QCheckBox>(&dialog, "puzzleRatesCheck")->isChecked());

    child<QCheckBox>(&dialog, "autoChCheck")->setChecked(true);
    QVERIFY(child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());
    child<QCheckBox>(&dialog, "autoChCheck")->setChecked(false);
    QVERIFY(!child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(child<QCheckBox>(&dialog, "autoChCheck"), Qt::LeftButton);
    QVERIFY(child<QCheckBox>(&dialog, "autoChCheck")->isChecked());
    QVERIFY(child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());
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
        QTest::mouseClick(child<QCheckBox>(&dialog, "autoChCheck"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(&dialog, "puzzleRatesCheck"), Qt::LeftButton);
        child<QLineEdit>(&dialog, "intervalEdit")->setText(typed);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
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
        child<QCheckBox>(&dialog, "autoChCheck")->setChecked(true);
        child<QLineEdit>(&dialog, "intervalEdit")->setFocus();
        child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("3"));
        QTest::keyClick(child<QLineEdit>(&dialog, "intervalEdit"), Qt::Key_Return);
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
        child<QCheckBox>(&dialog, "autoChCheck")->setChecked(true);
        child<QLineEdit>(&dialog, "intervalEdit")->setText(typed);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(catcher->texts.size(), 1);
        stayedOpen =
            dialog.isVisible() && child<QLineEdit>(&dialog, "intervalEdit")->text() == typed;
        dialog.reject();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") + minutesMessage});
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));
    QCOMPARE(cached(*core->options()), QStringLiteral("0|900|1"));
    QVERIFY(TestSupport::readFile(work->file(QStringLiteral("nivlets.log")))
                .contains(QStringLiteral("Error: ") + minutesMessage));
}

void TestOptions::invalidMinutesInDisabledField()
{
    QVERIFY(openStore());
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("0"));
    child<QCheckBox>(&dialog, "puzzleRatesCheck")->setChecked(false);
    QVERIFY(!child<QLineEdit>(&dialog, "intervalEdit")->isEnabled());
    dialog.onOk();
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") + minutesMessage});
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(storedOptions(), QStringLiteral("0|900|1"));

    child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("20"));
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
    QVERIFY(openStore(QStringLiteral("UPDATE options SET auto_ch = 1, auto_ch_interval = 600;")));
    Options *before = core->options();
    QVERIFY(before);
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    const int result = runModal(&dialog, [&] {
        QTest::mouseClick(child<QCheckBox>(&dialog, "autoChCheck"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(&dialog, "puzzleRatesCheck"), Qt::LeftButton);
        child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("42"));
        QVERIFY(!child<QCheckBox>(&dialog, "autoChCheck")->isChecked());
        QVERIFY(!child<QCheckBox>(&dialog, "puzzleRatesCheck")->isChecked());
        if (way == 0)
            QTest::mouseClick(child<QPushButton>(&dialog, "cancelButton"), Qt::LeftButton);
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
    QVERIFY(openStore(QStringLiteral("DROP TABLE options;")));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(!dialog.loadOptions());
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not get options from database. error code: 1 "
                                        "error message: no such table: options")});
    QVERIFY(!dialog.isVisible());
}

void TestOptions::failingSaveStaysOpen()
{
    QVERIFY(openStore(QStringLiteral("CREATE TRIGGER keep_options BEFORE UPDATE ON options "
                                     "BEGIN SELECT RAISE(ABORT, 'kept'); END;")));
    OptionsDialog dialog(nullptr, core.get());
    QVERIFY(dialog.loadOptions());
    bool stayedOpen = false;
    const int result = runModal(&dialog, [&] {
        child<QCheckBox>(&dialog, "autoChCheck")->setChecked(true);
        child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("5"));
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(catcher->texts.size(), 1);
        stayedOpen = dialog.isVisible() &&
                     child<QLineEdit>(&dialog, "intervalEdit")->text() == QStringLiteral("5");
        dialog.reject();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not set options. error code: 19 error message: kept")});
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
    child<QCheckBox>(&dialog, "autoChCheck")->setChecked(true);
    child<QLineEdit>(&dialog, "intervalEdit")->setText(QStringLiteral("2"));
    dialog.onOk();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // What a reader of the options sees next, without being told.
    QCOMPARE(core->options(), held);
    QVERIFY(held->autoCh);
    QCOMPARE(held->autoChInterval, 120);
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
