// Decoding fetched pages: the text the link scans read must be the text the page meant.
#include "page_analysis/pagetext.h"
#include "platform/codepage.h"

#include <QTest>

class tst_PageText : public QObject
{
    Q_OBJECT
private slots:
    void decodesPages_data();
    void decodesPages();
};

void tst_PageText::decodesPages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    const QString name = QStringLiteral("画像.jpg");
    const QByteArray sjisName("\x89\xe6\x91\x9c.jpg");
    const QByteArray utf8Name = name.toUtf8();
    const QByteArray sjisMeta(
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">");

    QTest::newRow("utf-8 mark is dropped and decides even against a shift_jis meta")
        << QByteArray("\xEF\xBB\xBF") + sjisMeta + utf8Name << QString::fromLatin1(sjisMeta) + name;
    QByteArray be("\xFE\xFF", 2);
    for (QChar c : QString(QStringLiteral("<p>") + name))
        be += char(c.unicode() >> 8), be += char(c.unicode() & 0xFF);
    QTest::newRow("utf-16 big-endian by its mark") << be << QStringLiteral("<p>") + name;
    QTest::newRow("shift_jis named in an http-equiv meta, although the bytes are not utf-8")
        << sjisMeta + sjisName << QString::fromLatin1(sjisMeta) + name;
    QTest::newRow("windows-31j in a meta charset is code page 932, backslash kept")
        << QByteArray("<META CHARSET='Windows-31J'>\\") + sjisName
        << QStringLiteral("<META CHARSET='Windows-31J'>\\") + name;
    QTest::newRow("a shift_jis meta wins over bytes that are also valid utf-8")
        << QByteArray("<meta charset=sjis>") + utf8Name
        << QStringLiteral("<meta charset=sjis>") + decodeCp932(utf8Name);
    QTest::newRow("a meta past the first 1024 bytes is not read; valid utf-8 is utf-8")
        << QByteArray(1100, ' ') + sjisMeta + utf8Name
        << QString(1100, u' ') + QString::fromLatin1(sjisMeta) + name;
    QTest::newRow("an unknown charset name falls back to the content")
        << QByteArray("<meta charset=\"no-such-set\">") + sjisName
        << QStringLiteral("<meta charset=\"no-such-set\">") + name;
    QTest::newRow("no mark, no meta, not utf-8: code page 932")
        << QByteArray("src=\"") + sjisName << QStringLiteral("src=\"") + name;
    QTest::newRow("a page cut in the middle of a character is not silently shortened")
        << QByteArray("<meta charset=utf-8>\xE7\x94")
        << QStringLiteral("<meta charset=utf-8>") + QString(2, QChar(0xFFFD));
}

void tst_PageText::decodesPages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodePageText(bytes), text);
}

QTEST_GUILESS_MAIN(tst_PageText)
#include "tst_pagetext.moc"
