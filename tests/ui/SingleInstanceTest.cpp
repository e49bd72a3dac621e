// One instance per program name and user: the rule in-process, then the
// built program started as real processes in a runtime folder of their own.

#include "app/SingleInstance.h"

#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace kestrel {

namespace {

// Generous: a start brings up the web engine on a busy two-core machine.
constexpr int kStartTimeout = 60000;
constexpr int kGiveWayTimeout = 30000;
constexpr int kStayTime = 2000;

const QString kProgram = QStringLiteral(KESTREL_PROGRAM);

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keyIsTheFileNameWithoutExtension_data();
    void keyIsTheFileNameWithoutExtension();
    void laterClaimGivesWayAndKnocks();
    void otherKeysRunSideBySide();
    void lockOutlivesItsAge();

    void secondStartExitsAndFirstStays();
    void secondStartExitsSilentlyWhenNobodyAnswers();
    void copyUnderAnotherNameRunsSideBySide();
    void lockLeftByACrashDoesNotBlock();
    void terminationEndsInOrderAndLetsGo();

private:
    std::unique_ptr<QProcess> Start(const QString& program);
    void WaitUntilClaimed(const QString& key, const QProcess& process);
    // Another instance holds the key: the start must end by itself,
    // successfully and without a word.
    void StartExpectingItToGiveWay();
    qint64 LockOwner(const QString& key) const;

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void SingleInstanceTest::init()
{
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
}

void SingleInstanceTest::cleanup()
{
    for (auto& process : m_processes) {
        process->kill();
        process->waitForFinished(kGiveWayTimeout);
    }
    m_processes.clear();
    m_runtime.reset();
}

void SingleInstanceTest::keyIsTheFileNameWithoutExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("key");
    QTest::newRow("no extension") << QStringLiteral("/opt/kestrel/kestrel") << QStringLiteral("kestrel");
    QTest::newRow("extension") << QStringLiteral("/x/Kestrel.EXE") << QStringLiteral("Kestrel");
    QTest::newRow("dot in a folder") << QStringLiteral("/opt/v2.01/kestrel") << QStringLiteral("kestrel");
    QTest::newRow("copy") << QStringLiteral("/home/a/kestrel-copy") << QStringLiteral("kestrel-copy");
}

void SingleInstanceTest::keyIsTheFileNameWithoutExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, key);
    QCOMPARE(CSingleInstance::InstanceKey(path), key);
}

void SingleInstanceTest::laterClaimGivesWayAndKnocks()
{
    CSingleInstance first(QStringLiteral("kestrel"), m_runtime->path());
    CSingleInstance second(QStringLiteral("kestrel"), m_runtime->path());
    QSignalSpy comeForward(&first, &CSingleInstance::ComeForwardRequested);

    QVERIFY(first.TryClaim());
    QVERIFY(!second.TryClaim());
    second.AskRunningInstanceToComeForward();
    QVERIFY(comeForward.wait(kGiveWayTimeout));
    QCOMPARE(comeForward.size(), 1);
}

void SingleInstanceTest::otherKeysRunSideBySide()
{
    CSingleInstance first(QStringLiteral("kestrel"), m_runtime->path());
    CSingleInstance copy(QStringLiteral("kestrel-copy"), m_runtime->path());
    QVERIFY(first.TryClaim());
    QVERIFY(copy.TryClaim());
    QVERIFY(first.ServerName() != copy.ServerName());
}

void SingleInstanceTest::lockOutlivesItsAge()
{
    CSingleInstance first(QStringLiteral("kestrel"), m_runtime->path());
    QVERIFY(first.TryClaim());
    // An hour-old lock of a live instance is still held.
    QFile lock(first.LockFilePath());
    QVERIFY(lock.open(QIODevice::ReadWrite));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    lock.close();
    CSingleInstance later(QStringLiteral("kestrel"), m_runtime->path());
    QVERIFY(!later.TryClaim());
}

std::unique_ptr<QProcess> SingleInstanceTest::Start(const QString& program)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(program, {});
    return process;
}

