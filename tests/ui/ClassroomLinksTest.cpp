// The classroom's links without a window or a web engine: the real receiver
// store, the real picture fetches from a server on 127.0.0.1, and what the
// links' keeper tells the window through its signals.

#include "catalogue/HomeUrl.h"
#include "channel/LinkReceiver.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/ui/LessonServer.h"
#include "tests/ui/TestPictures.h"
#include "ui/ClassroomLinks.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cstring>
#include <memory>

namespace kestrel {

namespace {

constexpr int kMergeTimeout = 15000;
// Long enough for at least two merge passes.
constexpr int kTwoPasses = 2500;
const QPoint kMiddle(kButtonPictureSize / 2, kButtonPictureSize / 2);
const QColor kColours[] = {Qt::red, Qt::darkGreen, Qt::blue, Qt::darkYellow};

// Link k's own colour, for twenty links, none near the transparent magenta.
QColor LinkColour(int k)
{
    return QColor::fromHsv(k * 15, 255, 200);
}

QRgb Middle(const QIcon& icon, QIcon::Mode mode)
{
    return icon.pixmap(kButtonPictureSize, kButtonPictureSize, mode).toImage().pixelColor(kMiddle).rgb();
}

} // namespace

class ClassroomLinksTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void homeOpensOnceAndLaterHomeRecordsChangeSilently();
    void theFirstLinkOpensByItself();
    void noLinkOpensItselfAfterTheUserNavigated();
    void changedCaptionRebuildsWithoutANewButton();
    void unchangedRecordsFetchNothing();
    void nameInOtherLetterCaseReplacesTheLabel();
    void everyLinkShowsItsOwnPicturesOrTheStandIn();
    void eachPictureIsFetchedOnceWhileCaptionsChurn();

private:
    void Announce(const LinkRecord& record) { m_receiver->AddRecord(record); }
    // The buttons of the last ButtonsChanged, with the icons of any later
    // PicturesReady.
    QList<LinkButtonFace> m_buttons;
    int m_rebuilds = 0;

    std::unique_ptr<LessonServer> m_server;
    std::unique_ptr<CLinkReceiver> m_receiver;
    std::unique_ptr<CClassroomLinks> m_links;
};

void ClassroomLinksTest::init()
{
    // A server of its own for each case, so request counts start at zero.
    m_server = std::make_unique<LessonServer>();
    QVERIFY(m_server->Started());
    for (int i = 0; i < int(std::size(kColours)); ++i) {
        m_server->Serve(QStringLiteral("/hot%1.bmp").arg(i), BmpPicture(kColours[i]));
        m_server->Serve(QStringLiteral("/cool%1.bmp").arg(i), BmpPicture(kColours[i].lighter(150)));
    }
    m_server->Serve(QStringLiteral("/wide.bmp"), BmpPicture(Qt::magenta, 3 * kButtonPictureSize));
    HomeUrl().clear();
    m_buttons.clear();
    m_rebuilds = 0;
    m_receiver = std::make_unique<CLinkReceiver>();
    m_links = std::make_unique<CClassroomLinks>(*m_receiver);
    // The window's timer 2, without the window.
    connect(m_links.get(), &CClassroomLinks::MergeDue, m_links.get(), &CClassroomLinks::MergeReceivedLinks);
    connect(m_links.get(), &CClassroomLinks::ButtonsChanged, this, [this](const QList<LinkButtonFace>& buttons) {
        m_buttons = buttons;
        ++m_rebuilds;
    });
    connect(m_links.get(), &CClassroomLinks::PicturesReady, this, [this](const QList<QIcon>& icons) {
        for (int k = 0; k < m_buttons.size() && k < icons.size(); ++k)
            m_buttons[k].icon = icons[k];
    });
    m_links->Start();
}

void ClassroomLinksTest::cleanup()
{
    m_links.reset();
    m_receiver.reset();
    m_server.reset();
    HomeUrl().clear();
}

