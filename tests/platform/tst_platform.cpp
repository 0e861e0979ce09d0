// The platform layer: code page 932 text and the program's folder. The validity test of addresses
// shows in the list and run tests, the single-start lock in the second start of the program.
#include "platform/codepage.h"
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
    void codePage932_data();
    void codePage932();
    void programFolder_data();
    void programFolder();
};

void tst_Platform::codePage932_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("encodes"); // text to bytes; otherwise bytes decoded as a text file
    QTest::newRow("japanese as shift_jis, backslash and tilde as their ascii bytes")
        << u"http://host/画像\\~.jpg"_s << QByteArray("http://host/\x89\xe6\x91\x9c\\~.jpg")
        << true;
    QTest::newRow("emoji kept whole, not split into surrogates")
        << u"x\U0001F600.jpg"_s << QByteArray("x%F0%9F%98%80.jpg") << true;
    QTest::newRow("wave dash next to kana")
        << u"\u301C\u3042"_s << QByteArray("%E3%80%9C\x82\xa0") << true;
    QTest::newRow("a text file in valid utf-8 without a mark")
        << u"http://h/画.jpg"_s << QByteArray("http://h/\xE7\x94\xBB.jpg") << false;
    // 0xFF is no character of the code page: the substitute character takes its place alone.
    QTest::newRow("invalid bytes never swallow their neighbours")
        << u"a\x1A\0z"_s << QByteArray("a\xFF\x00z", 4) << false;
}

void tst_Platform::codePage932()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, encodes);
    if (encodes)
        QCOMPARE(encodeCp932(text), bytes);
    if (encodes && !bytes.contains('%'))
        QCOMPARE(decodeCp932(bytes), text);
    if (!encodes)
        QCOMPARE(decodeUtf8OrCp932(bytes), text);
}

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
