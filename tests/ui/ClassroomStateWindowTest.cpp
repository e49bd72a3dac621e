// The real window under the classroom's states, given as the receiver
// hands them over: pages served on 127.0.0.1, and on "localhost" as a host
// the lesson does not name.

#include "catalogue/HomeUrl.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/ui/LessonServer.h"
#include "tests/ui/PrintedLines.h"
#include "tests/ui/TestPictures.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/BrowserNotice.h"
#include "ui/ShortNote.h"

#include <QApplication>
#include <QDialog>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

namespace kestrel {

namespace {

constexpr int kLoadTimeout = 60000;
constexpr int kMergeTimeout = 15000;
const int kValidFor = 60;

} // namespace

class ClassroomStateWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void aRemovedLinkLeavesAndTheOrderFollowsTheList();
    void lessonOnlyRefusesAnUnlistedHostButNotItsPictures();
    void lessonOnlyReplacesAPageThatIsNotAllowed_data();
    void lessonOnlyReplacesAPageThatIsNotAllowed();
    void pausedCoversTheWindowUntilItsCountdownEnds();
    void pausedRejectsAnOpenDialog();
    void expiryReturnsToOpen();

private:
    ClassroomState State(ClassroomMode mode, const QStringList& names, std::uint32_t validFor = kValidFor) const;
    void Announce(const QString& name) { m_program->Receiver().AddRecord(m_server->Lesson(name)); }
    void LoadAndWait(const std::string& url);
    QVariant Evaluate(const QString& script);
    QStringList ButtonNames() const;
    CClassroomLinks& Links() const { return *LinksOf(*m_dlg); }
    CWebBrowser& Browser() const { return *BrowserOf(*m_dlg); }
    // The same server under a host name the lesson does not list.
    std::string OtherHostUrl(const QString& path) const
    {
        return "http://localhost:" + std::to_string(m_server->Server().Port()) + path.toStdString();
    }

    std::unique_ptr<LessonServer> m_server;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void ClassroomStateWindowTest::init()
{
    m_server = std::make_unique<LessonServer>();
    QVERIFY(m_server->Started());
    for (const char* page : {"home", "other", "maths", "music", "art"})
        m_server->Serve(QStringLiteral("/%1.html").arg(QLatin1String(page)), "<html><body>" + QByteArray(page) + "</body></html>");
    m_server->Serve(QStringLiteral("/hot0.bmp"), BmpPicture(Qt::red));
    m_server->Serve(QStringLiteral("/cool0.bmp"), BmpPicture(Qt::blue));
    m_server->Serve(QStringLiteral("/lesson.html"),
                    QByteArray::fromStdString("<html><body><img src='" + OtherHostUrl(QStringLiteral("/picture.bmp"))
                                              + "'></body></html>"));
    m_server->Serve(QStringLiteral("/picture.bmp"), BmpPicture(Qt::green));
    m_server->Serve(QStringLiteral("/essay.html"), "<html><body><textarea id='essay'></textarea></body></html>");
    m_server->Server().Answer("/login.html", test::Reply("inside").Login("Basic cHVwaWw6c2VjcmV0"));
    HomeUrl().clear();
    m_program = std::make_unique<TestProgram>();
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
}

void ClassroomStateWindowTest::cleanup()
{
    m_dlg.reset();
    m_program.reset();
    m_server.reset();
    HomeUrl().clear();
}

ClassroomState ClassroomStateWindowTest::State(ClassroomMode mode, const QStringList& names, std::uint32_t validFor) const
{
    ClassroomState state;
    state.mode = mode;
    state.hasHome = true;
    state.validForSeconds = validFor;
    for (const QString& name : names)
        state.nameHashes[state.linkCount++] = HashLinkName(name.toStdString());
    return state;
}

void ClassroomStateWindowTest::LoadAndWait(const std::string& url)
{
    QSignalSpy done(&Browser(), &CWebBrowser::DownloadComplete);
    Browser().Navigate(QString::fromStdString(url));
    QVERIFY(done.wait(kLoadTimeout));
}

QVariant ClassroomStateWindowTest::Evaluate(const QString& script)
{
    const auto answer = std::make_shared<std::optional<QVariant>>();
    Browser().page()->runJavaScript(script, [answer](const QVariant& value) { *answer = value; });
    (void)QTest::qWaitFor([&] { return answer->has_value(); }, 10000);
    return answer->value_or(QVariant());
}

QStringList ClassroomStateWindowTest::ButtonNames() const
{
    QStringList names;
    for (int command = CMainDlg::ID_LINK_FIRST; const QAction* button = ToolBarOf(*m_dlg)->Button(command); ++command)
        names.append(button->text());
    return names;
}

void ClassroomStateWindowTest::aRemovedLinkLeavesAndTheOrderFollowsTheList()
{
    for (const char* name : {"maths", "music", "art"})
        Announce(QLatin1String(name));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"maths", "music", "art"}), kMergeTimeout);

    Links().ApplyState(State(ClassroomMode::Open, {"art", "maths"}));
    QCOMPARE(ButtonNames(), (QStringList{"maths", "art"}));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"art", "maths"}), kMergeTimeout);
    QCOMPARE(Links().LinkUrl(1).toStdString(), m_server->Url(QStringLiteral("/art.html")));
}

