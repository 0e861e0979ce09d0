// The validity test of addresses: the answers that link resolution and the run rely on.
#include "platform/validurl.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_ValidUrl : public QObject
{
    Q_OBJECT
private slots:
    void answersAsResolutionExpects_data();
    void answersAsResolutionExpects();
};

void tst_ValidUrl::answersAsResolutionExpects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    // Relative names, a drive path and an empty box are refused by the run's own test.
    QTest::newRow("a page address is valid") << u"http://host/a/index.htm"_s << true;
    QTest::newRow("the bare http prefix is valid") << u"http://"_s << true;
    QTest::newRow("an https folder in capitals is valid") << u"HTTPS://h/index.htm"_s << true;
    QTest::newRow("a lone slash after the scheme is valid") << u"http:/pic.jpg"_s << true;
    QTest::newRow("a Japanese path is valid") << u"http://h/画像.jpg"_s << true;
    QTest::newRow("a scheme may not start with a digit") << u"1http://h/"_s << false;
    QTest::newRow("a line break inside is not") << u"http://h/a\r\nb"_s << false;
}

void tst_ValidUrl::answersAsResolutionExpects()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidUrl(text), valid);
}

QTEST_GUILESS_MAIN(tst_ValidUrl)
#include "tst_validurl.moc"
