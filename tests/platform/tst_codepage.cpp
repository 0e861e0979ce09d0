// Code page 932 text: what the list and source files are written in.
#include "platform/codepage.h"

#include <QTest>

class tst_CodePage : public QObject {
    Q_OBJECT
private slots:
    void encodesJapaneseAsShiftJis();
    void percentEncodesWhatTheCodePageCannotHold_data();
    void percentEncodesWhatTheCodePageCannotHold();
    void decodesTextFiles_data();
    void decodesTextFiles();
};

void tst_CodePage::encodesJapaneseAsShiftJis()
{
    const QString text = QStringLiteral("http://host/画像\\~.jpg");
    const QByteArray bytes = encodeCp932(text);
    QCOMPARE(bytes, QByteArray("http://host/\x89\xe6\x91\x9c\\~.jpg"));
    QCOMPARE(decodeCp932(bytes), text);
}

void tst_CodePage::percentEncodesWhatTheCodePageCannotHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("euro sign between ascii") << QStringLiteral("a€b") << QByteArray("a%E2%82%ACb");
    QTest::newRow("emoji kept whole, not split into surrogates")
        << QString::fromUtf8("x\xF0\x9F\x98\x80.jpg") << QByteArray("x%F0%9F%98%80.jpg");
    QTest::newRow("wave dash next to kana") << QString::fromUtf8("\xE3\x80\x9C\xE3\x81\x82")
                                            << QByteArray("%E3%80%9C\x82\xa0");
}

void tst_CodePage::percentEncodesWhatTheCodePageCannotHold()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeCp932(text), bytes);
}

void tst_CodePage::decodesTextFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf-8 with a byte-order mark loses the mark")
        << QByteArray("\xEF\xBB\xBFhttp://h/\xE7\x94\xBB.jpg") << QStringLiteral("http://h/画.jpg");
    QTest::newRow("valid utf-8 without a mark") << QByteArray("http://h/\xE7\x94\xBB.jpg")
                                                << QStringLiteral("http://h/画.jpg");
    QTest::newRow("shift_jis otherwise") << QByteArray("http://h/\x89\xe6.jpg")
                                         << QStringLiteral("http://h/画.jpg");
    // 0xFF is no character of the code page: it becomes the substitute character, and the NUL
    // and the letters around it survive.
    QTest::newRow("invalid bytes never swallow their neighbours")
        << QByteArray("a\xFF\x00z", 4) << QString(QStringLiteral("a") + QChar(0x1A) + QChar(0) + u'z');
    QTest::newRow("a lead byte alone at the end is not swallowed")
        << QByteArray("a\xF6") << QString(QStringLiteral("a") + QChar(0x1A));
}

void tst_CodePage::decodesTextFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeUtf8OrCp932(bytes), text);
}

QTEST_GUILESS_MAIN(tst_CodePage)
#include "tst_codepage.moc"
