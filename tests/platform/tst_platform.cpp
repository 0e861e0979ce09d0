// The platform layer: the program's folder. Code page 932 text and the validity test of addresses
// show in the list and run tests, the single-start lock in the second start of the program.
#include "platform/pathrules.h"
#include "platform/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Platform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void programFolder_data();
    void programFolder();
};

void tst_Platform::programFolder_data()
{
    QTest::addColumn<QStringList>("layout"); // folders made under the prefix
    QTest::addColumn<bool>("beside");
    QTest::newRow("a build folder keeps the files beside the program")
        << QStringList { u"bin"_s } << true;
    QTest::newRow("an installed copy keeps them in the user's data folder")
        << QStringList { u"bin"_s, u"share/pixhound/help"_s } << false;
}

void tst_Platform::programFolder()
{
    QFETCH(QStringList, layout);
    QFETCH(bool, beside);
    QTemporaryDir prefix;
    for (const QString& folder : layout)
        QVERIFY(QDir(prefix.path()).mkpath(folder));
    QCOMPARE(keepsFilesBeside(prefix.path() + u"/bin"_s), beside);
    // An installed copy saves in the user's Pictures folder.
    QCOMPARE(defaultSaveFolder(prefix.path() + u"/bin"_s, u"/home/u/Pictures"_s),
        beside ? ::programFolder() : u"/home/u/Pictures/Pixhound/"_s);
    QCOMPARE(::programFolder(), QCoreApplication::applicationDirPath() + u'/');
    QCOMPARE(withTrailingSeparator(u"/home/u"_s), u"/home/u/"_s);
    QCOMPARE(withTrailingSeparator(u"/"_s), u"/"_s);
    QCOMPARE(withTrailingSeparator(QString()), QString());
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
