// The window's small parts on their own: button pictures, the clock text,
// the pictures kept by address, the scheme gate, the toolbar and the status
// bar.

#include "tests/support/TestHttpServer.h"
#include "tests/ui/TestPictures.h"
#include "ui/ClockText.h"
#include "ui/LinkPictures.h"
#include "ui/NewWindowLimit.h"
#include "ui/SchemeGate.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/ToolbarPicture.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cstring>

namespace kestrel {

namespace {

const QRgb kMagenta = qRgb(255, 0, 255);

QImage Filled(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QRgb PixelAt(const QPixmap& pixmap, int x, int y)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

int OpaquePixels(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) == 255;
    }
    return count;
}

} // namespace

class WindowPartsTest : public QObject {
    Q_OBJECT

private slots:
    void magentaBecomesTransparent();
    void otherSizesAreScaledTo24();
    void nullPictureGivesNullPixmap();
    void fetchedBytesDecodeInMemory();
    void picturesBeyondTheLargestSideAreRefused();
    void pictureIsFetchedOnceUntilItIsNoLongerFresh();
    void stripIsCutIntoPicturesLeftToRight();
    void navigationStripsHoldFourPicturesEach();
    void iconShowsHotPictureUnderTheMouse();
    void clockTextHasFixedWidthFields();
    void schemeGate_data();
    void schemeGate();
    void localFilesOnlyInsideTheFolder_data();
    void localFilesOnlyInsideTheFolder();
    void missingLocalFolderOpensNoFiles();
    void newWindowsNeedAClickAndKeepTheirPace();
    void toolbarButtonsAreKnownByCommand();
    void statusPanesHoldTheirTexts();
    void clockPanesWidenForLargeFonts();
};

void WindowPartsTest::magentaBecomesTransparent()
{
    QImage image = Filled(QSize(24, 24), kMagenta);
    image.setPixel(5, 7, qRgb(10, 20, 30));
    const QPixmap picture = ButtonPicture(image);
    QCOMPARE(picture.size(), QSize(24, 24));
    QCOMPARE(qAlpha(PixelAt(picture, 0, 0)), 0);
    QCOMPARE(qAlpha(PixelAt(picture, 23, 23)), 0);
    QCOMPARE(PixelAt(picture, 5, 7), qRgba(10, 20, 30, 255));
}

void WindowPartsTest::otherSizesAreScaledTo24()
{
    QImage image = Filled(QSize(48, 48), qRgb(0, 128, 0));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            image.setPixel(x, y, kMagenta);
    }
    const QPixmap picture = ButtonPicture(image);
    QCOMPARE(picture.size(), QSize(24, 24));
    QCOMPARE(qAlpha(PixelAt(picture, 0, 0)), 0);
    QCOMPARE(PixelAt(picture, 20, 20), qRgba(0, 128, 0, 255));
    // No pink fringe where magenta met the picture.
    const QRgb edge = PixelAt(picture, 4, 4);
    QVERIFY(qAlpha(edge) == 0 || qRed(edge) < 64);

    QCOMPARE(ButtonPicture(Filled(QSize(3, 100), qRgb(1, 2, 3))).size(), QSize(24, 24));
}

void WindowPartsTest::nullPictureGivesNullPixmap()
{
    QVERIFY(ButtonPicture(QImage()).isNull());
    QVERIFY(CutPictureStrip(QImage()).isEmpty());
}

void WindowPartsTest::fetchedBytesDecodeInMemory()
{
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    Filled(QSize(24, 24), kMagenta).save(&buffer, "BMP");
    FetchedBody body;
    body.size = std::size_t(bmp.size());
    std::memcpy(body.bytes, bmp.constData(), body.size);
    QCOMPARE(DecodePicture(body).size(), QSize(24, 24));

    body.size = 40;
    QVERIFY(DecodePicture(body).isNull());
}

void WindowPartsTest::picturesBeyondTheLargestSideAreRefused()
{
    // A GIF whose frame is 24 x 24 on a screen 42264 pixels high: the reader
    // announces the frame, the picture comes out the size of the screen.
    const QByteArray gif = QByteArray::fromBase64(
        "R0lGODlhGAAYpfAAAP8AAP8A/yH5BAAAAAAALAAAAAAYABgAAAIvjI+py+0PYwO02gsY3lXz7X1XKHZLOZ5XKHZLOZ6oqaxs4lIkOpeqKwkKh8RioAAAOw==");
    FetchedBody body;
    body.size = std::size_t(gif.size());
    std::memcpy(body.bytes, gif.constData(), body.size);
    QVERIFY(DecodePicture(body).isNull());
}