void ClassroomLinksTest::homeOpensOnceAndLaterHomeRecordsChangeSilently()
{
    QSignalSpy home(m_links.get(), &CClassroomLinks::HomeToOpen);
    Announce(test::LinkRecordBuilder("HOME").Url("http://127.0.0.1:1/home.html"));
    QTRY_COMPARE_WITH_TIMEOUT(home.count(), 1, kMergeTimeout);
    QCOMPARE(HomeUrl(), std::string("http://127.0.0.1:1/home.html"));
    QCOMPARE(m_links->LinkCount(), 0);

    Announce(test::LinkRecordBuilder("home").Url("http://127.0.0.1:1/other.html"));
    QTRY_COMPARE_WITH_TIMEOUT(HomeUrl(), std::string("http://127.0.0.1:1/other.html"), kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(home.count(), 1);
    QCOMPARE(m_rebuilds, 0);
    QVERIFY(!m_links->Navigated());
}

void ClassroomLinksTest::theFirstLinkOpensByItself()
{
    QSignalSpy opened(m_links.get(), &CClassroomLinks::LinkToOpen);
    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, kMergeTimeout);
    QCOMPARE(opened.at(0).at(0).toString().toStdString(), m_server->Url(QStringLiteral("/maths.html")));
    QVERIFY(m_links->Navigated());

    Announce(m_server->Lesson(QStringLiteral("music"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.size(), 2, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(opened.count(), 1);
}

void ClassroomLinksTest::noLinkOpensItselfAfterTheUserNavigated()
{
    QSignalSpy opened(m_links.get(), &CClassroomLinks::LinkToOpen);
    m_links->UserNavigated();
    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.size(), 1, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(opened.count(), 0);
}

void ClassroomLinksTest::changedCaptionRebuildsWithoutANewButton()
{
    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.size(), 1, kMergeTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests(QStringLiteral("/cool0.bmp")), 1, kMergeTimeout);

    LinkRecord changed = m_server->Lesson(QStringLiteral("maths"));
    changed.caption[0] = 'C';
    Announce(changed);
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.value(0).caption, QStringLiteral("Caption of maths"), kMergeTimeout);

    // A changed reserved byte rebuilds too; both pictures are still fresh.
    const int rebuilds = m_rebuilds;
    changed.reserved = 1;
    Announce(changed);
    QTRY_VERIFY_WITH_TIMEOUT(m_rebuilds > rebuilds, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->Requests(QStringLiteral("/cool0.bmp")), 1);
    QCOMPARE(m_server->Requests(QStringLiteral("/hot0.bmp")), 1);
    QCOMPARE(m_buttons.size(), 1);
    QCOMPARE(Middle(m_buttons[0].icon, QIcon::Active), kColours[0].rgb());
}

void ClassroomLinksTest::unchangedRecordsFetchNothing()
{
    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests(QStringLiteral("/cool0.bmp")), 1, kMergeTimeout);
    // The picture test's body serves the rebuild.
    QCOMPARE(m_server->Requests(QStringLiteral("/hot0.bmp")), 1);
    const int rebuilds = m_rebuilds;

    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_rebuilds, rebuilds);
    QCOMPARE(m_server->Requests(QStringLiteral("/hot0.bmp")), 1);
    QCOMPARE(m_server->Requests(QStringLiteral("/cool0.bmp")), 1);
    QCOMPARE(m_server->Server().Header("/hot0.bmp", "user-agent"), std::string("MarlowBrowser1.0"));
}

void ClassroomLinksTest::nameInOtherLetterCaseReplacesTheLabel()
{
    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.size(), 1, kMergeTimeout);
    LinkRecord renamed = m_server->Lesson(QStringLiteral("maths"));
    std::memcpy(renamed.name, "MATHS", 5);
    Announce(renamed);
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.value(0).name, QStringLiteral("MATHS"), kMergeTimeout);
    QCOMPARE(m_buttons.size(), 1);
    QCOMPARE(m_receiver->GetCount(), 1);
}

