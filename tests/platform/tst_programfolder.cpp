// The program's folder, the folder-string rules of both platforms and the single-start lock.
#include "platform/pathrules.h"
#include "platform/programfolder.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_ProgramFolder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void writableExecutableFolderIsTheProgramFolder();
    void trailingSeparatorFollowsThePlatform_data();
    void trailingSeparatorFollowsThePlatform();
    void secondInstanceIsRefusedUntilTheFirstEnds();
};

void tst_ProgramFolder::writableExecutableFolderIsTheProgramFolder()
{
    QCOMPARE(programFolder(), QCoreApplication::applicationDirPath() + u'/');
}

void tst_ProgramFolder::trailingSeparatorFollowsThePlatform_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows folder gains a backslash") << true << u"C:\\Data"_s << u"C:\\Data\\"_s;
    QTest::newRow("windows drive root keeps its one backslash") << true << u"C:\\"_s << u"C:\\"_s;
    QTest::newRow("a slash is no separator on windows") << true << u"C:/a/"_s << u"C:/a/\\"_s;
    QTest::newRow("linux folder gains a slash") << false << u"/home/u"_s << u"/home/u/"_s;
    QTest::newRow("linux root stays the root") << false << u"/"_s << u"/"_s;
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
    const QString name = u"pixhound-test-%1.lock"_s.arg(QCoreApplication::applicationPid());
    {
        SingleInstance first(name);
        QVERIFY(first.isFirst());
        QVERIFY(!SingleInstance(name).isFirst());
    }
    QVERIFY(SingleInstance(name).isFirst());
}

QTEST_GUILESS_MAIN(tst_ProgramFolder)
#include "tst_programfolder.moc"