void WindowPartsTest::pictureIsFetchedOnceUntilItIsNoLongerFresh()
{
    test::CTestHttpServer server;
    QVERIFY(server.Started());
    server.Answer("/hot.bmp", test::Reply(BmpPicture(Qt::blue).toStdString()));
    server.Answer("/short.bmp", test::Reply(std::string(999, 'x')));
    const std::string hot = server.Url("/hot.bmp");
    const std::string refused = server.Url("/short.bmp");
    constexpr std::chrono::milliseconds kFresh{1500};
    QStringList ended;
    CLinkPictures pictures([&](const std::string& url) { ended.append(QString::fromStdString(url)); }, kFresh);

    QVERIFY(pictures.Request(""));
    QVERIFY(!pictures.Usable(""));
    // Asked for twice while on its way: one request, one answer.
    QVERIFY(!pictures.Request(hot));
    QVERIFY(!pictures.Request(hot));
    QVERIFY(!pictures.Request(refused));
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(server.RequestCount("/hot.bmp"), 1);
    QVERIFY(pictures.Usable(hot));
    QCOMPARE(pictures.Picture(hot).toImage().pixelColor(12, 12), QColor(Qt::blue));
    QVERIFY(!pictures.Usable(refused));
    QVERIFY(pictures.Picture(refused).isNull());

    // Fresh answers, good or bad, cost nothing.
    QVERIFY(pictures.Request(hot));
    QVERIFY(pictures.Request(refused));
    QCOMPARE(server.RequestCount("/short.bmp"), 1);

    // Stale ones are fetched again; a picture replaced under its address shows.
    server.Answer("/hot.bmp", test::Reply(BmpPicture(Qt::red).toStdString()));
    QTest::qWait(int(kFresh.count()) + 200);
    QVERIFY(!pictures.Request(hot));
    QCOMPARE(pictures.Picture(hot).toImage().pixelColor(12, 12), QColor(Qt::blue));
    QTRY_COMPARE(ended.size(), 3);
    QCOMPARE(server.RequestCount("/hot.bmp"), 2);
    QCOMPARE(pictures.Picture(hot).toImage().pixelColor(12, 12), QColor(Qt::red));

    // A picture a button still shows is kept, however old.
    QTest::qWait(int(kFresh.count()) + 200);
    pictures.KeepOnly({hot});
    QCOMPARE(pictures.Picture(hot).toImage().pixelColor(12, 12), QColor(Qt::red));
}

void WindowPartsTest::stripIsCutIntoPicturesLeftToRight()
{
    const QRgb colours[] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200)};
    QImage strip(72, 24, QImage::Format_RGB32);
    for (int i = 0; i < 3; ++i) {
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x)
                strip.setPixel(i * 24 + x, y, x == 0 ? kMagenta : colours[i]);
        }
    }
    const QList<QPixmap> pictures = CutPictureStrip(strip);
    QCOMPARE(pictures.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(pictures[i].size(), QSize(24, 24));
        QCOMPARE(qAlpha(PixelAt(pictures[i], 0, 10)), 0);
        QCOMPARE(PixelAt(pictures[i], 12, 12), colours[i] | 0xff000000);
    }
    // A piece narrower than a picture is no picture.
    QCOMPARE(CutPictureStrip(strip.copy(0, 0, 60, 24)).size(), 2);
}

void WindowPartsTest::navigationStripsHoldFourPicturesEach()
{
    for (const QString& name : {QStringLiteral(":/kestrel/navigation-normal.bmp"),
                                QStringLiteral(":/kestrel/navigation-hot.bmp")}) {
        const QImage strip(name);
        QCOMPARE(strip.size(), QSize(96, 24));
        const QList<QPixmap> pictures = CutPictureStrip(strip);
        QCOMPARE(pictures.size(), 4);
        for (const QPixmap& picture : pictures) {
            QCOMPARE(qAlpha(PixelAt(picture, 0, 0)), 0);
            QVERIFY(OpaquePixels(picture) > 24 * 24 / 4);
        }
    }
}