void ClassroomLinksTest::everyLinkShowsItsOwnPicturesOrTheStandIn()
{
    Announce(m_server->Lesson(QStringLiteral("maths"), 0));
    LinkRecord broken = m_server->Lesson(QStringLiteral("music"), 1);
    std::strcpy(broken.hotPicture, m_server->Url(QStringLiteral("/missing.bmp")).c_str());
    std::strcpy(broken.coolPicture, m_server->Url(QStringLiteral("/missing.bmp")).c_str());
    Announce(broken);
    LinkRecord wide = m_server->Lesson(QStringLiteral("art"), 2);
    std::strcpy(wide.coolPicture, m_server->Url(QStringLiteral("/wide.bmp")).c_str());
    Announce(wide);
    Announce(m_server->Lesson(QStringLiteral("history"), 3));
    QTRY_COMPARE_WITH_TIMEOUT(m_buttons.size(), 4, kMergeTimeout);
    QTest::qWait(kTwoPasses);

    // Each link its own pictures: hot from hotPicture, normal from coolPicture.
    QCOMPARE(Middle(m_buttons[0].icon, QIcon::Active), kColours[0].rgb());
    QCOMPARE(Middle(m_buttons[0].icon, QIcon::Normal), kColours[0].lighter(150).rgb());
    QCOMPARE(Middle(m_buttons[3].icon, QIcon::Active), kColours[3].rgb());
    // Magenta is transparent.
    QCOMPARE(m_buttons[0].icon.pixmap(kButtonPictureSize, QIcon::Normal).toImage().pixelColor(0, 0).alpha(), 0);
    // The broken link shows the stand-in, not a neighbour's picture.
    const QImage standIn = StandInPicture().toImage();
    QCOMPARE(m_buttons[1].icon.pixmap(kButtonPictureSize, QIcon::Normal).toImage(), standIn);
    QCOMPARE(m_buttons[1].icon.pixmap(kButtonPictureSize, QIcon::Active).toImage(), standIn);
    // A wider picture gives one 24 x 24 image, and the link after it keeps its own.
    QCOMPARE(m_buttons[2].icon.pixmap(kButtonPictureSize, QIcon::Normal).size(),
             QSize(kButtonPictureSize, kButtonPictureSize));
    QCOMPARE(Middle(m_buttons[2].icon, QIcon::Active), kColours[2].rgb());
}

void ClassroomLinksTest::eachPictureIsFetchedOnceWhileCaptionsChurn()
{
    for (int k = 1; k <= kMaxLinks; ++k) {
        m_server->Serve(QStringLiteral("/hot%1.bmp").arg(k), BmpPicture(LinkColour(k)));
        m_server->Serve(QStringLiteral("/cool%1.bmp").arg(k), BmpPicture(LinkColour(k).lighter(150)));
    }
    m_server->Serve(QStringLiteral("/changed.bmp"), BmpPicture(Qt::black));
    QElapsedTimer elapsed;
    elapsed.start();
    for (int k = 1; k <= kMaxLinks; ++k)
        Announce(m_server->ChurnLink(k, 0));
    const auto allShown = [this] {
        for (int k = 1; k <= kMaxLinks; ++k) {
            if (k > m_buttons.size() || Middle(m_buttons[k - 1].icon, QIcon::Active) != LinkColour(k).rgb())
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allShown(), kMergeTimeout);

    // Ten caption changes, each shown before the next.
    for (int change = 1; change <= 10; ++change) {
        const int k = change * 7 % kMaxLinks + 1;
        Announce(m_server->ChurnLink(k, change));
        QTRY_COMPARE_WITH_TIMEOUT(m_buttons.value(k - 1).caption,
                                  QStringLiteral("caption %1 of lesson%2").arg(change).arg(k), kMergeTimeout);
    }
    QTest::qWait(kTwoPasses);
    // Once each, and once more for every minute the test took.
    const int allowed = 1 + int(elapsed.elapsed() / 60000);
    for (int k = 1; k <= kMaxLinks; ++k) {
        for (const QString& path : {QStringLiteral("/hot%1.bmp").arg(k), QStringLiteral("/cool%1.bmp").arg(k)}) {
            const int requests = m_server->Requests(path);
            QVERIFY2(requests >= 1 && requests <= allowed, qPrintable(path + ": " + QString::number(requests)));
        }
    }

    // A changed picture address is fetched once and shows on its own button only.
    LinkRecord changed = m_server->ChurnLink(5, 11);
    std::strcpy(changed.hotPicture, m_server->Url(QStringLiteral("/changed.bmp")).c_str());
    Announce(changed);
    QTRY_COMPARE_WITH_TIMEOUT(Middle(m_buttons[4].icon, QIcon::Active), QColor(Qt::black).rgb(), kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->Requests(QStringLiteral("/changed.bmp")), 1);
    QCOMPARE(Middle(m_buttons[4].icon, QIcon::Normal), LinkColour(5).lighter(150).rgb());
    for (int k = 1; k <= kMaxLinks; ++k) {
        if (k != 5)
            QCOMPARE(Middle(m_buttons[k - 1].icon, QIcon::Active), LinkColour(k).rgb());
    }
}

} // namespace kestrel

QTEST_MAIN(kestrel::ClassroomLinksTest)
#include "ClassroomLinksTest.moc"
