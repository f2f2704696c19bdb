#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void imageLoads_data();
    void imageLoads();
    void doubleSizeImages_data();
    void doubleSizeImages();
    void noOtherImages();
    void programIconSizes();
    void wrongPathFails();
};

namespace {

struct Expected
{
    const char *path;
    int width;
    int height;
};

const Expected images[] = {
    {":/nivleticon16.png", 16, 16},
    {":/mainheader.png", 626, 146},
    {":/challengeheader.png", 420, 98},
    {":/trophy.png", 16, 16},
    {":/calendar_edit.png", 16, 16},
    {":/book.png", 16, 16},
    {":/cog.png", 16, 16},
    {":/exclamation.png", 16, 16},
    {":/door.png", 16, 16},
    {":/magnifier.png", 16, 16},
    {":/asterisk_orange.png", 16, 16},
    {":/add.png", 16, 16},
    {":/pencil.png", 16, 16},
    {":/bin_closed.png", 16, 16},
    {":/accept.png", 16, 16},
    {":/alarm.png", 16, 16},
    {":/arrow_right.png", 16, 16},
    {":/hand_point.png", 16, 16},
    {":/chart.png", 16, 16},
};

QString doubleSize(const char *path)
{
    return QString::fromLatin1(path).replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
}

} // namespace

void TestResources::imageLoads_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const Expected &e : images)
        QTest::newRow(e.path) << QString::fromLatin1(e.path) << QSize(e.width, e.height);
}

void TestResources::imageLoads()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImage image;
    QVERIFY2(image.load(path), qPrintable(path));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
}

// Every image but the tray icon comes at twice its size too, for screens of a
// higher pixel density.
void TestResources::doubleSizeImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    for (const Expected &e : images) {
        if (qstrcmp(e.path, ":/nivleticon16.png") != 0)
            QTest::newRow(e.path) << doubleSize(e.path) << QSize(2 * e.width, 2 * e.height);
    }
}

void TestResources::doubleSizeImages()
{
    imageLoads();
}

// A stray or forgotten file in the resource list would otherwise go unnoticed.
void TestResources::noOtherImages()
{
    QStringList expected;
    for (const Expected &e : images) {
        expected << QString::fromLatin1(e.path).mid(2);
        if (qstrcmp(e.path, ":/nivleticon16.png") != 0)
            expected << doubleSize(e.path).mid(2);
    }
    expected.sort();
    QCOMPARE(
        QDir(QStringLiteral(":/")).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name),
        expected);
}

// The sizes of the installed program icon beside the tray's 16 pixels.
void TestResources::programIconSizes()
{
    const QStringList sizes = QDir(QStringLiteral(":/icons")).entryList(QDir::Dirs);
    QCOMPARE(sizes, QStringList({QStringLiteral("128x128"), QStringLiteral("22x22"),
                                 QStringLiteral("24x24"), QStringLiteral("256x256"),
                                 QStringLiteral("32x32"), QStringLiteral("48x48"),
                                 QStringLiteral("64x64")}));
    for (const QString &size : sizes) {
        QImage image;
        QVERIFY(image.load(QStringLiteral(":/icons/%1/nivlets.png").arg(size)));
        QCOMPARE(QStringLiteral("%1x%2").arg(image.width()).arg(image.height()), size);
        QCOMPARE(image,
                 QImage(QStringLiteral(NIVLETS_SOURCE_DIR "/desktop/icons/hicolor/%1/nivlets.png")
                            .arg(size)));
    }
}

// Proves that the loading checks above can fail at all.
void TestResources::wrongPathFails()
{
    QVERIFY(!QFile::exists(QStringLiteral(":/no_such_image.png")));
    QImage image;
    QVERIFY(!image.load(QStringLiteral(":/no_such_image.png")));
    QVERIFY(image.isNull());
    QVERIFY(!image.load(QStringLiteral(":/images/trophy.png")));
}

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
