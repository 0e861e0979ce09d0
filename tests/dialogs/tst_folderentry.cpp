// The checks of a typed save folder, on Windows and Linux conventions.
#include "dialogs/folderentry.h"
#include "resources/messages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(FolderEntryVerdict)

class tst_FolderEntry : public QObject
{
    Q_OBJECT

private slots:
    void checks_data();
    void checks();
    void linuxDriveTestByTheFolderItself_data();
    void linuxDriveTestByTheFolderItself();
};

void tst_FolderEntry::checks_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("driveAnswer");
    QTest::addColumn<QStringList>("drivesTested");
    QTest::addColumn<FolderEntryVerdict>("verdict");
    QTest::addColumn<QString>("folder");

    using V = FolderEntryVerdict;
    const QStringList driveC { u"C:\\"_s };
    QTest::newRow("one letter between spaces asks for a folder name")
        << true << u"  C  "_s << true << QStringList() << V::TooShort << QString();
    QTest::newRow("the colon of the drive passes and a separator is added")
        << true << u" C:\\photos "_s << true << driveC << V::Accepted << u"C:\\photos\\"_s;
    QTest::newRow("spaces after the last separator do not name a folder")
        << true << u"C:\\photos\\   "_s << true << driveC << V::Accepted << u"C:\\photos\\"_s;
    QTest::newRow("a colon after the drive is forbidden")
        << true << u"C:\\photos:2"_s << true << driveC << V::ForbiddenCharacter << QString();
    QTest::newRow("a slash after the drive is forbidden on Windows")
        << true << u"C:/photos/2024"_s << true << QStringList { u"C:/"_s } << V::ForbiddenCharacter
        << QString();
    QTest::newRow("a slash as the drive's own separator passes")
        << true << u"C:/photos"_s << true << QStringList { u"C:/"_s } << V::Accepted
        << u"C:/photos\\"_s;
    QTest::newRow("a failed drive test comes before the forbidden characters")
        << true << u"Q:\\a*b"_s << false << QStringList { u"Q:\\"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("a network path skips the drive test")
        << true << u"\\\\server\\share"_s << false << QStringList() << V::Accepted
        << u"\\\\server\\share\\"_s;

    QTest::newRow("a Linux entry goes whole to the drive test")
        << false << u"photos/2024"_s << false << QStringList { u"photos/2024"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("a tilde and a separator start in the home folder")
        << false << u"~/Pictures"_s << true << QStringList { u"/home/tester/Pictures"_s }
        << V::Accepted << u"/home/tester/Pictures/"_s;
    QTest::newRow("another user's tilde is left as typed")
        << false << u"~bob/x"_s << false << QStringList { u"~bob/x"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("a backslash is forbidden on Linux")
        << false << u"/data/a\\b"_s << true << QStringList { u"/data/a\\b"_s }
        << V::ForbiddenCharacter << QString();
}

void tst_FolderEntry::checks()
{
    QFETCH(bool, windows);
    QFETCH(QString, typed);
    QFETCH(bool, driveAnswer);
    QFETCH(QStringList, drivesTested);
    QFETCH(FolderEntryVerdict, verdict);
    QFETCH(QString, folder);

    const PathConventions conventions
        = windows ? PathConventions::forWindows() : PathConventions::forLinux();
    QStringList tested;
    const FolderEntryResult result
        = checkFolderEntry(typed, conventions, u"/home/tester"_s, [&](const QString& drive) {
              tested.append(drive);
              return driveAnswer;
          });
    QCOMPARE(tested, drivesTested);
    QCOMPARE(result.verdict, verdict);
    QCOMPARE(result.folder, folder);
    // The message names exactly the characters that are searched.
    QCOMPARE(forbiddenCharacterMessage(conventions),
        Msg::forbiddenFolderChars + Msg::crlf + (windows ? u"/:*?\"<>|"_s : u"\\:*?\"<>|"_s));
}

void tst_FolderEntry::linuxDriveTestByTheFolderItself_data()
{
    QTest::addColumn<QString>("folder"); // under a temporary folder; "locked/" is read-only
    QTest::addColumn<int>("mountTable"); // -1: no entry covers it, 0: not ready, 1: ready
    QTest::addColumn<bool>("usable");
    QTest::newRow("an existing folder no mount entry covers") << u"here"_s << -1 << true;
    QTest::newRow("a new folder in a writable one") << u"here/new/sub"_s << -1 << true;
    QTest::newRow("a new folder in a read-only one") << u"locked/new"_s << -1 << false;
    QTest::newRow("the mount table decides where it knows the volume") << u"here"_s << 0 << false;
    QTest::newRow("a relative path never passes") << u"<relative>"_s << 1 << false;
}

void tst_FolderEntry::linuxDriveTestByTheFolderItself()
{
    QFETCH(QString, folder);
    QFETCH(int, mountTable);
    QFETCH(bool, usable);
    if (folder.startsWith(u"locked"_s) && ::geteuid() == 0)
        QSKIP("root may write into a read-only folder");
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(u"here"_s) && QDir(dir.path()).mkpath(u"locked"_s));
    QVERIFY(QFile::setPermissions(dir.filePath(u"locked"_s), QFile::ReadOwner | QFile::ExeOwner));
    const QString typed = folder == u"<relative>"_s ? u"here"_s : dir.filePath(folder);
    QCOMPARE(Check_Drive(typed, PathConventions::forLinux(),
                 [&](const QString&) {
                     return mountTable < 0 ? std::nullopt : std::optional<bool>(mountTable == 1);
                 }),
        usable);
}

QTEST_GUILESS_MAIN(tst_FolderEntry)
#include "tst_folderentry.moc"
