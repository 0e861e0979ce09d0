// Where an installed copy keeps its files: never in its bin folder, even when that is writable.
#include "platform/programfolder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_InstalledFolder : public QObject
{
    Q_OBJECT
private slots:
    void binFolderOfAnInstallTakesNoFiles_data();
    void binFolderOfAnInstallTakesNoFiles();
};

void tst_InstalledFolder::binFolderOfAnInstallTakesNoFiles_data()
{
    QTest::addColumn<QStringList>("layout"); // folders made under the prefix
    QTest::addColumn<bool>("beside"); // and saves there; an installed copy saves in Pictures

    QTest::newRow("a build folder keeps the files beside the program")
        << QStringList { u"bin"_s } << true;
    QTest::newRow("an installed copy keeps them in the user's data folder")
        << QStringList { u"bin"_s, u"share/pixhound/help"_s } << false;
    QTest::newRow("another program's shared files do not make it installed")
        << QStringList { u"bin"_s, u"share/other"_s } << true;
}

void tst_InstalledFolder::binFolderOfAnInstallTakesNoFiles()
{
    QFETCH(QStringList, layout);
    QFETCH(bool, beside);

    QTemporaryDir prefix;
    for (const QString& folder : layout)
        QVERIFY(QDir(prefix.path()).mkpath(folder));
    QCOMPARE(keepsFilesBeside(prefix.path() + u"/bin"_s), beside);
    QCOMPARE(defaultSaveFolder(prefix.path() + u"/bin"_s, u"/home/u/Pictures"_s),
        beside ? programFolder() : u"/home/u/Pictures/Pixhound/"_s);
    QVERIFY(!keepsFilesBeside(QString()));
}

QTEST_GUILESS_MAIN(tst_InstalledFolder)
#include "tst_installedfolder.moc"
