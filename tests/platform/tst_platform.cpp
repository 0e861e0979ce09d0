// The platform layer: the program's folder, code page 932 text both ways, and the knock of a second
// start. The validity test of addresses shows in the list and run tests, the lock's stale-copy
// handling in the second start of the program.
#include "platform/codepage.h"
#include "platform/pathrules.h"
#include "platform/programfolder.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_Platform : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    void programFolder_data();
    void programFolder();
    void codePage_data();
    void codePage();
    void secondStartKnocks();

private:
    QTemporaryDir m_runtime; // the user's runtime folder, of this test alone
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
    // The help page of an installed copy is the installed one, of a build folder the source tree's.
    const QString help = shippedFile(prefix.path() + u"/bin"_s, u"pixhound/help/index.html"_s,
        u"src/resources/help/index.html"_s);
    QVERIFY2(beside ? QFileInfo(help).isFile() && help.endsWith(u"/src/resources/help/index.html")
                    : help == prefix.path() + u"/share/pixhound/help/index.html",
        qPrintable(help));
    QCOMPARE(::programFolder(), QCoreApplication::applicationDirPath() + u'/');
    QCOMPARE(withTrailingSeparator(u"/home/u"_s), u"/home/u/"_s);
    QCOMPARE(withTrailingSeparator(u"/"_s), u"/"_s);
    QCOMPARE(withTrailingSeparator(QString()), QString());
}

void tst_Platform::codePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("both"); // the bytes read back as the text
    QTest::newRow("ASCII as it is") << u"http://s/a b.jpg?x=1&y=~\\\r\n"_s
                                    << QByteArray("http://s/a b.jpg?x=1&y=~\\\r\n") << true;
    // The code page's own places for three control characters, whether the text is all ASCII or
    // not.
    QTest::newRow("three control characters exchanged")
        << u"\x1A\x1C\x7F"_s << QByteArray("\x7F\x1A\x1C") << true;
    QTest::newRow("the same beside Japanese")
        << u"\x1A画像"_s << QByteArray("\x7F\x89\xE6\x91\x9C") << true;
    QTest::newRow("a character the code page lacks is percent-encoded")
        << u"a€"_s << QByteArray("a%E2%82%AC") << false;
}

void tst_Platform::codePage()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, both);
    QCOMPARE(encodeCp932(text), bytes);
    if (both)
        QCOMPARE(decodeCp932(bytes), text);
}

void tst_Platform::secondStartKnocks()
{
    SingleInstance first;
    SingleInstance second;
    QSignalSpy knocked(&first, &SingleInstance::activationRequested);
    QCOMPARE(std::tuple(first.isFirst(), second.isFirst(), second.knock()),
        std::tuple(true, false, true));
    QVERIFY(knocked.wait());
    QCOMPARE(knocked.count(), 1);
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