void ClassroomStateWindowTest::lessonOnlyRefusesAnUnlistedHostButNotItsPictures()
{
    PrintedLines printed;
    Announce(QStringLiteral("lesson"));
    Links().ApplyState(State(ClassroomMode::LessonOnly, {"lesson"}));
    QTRY_COMPARE_WITH_TIMEOUT(Browser().LocationURL().toStdString(), m_server->Url(QStringLiteral("/lesson.html")),
                              kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests(QStringLiteral("/picture.bmp")), 1, kLoadTimeout);
    QCOMPARE(StatusBarOf(*m_dlg)->ModeShown(), QStringLiteral("仅本课"));

    Evaluate(QString::fromStdString("location.href = '" + OtherHostUrl(QStringLiteral("/other.html")) + "'"));
    const CShortNote* note = m_dlg->findChild<CShortNote*>();
    QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), 10000);
    QCOMPARE(note->text(), QStringLiteral("本课只能打开老师给的网站"));
    QTRY_COMPARE_WITH_TIMEOUT(printed.Count(QStringLiteral("Lesson only: 1 page(s) not opened")), 1, 10000);
    QCOMPARE(m_server->Requests(QStringLiteral("/other.html")), 0);
    QCOMPARE(Browser().LocationURL().toStdString(), m_server->Url(QStringLiteral("/lesson.html")));
    QCOMPARE(printed.Count(QStringLiteral("Classroom mode: lesson only")), 1);
}

void ClassroomStateWindowTest::lessonOnlyReplacesAPageThatIsNotAllowed_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("replacement");
    QTest::newRow("the home page") << "/home.html" << "maths" << "/home.html";
    QTest::newRow("else link 1") << "" << "maths" << "/maths.html";
    QTest::newRow("else an empty page") << "" << "" << "about:blank";
}

