// The attribute scan: which values a page text yields for a pattern, and when it lets Cancel in.
#include "page_analysis/attributescan.h"
#include "page_analysis/linkextraction.h"

#include "support/fakehost.h"

#include <QElapsedTimer>
#include <QTest>

class tst_AttributeScan : public QObject
{
    Q_OBJECT
private slots:
    void findsValues_data();
    void findsValues();
    void testsTheRawValue();
    void givesWayToCancel();
};

void tst_AttributeScan::findsValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("capital tag and attribute, the value keeps its case")
        << QStringLiteral("<IMG SRC=\"Photo.JPG\">") << QStringList { QStringLiteral("Photo.JPG") };
    QTest::newRow("single quotes, blanks around the equals sign and bare values are not recognised")
        << QStringLiteral("<img src='a.jpg'><img src = \"b.jpg\"><img src=c.jpg>") << QStringList();
    QTest::newRow("found at the end of data-src, in comments and in scripts")
        << QStringLiteral(
               "<img data-src=\"b.jpg\"><!-- src=\"c.jpg\" --><script>i.src=\"e.jpg\"</script>")
        << QStringList { QStringLiteral("b.jpg"), QStringLiteral("c.jpg"),
               QStringLiteral("e.jpg") };
    QTest::newRow("the same value twice is found twice, empty and blank values verbatim")
        << QStringLiteral("src=\"x.jpg\" SRC=\"x.jpg\" src=\"\" src=\" a&amp;b \"")
        << QStringList { QStringLiteral("x.jpg"), QStringLiteral("x.jpg"), QString(),
               QStringLiteral(" a&amp;b ") };
    QTest::newRow("a pattern with no closing quote gives nothing, earlier values stay")
        << QStringLiteral("src=\"a.jpg\" src=\"b.jpg") << QStringList { QStringLiteral("a.jpg") };
    QTest::newRow("the scan does not jump over a value, so values overlap") << QStringLiteral(
        "src=\"src=\"a.jpg\"") << QStringList { QStringLiteral("src="), QStringLiteral("a.jpg") };
    QTest::newRow("non-ascii letters are not folded into the pattern")
        << QStringLiteral("ſrc=\"a.jpg\" ｓｒｃ=\"b.jpg\" Src=\"画像.jpg\"")
        << QStringList { QStringLiteral("画像.jpg") };
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

void tst_AttributeScan::testsTheRawValue()
{
    QVERIFY(isImageValue(u"Photo.JPEG") && isImageValue(u"getjpg") && !isImageValue(u"a.jpg?x=1"));
    QVERIFY(isPageValue(u"Q.HTM") && isPageValue(u"q.html") && !isPageValue(u"q.htm#top"));
    QVERIFY(!isImageValue(u"pg") && !isPageValue(u"tm"));
}

void tst_AttributeScan::givesWayToCancel()
{
    FakeHost host;
    AttributeScan scan(QStringLiteral("src=\"a.jpg\"").repeated(3), srcPattern);
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
    FakeHost other;
    AttributeScan again(QStringLiteral("src=\"a.jpg\" src=\"b.jpg\""), srcPattern);
    QCOMPARE(again.next(other, value), AttributeScan::Step::Value);
    other.state.blnCancel = true;
    QCOMPARE(again.next(other, value), AttributeScan::Step::Cancelled);
}

QTEST_GUILESS_MAIN(tst_AttributeScan)
#include "tst_attributescan.moc"
