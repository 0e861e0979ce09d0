// Code page 932 text: what the list and source files are written in.
#include "platform/codepage.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_CodePage : public QObject
{
    Q_OBJECT
private slots:
    void encodesAsShiftJisOrPercentEncodes_data();
    void encodesAsShiftJisOrPercentEncodes();
    void decodesTextFiles_data();
    void decodesTextFiles();
};

void tst_CodePage::encodesAsShiftJisOrPercentEncodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("japanese as shift_jis, backslash and tilde as their ascii bytes")
        << u"http://host/画像\\~.jpg"_s << QByteArray("http://host/\x89\xe6\x91\x9c\\~.jpg");
    QTest::newRow("euro sign between ascii") << u"a€b"_s << QByteArray("a%E2%82%ACb");
    QTest::newRow("emoji kept whole, not split into surrogates")
        << QString::fromUtf8("x\xF0\x9F\x98\x80.jpg") << QByteArray("x%F0%9F%98%80.jpg");
    QTest::newRow("wave dash next to kana")
        << QString::fromUtf8("\xE3\x80\x9C\xE3\x81\x82") << QByteArray("%E3%80%9C\x82\xa0");
}

void tst_CodePage::encodesAsShiftJisOrPercentEncodes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeCp932(text), bytes);
    if (!bytes.contains('%'))
        QCOMPARE(decodeCp932(bytes), text);
}

void tst_CodePage::decodesTextFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("valid utf-8 without a mark")
        << QByteArray("http://h/\xE7\x94\xBB.jpg") << u"http://h/画.jpg"_s;
    QTest::newRow("shift_jis otherwise")
        << QByteArray("http://h/\x89\xe6.jpg") << u"http://h/画.jpg"_s;
    // 0xFF is no character of the code page: it becomes the substitute character, and the NUL
    // and the letters around it survive.
    QTest::newRow("invalid bytes never swallow their neighbours")
        << QByteArray("a\xFF\x00z", 4) << u"a\x1A\0z"_s;
    QTest::newRow("a lead byte alone at the end is not swallowed")
        << QByteArray("a\xF6") << u"a\x1A"_s;
}

void tst_CodePage::decodesTextFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeUtf8OrCp932(bytes), text);
}

QTEST_GUILESS_MAIN(tst_CodePage)
#include "tst_codepage.moc"