void WindowPartsTest::iconShowsHotPictureUnderTheMouse()
{
    const QPixmap normal = ButtonPicture(Filled(QSize(24, 24), qRgb(0, 0, 255)));
    const QPixmap hot = ButtonPicture(Filled(QSize(24, 24), qRgb(255, 0, 0)));
    const QIcon icon = ButtonIcon(normal, hot);
    QCOMPARE(PixelAt(icon.pixmap(QSize(24, 24), QIcon::Normal), 12, 12), qRgba(0, 0, 255, 255));
    QCOMPARE(PixelAt(icon.pixmap(QSize(24, 24), QIcon::Active), 12, 12), qRgba(255, 0, 0, 255));
}

void WindowPartsTest::clockTextHasFixedWidthFields()
{
    QCOMPARE(ClockText(QDateTime(QDate(2006, 3, 7), QTime(9, 5, 1))), QStringLiteral("2006-03-07 09:05:01"));
    QCOMPARE(ClockText(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59))), QStringLiteral("1999-12-31 23:59:59"));
}

void WindowPartsTest::schemeGate_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("outside");
    QTest::newRow("http") << QStringLiteral("http://127.0.0.1/a") << true << true;
    QTest::newRow("https") << QStringLiteral("HTTPS://127.0.0.1/a") << true << true;
    QTest::newRow("file") << QStringLiteral("file:///etc/hostname") << false << false;
    QTest::newRow("folder listing") << QStringLiteral("file:///home/") << false << false;
    QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << false << false;
    QTest::newRow("data") << QStringLiteral("data:text/html,x") << false << false;
    QTest::newRow("page source") << QStringLiteral("view-source:http://127.0.0.1/a") << false << false;
    QTest::newRow("program resource") << QStringLiteral("qrc:/kestrel/kestrel-16.png") << false << false;
    QTest::newRow("blank") << QStringLiteral("about:blank") << false << false;
    QTest::newRow("other program") << QStringLiteral("steam://run/1") << false << false;
    QTest::newRow("no scheme") << QStringLiteral("www.example.org") << false << false;
    QTest::newRow("empty") << QString() << false << false;
}

void WindowPartsTest::schemeGate()
{
    QFETCH(QString, address);
    QFETCH(bool, inside);
    QFETCH(bool, outside);
    const QUrl url(address, QUrl::TolerantMode);
    QCOMPARE(CSchemeGate().MayNavigate(url), inside);
    QCOMPARE(MayOpenOutside(url), outside);
}

void WindowPartsTest::localFilesOnlyInsideTheFolder_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("opens");
    QTest::newRow("lesson") << QStringLiteral("lessons/a.html") << true;
    QTest::newRow("lesson in a subfolder") << QStringLiteral("lessons/unit/b.html") << true;
    QTest::newRow("the folder itself") << QStringLiteral("lessons") << true;
    QTest::newRow("beside the folder") << QStringLiteral("secret.txt") << false;
    QTest::newRow("up and out") << QStringLiteral("lessons/../secret.txt") << false;
    QTest::newRow("link leading out") << QStringLiteral("lessons/link.txt") << false;
    QTest::newRow("folder with the same start") << QStringLiteral("lessons2/c.html") << false;
    QTest::newRow("missing file") << QStringLiteral("lessons/none.html") << false;
}

void WindowPartsTest::localFilesOnlyInsideTheFolder()
{
    QFETCH(QString, relative);
    QFETCH(bool, opens);
    QTemporaryDir top;
    QVERIFY(top.isValid());
    const QDir dir(top.path());
    QVERIFY(dir.mkpath(QStringLiteral("lessons/unit")) && dir.mkpath(QStringLiteral("lessons2")));
    for (const char* name : {"lessons/a.html", "lessons/unit/b.html", "lessons2/c.html", "secret.txt"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("secret.txt")), dir.filePath(QStringLiteral("lessons/link.txt"))));
    // Named through a link and with a trailing slash, as a settings file may.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("lessons")), dir.filePath(QStringLiteral("named"))));
    const CSchemeGate gate(dir.filePath(QStringLiteral("named/")));

    const QUrl url = QUrl::fromLocalFile(dir.path() + QLatin1Char('/') + relative);
    QCOMPARE(gate.MayNavigate(url), opens);
    QCOMPARE(gate.IsInsideLocalFolder(url), opens);
    QVERIFY(!MayOpenOutside(url));
}