void SingleInstanceTest::WaitUntilClaimed(const QString& key, const QProcess& process)
{
    const CSingleInstance names(key, m_runtime->path());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(names.ServerName()) && LockOwner(key) == process.processId(),
                             kStartTimeout);
}

qint64 SingleInstanceTest::LockOwner(const QString& key) const
{
    QLockFile lock(CSingleInstance(key, m_runtime->path()).LockFilePath());
    qint64 pid = 0;
    return lock.getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
}

void SingleInstanceTest::StartExpectingItToGiveWay()
{
    m_processes.push_back(Start(kProgram));
    QProcess& second = *m_processes.back();
    QVERIFY(second.waitForFinished(kGiveWayTimeout));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
}

void SingleInstanceTest::secondStartExitsAndFirstStays()
{
    m_processes.push_back(Start(kProgram));
    QProcess& first = *m_processes.back();
    QVERIFY(first.waitForStarted(kStartTimeout));
    WaitUntilClaimed(QStringLiteral("kestrel"), first);

    StartExpectingItToGiveWay();
    if (QTest::currentTestFailed())
        return;

    QTest::qWait(kStayTime);
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(LockOwner(QStringLiteral("kestrel")), first.processId());
}

void SingleInstanceTest::secondStartExitsSilentlyWhenNobodyAnswers()
{
    // The lock is held by this live process, which does not listen: like a
    // first instance still starting.
    QLockFile held(CSingleInstance(QStringLiteral("kestrel"), m_runtime->path()).LockFilePath());
    held.setStaleLockTime(0);
    QVERIFY(held.tryLock());

    StartExpectingItToGiveWay();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(LockOwner(QStringLiteral("kestrel")), QCoreApplication::applicationPid());
}

void SingleInstanceTest::copyUnderAnotherNameRunsSideBySide()
{
    const QString copyPath = m_runtime->filePath(QStringLiteral("kestrel-copy"));
    QVERIFY(QFile::copy(kProgram, copyPath));
    QVERIFY(QFile::setPermissions(copyPath, QFile::permissions(kProgram)));

    m_processes.push_back(Start(kProgram));
    QProcess& first = *m_processes.back();
    WaitUntilClaimed(QStringLiteral("kestrel"), first);
    m_processes.push_back(Start(copyPath));
    QProcess& copy = *m_processes.back();
    WaitUntilClaimed(QStringLiteral("kestrel-copy"), copy);

    QTest::qWait(kStayTime);
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(copy.state(), QProcess::Running);
}

void SingleInstanceTest::lockLeftByACrashDoesNotBlock()
{
    m_processes.push_back(Start(kProgram));
    QProcess& crashed = *m_processes.back();
    WaitUntilClaimed(QStringLiteral("kestrel"), crashed);
    crashed.kill();
    QVERIFY(crashed.waitForFinished(kGiveWayTimeout));
    const CSingleInstance names(QStringLiteral("kestrel"), m_runtime->path());
    QVERIFY(QFileInfo::exists(names.LockFilePath()));
    QVERIFY(QFileInfo::exists(names.ServerName()));

    m_processes.push_back(Start(kProgram));
    QProcess& next = *m_processes.back();
    WaitUntilClaimed(QStringLiteral("kestrel"), next);
    QTest::qWait(kStayTime);
    QCOMPARE(next.state(), QProcess::Running);
}

void SingleInstanceTest::terminationEndsInOrderAndLetsGo()
{
    m_processes.push_back(Start(kProgram));
    QProcess& running = *m_processes.back();
    WaitUntilClaimed(QStringLiteral("kestrel"), running);
    running.terminate();
    QVERIFY(running.waitForFinished(kGiveWayTimeout));
    QCOMPARE(running.exitStatus(), QProcess::NormalExit);
    QCOMPARE(running.exitCode(), 0);
    QCOMPARE(LockOwner(QStringLiteral("kestrel")), 0);
}

} // namespace kestrel

QTEST_MAIN(kestrel::SingleInstanceTest)
#include "SingleInstanceTest.moc"
