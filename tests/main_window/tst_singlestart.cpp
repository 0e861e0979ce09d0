// Starting the built program while it already runs: the second copy ends at once, silently.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_SingleStart : public QObject
{
    Q_OBJECT
private slots:
    void secondStartEndsAtOnceAndLeavesTheFirst();
};

void tst_SingleStart::secondStartEndsAtOnceAndLeavesTheFirst()
{
    // A runtime folder of its own, so that no other copy on this machine takes part.
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    const QString program = QStringLiteral(PIXHOUND_EXECUTABLE);

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(program, {});
    QVERIFY2(first.waitForStarted(), qPrintable(first.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(runtime.filePath(QStringLiteral("pixhound.lock"))), 10000);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(program, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(tst_SingleStart)
#include "tst_singlestart.moc"