void WindowPartsTest::missingLocalFolderOpensNoFiles()
{
    QTemporaryDir top;
    QFile page(top.filePath(QStringLiteral("a.html")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    const CSchemeGate gate(top.filePath(QStringLiteral("gone")));
    QCOMPARE(gate.LocalFolder(), QString());
    QVERIFY(!gate.MayNavigate(QUrl::fromLocalFile(page.fileName())));
    QVERIFY(!gate.MayNavigate(QUrl::fromLocalFile(top.filePath(QStringLiteral("gone/a.html")))));
}

void WindowPartsTest::newWindowsNeedAClickAndKeepTheirPace()
{
    CNewWindowLimit limit;
    QVERIFY(!limit.Allow(false, 0));
    QVERIFY(limit.Allow(true, 0));
    QVERIFY(!limit.Allow(true, 999));
    QVERIFY(limit.Allow(true, 1000));
    QVERIFY(!limit.Allow(false, 5000));
    QCOMPARE(limit.TakeRefused(), 3);
    QCOMPARE(limit.TakeRefused(), 0);

    // Ten for a page, however slowly they come.
    std::int64_t now = 1000;
    for (int i = 2; i < CNewWindowLimit::kPerPage; ++i)
        QVERIFY(limit.Allow(true, now += 1000));
    QVERIFY(!limit.HasRoom());
    QVERIFY(!limit.Allow(true, now += 1000));
    limit.NewPage();
    QVERIFY(limit.HasRoom());
    QVERIFY(limit.Allow(true, now += 1000));
    QCOMPARE(limit.TakeRefused(), 1);
}

void WindowPartsTest::toolbarButtonsAreKnownByCommand()
{
    CToolBar bar;
    QAction* first = bar.AddButton(401, QIcon(), QStringLiteral("one"), QStringLiteral("tip one"));
    QAction* second = bar.AddButton(402, QIcon(), QStringLiteral("two"), QStringLiteral("tip two"));
    QCOMPARE(bar.Button(401), first);
    QCOMPARE(bar.Button(402), second);
    QCOMPARE(bar.Button(403), nullptr);
    QCOMPARE(second->toolTip(), QStringLiteral("tip two"));
    QCOMPARE(qobject_cast<QToolButton*>(bar.widgetForAction(second))->size(), QSize(43, 43));

    bar.EnableButton(401, false);
    QVERIFY(!bar.IsButtonEnabled(401));
    QVERIFY(bar.IsButtonEnabled(402));
    bar.EnableButton(403, false);
    QVERIFY(!bar.IsButtonEnabled(403));
}

void WindowPartsTest::statusPanesHoldTheirTexts()
{
    CStatusBar bar;
    bar.SetPaneText(0, QStringLiteral("Ready"));
    bar.SetPaneText(1, QStringLiteral("5/100"));
    bar.SetPaneText(3, QStringLiteral("nowhere"));
    bar.SetPaneText(-1, QStringLiteral("nowhere"));
    QCOMPARE(bar.GetPaneText(0), QStringLiteral("Ready"));
    QCOMPARE(bar.GetPaneText(1), QStringLiteral("5/100"));
    QCOMPARE(bar.GetPaneText(2), QString());
    QCOMPARE(bar.GetPaneText(3), QString());
    QCOMPARE(bar.PaneWidth(1), bar.PaneWidth(2));
    QVERIFY(bar.PaneWidth(1) >= CStatusBar::kPaneWidth);
}

void WindowPartsTest::clockPanesWidenForLargeFonts()
{
    const QFont normalFont = QApplication::font();
    QFont large = normalFont;
    large.setPointSize(28);
    QApplication::setFont(large);
    CStatusBar bar;
    QApplication::setFont(normalFont);

    const QString clock = ClockText(QDateTime(QDate(2088, 8, 28), QTime(20, 48, 58)));
    QVERIFY(bar.PaneWidth(2) > CStatusBar::kPaneWidth);
    QVERIFY(bar.PaneWidth(2) >= QFontMetrics(large).horizontalAdvance(clock));
}

} // namespace kestrel

QTEST_MAIN(kestrel::WindowPartsTest)
#include "WindowPartsTest.moc"
