// The page folder name, the file names of the download list and the names no file system takes,
// on Linux and on Windows. Folder chains show in the window's run tests.
#include "store/localpaths.h"
#include "store/pathnames.h"
#include "support/fakehost.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_LocalPaths : public QObject
{
    Q_OBJECT
private slots:
    void pageFolderNames_data();
    void pageFolderNames();
    void fileListNamesEveryEntryInOneFill();
};

void tst_LocalPaths::pageFolderNames_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    const auto row = [](const char* name, const QString& address, const QString& folder) {
        QTest::newRow(name) << address << folder;
    };
    row("separators become underscores", u"http://server/photos/top.html"_s,
        u"server_photos_top.html"_s);
    row("port, query and semicolon go, equals and dots stay",
        u"http://server:8080/a/b.cgi?id=3;x=4"_s, u"server_8080_a_b.cgi_id=3_x=4"_s);
    row("ftp loses its scheme", u"ftp://server/pub/"_s, u"server_pub_"_s);
    row("an upper-case scheme is not cut", u"HTTP://SERVER/A.HTM"_s, u"HTTP___SERVER_A.HTM"_s);
    row("http text later in the address still cuts seven characters",
        u"https://server/?u=http://x/"_s, u"_server__u=http___x_"_s);
    row("backslash, comma, star, quote, angle brackets and bar are replaced",
        u"http://a\\b,c*d\"e<f>g|h"_s, u"a_b_c_d_e_f_g_h"_s);
    row("nothing left still names a folder of its own", u"http://"_s, u"_"_s);
    row("two dots never name the parent", u"http://.."_s, u"__"_s);
}

void tst_LocalPaths::pageFolderNames()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QCOMPARE(pageFolderPath(u"/data/"_s, address, PathConventions::forLinux()),
        u"/data/"_s + name + u'/');
    QCOMPARE(pageFolderPath(u"C:\\D\\"_s, address, PathConventions::forWindows()),
        u"C:\\D\\"_s + name + u'\\');
}

void tst_LocalPaths::fileListNamesEveryEntryInOneFill()
{
    FakeHost host;
    host.state.udtDownload = { { u"http://server/a/b/c.jpg"_s, {} },
        { u"http://other/x/c.jpg"_s, {} }, { u"http://s/x/%E5%86%99.jpg?size=2"_s, {} },
        { u"http://server/dir/"_s, {} }, { u"c.jpg"_s, {} } };
    QVERIFY(Get_FileList(host));
    const QStringList names { u"c.jpg"_s, u"c.jpg"_s, u"%E5%86%99.jpg?size=2"_s, QString(),
        QString() };
    QCOMPARE(host.downloadRows, names);
    QCOMPARE(host.downloadRowAppends, 1);
    QCOMPARE(host.state.udtDownload.at(2).FileName, names.at(2));
    // 255 fit: bytes of the local encoding on Linux, UTF-16 units on Windows; a backslash or a
    // colon leaves the folder only on Windows.
    using enum FileNameRefusal;
    const PathConventions onLinux = PathConventions::forLinux(),
                          onWindows = PathConventions::forWindows();
    for (const PathConventions& at : { onLinux, onWindows }) {
        QCOMPARE(fileNameRefusal(QString(251, u'a') + u".jpg"_s, at), None);
        QCOMPARE(fileNameRefusal(QString(252, u'a') + u".jpg"_s, at), TooLong);
        QCOMPARE(fileNameRefusal(u"../a.jpg"_s, at), Unsafe);
    }
    QCOMPARE(fileNameRefusal(QString(100, u'長'), onLinux), TooLong);
    QCOMPARE(fileNameRefusal(QString(100, u'長'), onWindows), None);
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onLinux), None);
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onWindows), Unsafe);
}

QTEST_GUILESS_MAIN(tst_LocalPaths)
#include "tst_localpaths.moc"
