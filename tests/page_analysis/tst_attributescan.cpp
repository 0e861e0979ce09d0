// The attribute scan: which values a page text yields for a pattern, and when it lets Cancel in.
#include "page_analysis/attributescan.h"
#include "page_analysis/linkextraction.h"

#include "support/fakehost.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_AttributeScan : public QObject
{
    Q_OBJECT
private slots:
    void findsValues_data();
    void findsValues();
    void givesWayToCancel();
};

void tst_AttributeScan::findsValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("capital tag and attribute, the value keeps its case")
        << u"<IMG SRC=\"Photo.JPG\">"_s << QStringList { u"Photo.JPG"_s };
    QTest::newRow("single quotes, blanks around the equals sign and bare values are not recognised")
        << u"<img src='a.jpg'><img src = \"b.jpg\"><img src=c.jpg>"_s << QStringList();
    QTest::newRow("found at the end of data-src, in comments and in scripts")
        << u"<img data-src=\"b.jpg\"><!-- src=\"c.jpg\" --><script>i.src=\"e.jpg\"</script>"_s
        << QStringList { u"b.jpg"_s, u"c.jpg"_s, u"e.jpg"_s };
    QTest::newRow("the same value twice is found twice, empty and blank values verbatim")
        << u"src=\"x.jpg\" SRC=\"x.jpg\" src=\"\" src=\" a&amp;b \""_s
        << QStringList { u"x.jpg"_s, u"x.jpg"_s, QString(), u" a&amp;b "_s };
    QTest::newRow("a pattern with no closing quote gives nothing, earlier values stay")
        << u"src=\"a.jpg\" src=\"b.jpg"_s << QStringList { u"a.jpg"_s };
    QTest::newRow("the scan does not jump over a value, so values overlap")
        << u"src=\"src=\"a.jpg\""_s << QStringList { u"src="_s, u"a.jpg"_s };
    QTest::newRow("non-ascii letters are not folded into the pattern")
        << u"ſrc=\"a.jpg\" ｓｒｃ=\"b.jpg\" Src=\"画像.jpg\""_s << QStringList { u"画像.jpg"_s };
}

void tst_AttributeScan::findsValues()
{
    QFETCH(QString, text);
    QFETCH(QStringList, values);
    FakeHost host;
    AttributeScan scan(text, srcPattern);
    QStringList found;
    QString value;
    while (scan.next(host, value) == AttributeScan::Step::Value)
        found.append(value);
    QCOMPARE(found, values);
}

void tst_AttributeScan::givesWayToCancel()
{
    FakeHost host;
    AttributeScan scan(u"src=\"a.jpg\""_s.repeated(3), srcPattern);
    QString value;
    QCOMPARE(scan.next(host, value), AttributeScan::Step::Value);
    QCOMPARE(host.yields, 1);
    // Work done on a value counts: after more than 10 ms of it the scan yields before going on.
    host.onYield = [&](int) { host.state.blnCancel = true; };
    QElapsedTimer busy;
    busy.start();
    while (busy.elapsed() < 15) { }
    QCOMPARE(scan.next(host, value), AttributeScan::Step::Cancelled);
    QCOMPARE(host.yields, 2);
    // A cancel made while a value was used (a followed page, say) ends the scan with no yield.
    AttributeScan again(u"src=\"a.jpg\" src=\"b.jpg\""_s, srcPattern);
    host.onYield = nullptr;
    host.state.blnCancel = false;
    QCOMPARE(again.next(host, value), AttributeScan::Step::Value);
    host.state.blnCancel = true;
    QCOMPARE(again.next(host, value), AttributeScan::Step::Cancelled);
}

QTEST_GUILESS_MAIN(tst_AttributeScan)
#include "tst_attributescan.moc"
