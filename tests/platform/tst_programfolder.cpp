// The program's folder and the folder-string rules of both platforms.
#include "platform/pathrules.h"
#include "platform/programfolder.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class tst_ProgramFolder : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void writableExecutableFolderIsTheProgramFolder();
    void testsCanPointItElsewhere();
    void trailingSeparatorFollowsThePlatform_data();
    void trailingSeparatorFollowsThePlatform();
    void secondInstanceIsRefusedUntilTheFirstEnds();
};

void tst_ProgramFolder::writableExecutableFolderIsTheProgramFolder()
{
    setProgramFolder(QString());
    QCOMPARE(programFolder(), QCoreApplication::applicationDirPath() + u'/');
}

void tst_ProgramFolder::testsCanPointItElsewhere()
{
    QTemporaryDir dir;
    setProgramFolder(dir.path());
    QCOMPARE(programFolder(), dir.path() + u'/');
    setProgramFolder(dir.path() + u'/');
    QCOMPARE(programFolder(), dir.path() + u'/');
    setProgramFolder(QString());
}

void tst_ProgramFolder::trailingSeparatorFollowsThePlatform_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows folder gains a backslash") << true << QStringLiteral("C:\\Data") << QStringLiteral("C:\\Data\\");
    QTest::newRow("windows drive root keeps its one backslash") << true << QStringLiteral("C:\\") << QStringLiteral("C:\\");
    QTest::newRow("a slash is no separator on windows") << true << QStringLiteral("C:/a/") << QStringLiteral("C:/a/\\");
    QTest::newRow("linux folder gains a slash") << false << QStringLiteral("/home/u") << QStringLiteral("/home/u/");
    QTest::newRow("linux root stays the root") << false << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("empty stays empty") << false << QString() << QString();
}

void tst_ProgramFolder::trailingSeparatorFollowsThePlatform()
{
    QFETCH(bool, windows);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const auto conventions = windows ? PathConventions::forWindows() : PathConventions::forLinux();
    QCOMPARE(withTrailingSeparator(path, conventions), expected);
}

void tst_ProgramFolder::secondInstanceIsRefusedUntilTheFirstEnds()
{
    const QString name = QStringLiteral("pixhound-test-%1.lock").arg(QCoreApplication::applicationPid());
    {
        SingleInstance first(name);
        QVERIFY(first.isFirst());
        SingleInstance second(name);
        QVERIFY(!second.isFirst());
    }
    SingleInstance again(name);
    QVERIFY(again.isFirst());
}

QTEST_GUILESS_MAIN(tst_ProgramFolder)
#include "tst_programfolder.moc"
