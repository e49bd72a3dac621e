// The program's locale set-up: Qt's dialogs and the engine in Chinese,
// whatever the desktop's language. A program of its own: the locale is
// the whole process's.

#include "app/ChineseLocale.h"
#include "tests/support/TestHttpServer.h"
#include "ui/WebBrowser.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <optional>

namespace kestrel {

class ChineseLocaleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void qtsOwnDialogsSpeakChinese();
    void pagesAskForChineseFirst();
    void theEnginesErrorPagesAreChinese();

private:
    test::CTestHttpServer m_server;
};

void ChineseLocaleTest::initTestCase()
{
    // The desktop of a pupil's machine left in English.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    UseChineseLocale(*qApp);
    m_server.Answer("/languages.html", test::Reply("<html><body>languages</body></html>"));
}

void ChineseLocaleTest::qtsOwnDialogsSpeakChinese()
{
    QCOMPARE(QLocale().name(), QStringLiteral("zh_CN"));
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
}

void ChineseLocaleTest::pagesAskForChineseFirst()
{
    CWebBrowser browser;
    browser.show();
    QSignalSpy done(&browser, &CWebBrowser::DownloadComplete);
    browser.Navigate(QString::fromStdString(m_server.Url("/languages.html")));
    QVERIFY(done.wait(60000));
    const auto answer = std::make_shared<std::optional<QVariant>>();
    browser.page()->runJavaScript(QStringLiteral("navigator.languages.join(',')"),
                                  [answer](const QVariant& value) { *answer = value; });
    QTRY_VERIFY_WITH_TIMEOUT(answer->has_value(), 10000);
    QCOMPARE(answer->value().toString(), QStringLiteral("zh-CN,zh,en"));
    const std::string languages = m_server.Header("/languages.html", "accept-language");
    QVERIFY2(QString::fromStdString(languages).startsWith("zh-CN"), languages.c_str());
}

void ChineseLocaleTest::theEnginesErrorPagesAreChinese()
{
    // A port on 127.0.0.1 that nothing listens on: taken and let go again.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    CWebBrowser browser;
    browser.show();
    QSignalSpy done(&browser, &CWebBrowser::DownloadComplete);
    browser.Navigate(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    QVERIFY(done.wait(60000));
    QString text;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const auto answer = std::make_shared<std::optional<QVariant>>();
            browser.page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                          [answer](const QVariant& value) { *answer = value; });
            static_cast<void>(QTest::qWaitFor([&] { return answer->has_value(); }, 2000));
            text = answer->value_or(QVariant()).toString();
            return text.contains(QStringLiteral("无法访问此网站"));
        }(),
        20000);
}

} // namespace kestrel

QTEST_MAIN(kestrel::ChineseLocaleTest)
#include "ChineseLocaleTest.moc"