void ClassroomStateWindowTest::lessonOnlyReplacesAPageThatIsNotAllowed()
{
    QFETCH(QString, home);
    QFETCH(QString, link);
    QFETCH(QString, replacement);
    Links().UserNavigated();
    if (!home.isEmpty())
        m_program->Receiver().AddRecord(test::LinkRecordBuilder("home").Url(m_server->Url(home)));
    if (!link.isEmpty())
        Announce(link);
    QTRY_COMPARE_WITH_TIMEOUT(Links().LinkCount(), int(!link.isEmpty()), kMergeTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(HomeUrl().empty(), home.isEmpty(), kMergeTimeout);
    LoadAndWait(OtherHostUrl(QStringLiteral("/other.html")));

    PrintedLines printed;
    Links().ApplyState(State(ClassroomMode::LessonOnly, {link}));
    const QString expected = replacement.startsWith(QLatin1Char('/')) ? QString::fromStdString(m_server->Url(replacement))
                                                                      : replacement;
    QTRY_COMPARE_WITH_TIMEOUT(Browser().LocationURL(), expected, kLoadTimeout);
    QTest::qWait(1000);
    QCOMPARE(printed.Count(QStringLiteral("Not opened")), 0);
    QCOMPARE(Browser().LocationURL(), expected);
}

void ClassroomStateWindowTest::pausedCoversTheWindowUntilItsCountdownEnds()
{
    LoadAndWait(m_server->Url(QStringLiteral("/essay.html")));
    Evaluate(QStringLiteral("document.getElementById('essay').value = 'my essay'"));
    ClassroomState paused = State(ClassroomMode::Paused, {});
    paused.pauseCountdownSeconds = 3;
    paused.pauseId = 7;
    Links().ApplyState(paused);

    const CBrowserNotice* cover = m_dlg->findChild<CBrowserNotice*>(QStringLiteral("pauseCover"));
    QVERIFY(cover->isVisible());
    QCOMPARE(cover->geometry(), m_dlg->rect());
    QCOMPARE(cover->Title(), QStringLiteral("老师暂停了屏幕，请看老师"));
    QVERIFY(cover->Text().startsWith(QStringLiteral("还剩 0:0")));
    QVERIFY(Browser().page()->isAudioMuted());
    QCOMPARE(StatusBarOf(*m_dlg)->ModeShown(), QStringLiteral("暂停"));
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    m_dlg->close();
    QTest::keyClicks(Browser().focusProxy(), QStringLiteral("xyz"));

    QTRY_VERIFY_WITH_TIMEOUT(!cover->isVisible(), 5000);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(Evaluate(QStringLiteral("document.getElementById('essay').value")).toString(), QStringLiteral("my essay"));
    QVERIFY(!Browser().page()->isAudioMuted());
    QVERIFY(StatusBarOf(*m_dlg)->ModeShown().isEmpty());
    Links().ApplyState(paused);
    QVERIFY(!cover->isVisible());
}

void ClassroomStateWindowTest::pausedRejectsAnOpenDialog()
{
    // The pause comes while the login dialog waits for the pupil.
    bool dialogWasOpen = false;
    QTimer pauseWhenAsked;
    connect(&pauseWhenAsked, &QTimer::timeout, this, [&] {
        if (!QApplication::activeModalWidget())
            return;
        pauseWhenAsked.stop();
        dialogWasOpen = true;
        Links().ApplyState(State(ClassroomMode::Paused, {}));
    });
    pauseWhenAsked.start(50);
    Browser().Navigate(QString::fromStdString(m_server->Url(QStringLiteral("/login.html"))));
    QTRY_VERIFY_WITH_TIMEOUT(dialogWasOpen, kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);
    QCOMPARE(m_server->Server().Header("/login.html", "authorization"), std::string());
}

void ClassroomStateWindowTest::expiryReturnsToOpen()
{
    PrintedLines printed;
    Announce(QStringLiteral("maths"));
    Links().ApplyState(State(ClassroomMode::LessonOnly, {"maths"}, 2));
    Announce(QStringLiteral("music"));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), QStringList{"maths"}, kMergeTimeout);

    QTRY_COMPARE_WITH_TIMEOUT(Links().Mode(), ClassroomMode::Open, 5000);
    QVERIFY(StatusBarOf(*m_dlg)->ModeShown().isEmpty());
    QCOMPARE(printed.Count(QStringLiteral("the mode is open, the list lapsed")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"maths", "music"}), kMergeTimeout);
}

} // namespace kestrel

QTEST_MAIN(kestrel::ClassroomStateWindowTest)
#include "ClassroomStateWindowTest.moc"
