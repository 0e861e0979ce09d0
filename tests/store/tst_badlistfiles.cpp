// JPG lists that people edit by hand, or that are no text at all: each is read or refused with
// the program's usual messages, nothing of a refused file stays in the run, and a refused
// DownloadList.txt survives Cancel and closing the window byte for byte.
#include "main_window/frmmain.h"
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "support/fakehost.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/connectioncache.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray good = "http://s/1.jpg\r\n";

// What a reading must come to: the addresses taken, or the box that refused the file.
struct Verdict
{
    QStringList accepted;
    QString title; // empty when the list is accepted
    QString reason; // the first line of the box
    QString line; // "行：" and the line number, when a line was refused
};

} // namespace

Q_DECLARE_METATYPE(Verdict)

class tst_BadListFiles : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void listsAreReadOrRefused_data();
    void listsAreReadOrRefused();
    void refusedDownloadListSurvivesTheWindow_data();
    void refusedDownloadListSurvivesTheWindow();
};

void tst_BadListFiles::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    initialiseCurlOnce();
}

void tst_BadListFiles::listsAreReadOrRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("sparseSize"); // > 0: a file of that length holding nothing
    QTest::addColumn<Verdict>("verdict");
    const auto refused = [](const QString& reason, int line) {
        return Verdict { {}, Msg::titleUrlError, reason, Msg::lineLabel + QString::number(line) };
    };
    const QByteArray blankLines = QByteArray("\r\n").repeated(1000000);

    // A byte that is no character becomes the code page's substitute, a control character that
    // no address may hold.
    QTest::newRow("bytes that are no Shift_JIS make the address invalid")
        << QByteArray("http://s/1.jpg\r\nhttp://s/\x81\x20\xFF.jpg") << qint64(0)
        << refused(Msg::listInvalidUrl, 2);
    QTest::newRow("a lead byte left alone at the end of the file is not lost") << QByteArray(
        "http://s/1.jpg\r\nhttp://s/2.jpg\xE0") << qint64(0) << refused(Msg::listInvalidUrl, 2);
    QTest::newRow("bytes that are no UTF-8 are read as Shift_JIS") << QByteArray(
        "http://s/\xC0\xAF.jpg") << qint64(0) << Verdict { { u"http://s/ﾀｯ.jpg"_s }, {}, {}, {} };
    QTest::newRow("a UTF-16 file is refused at its first line")
        << QByteArrayLiteral("\xFF\xFEh\0t\0t\0p\0:\0/\0/\0s\0/\0a\0.\0j\0p\0g\0") << qint64(0)
        << refused(Msg::listInvalidUrl, 1);
    QTest::newRow("a file of NUL bytes is refused at its first line")
        << QByteArray(4096, '\0') << qint64(0) << refused(Msg::listInvalidUrl, 1);
    QTest::newRow("a million blank lines give an empty list")
        << blankLines << qint64(0) << Verdict {};
    QTest::newRow("a bad address after a million blank lines names its line")
        << blankLines + "s/x.jpg" << qint64(0) << refused(Msg::listInvalidUrl, 1000001);
    QTest::newRow("a million good addresses and one bad one leave nothing in the run")
        << good.repeated(1000000) + "http://s/x.png" << qint64(0)
        << refused(Msg::listNotJpeg, 1000001);
    QTest::newRow("a file larger than any list is refused unread")
        << QByteArray() << qint64(300) * 1024 * 1024
        << Verdict { {}, Msg::titleReadImgListError, u"7:メモリが不足しています。"_s, {} };
}

void tst_BadListFiles::listsAreReadOrRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, sparseSize);
    QFETCH(Verdict, verdict);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    host.state.udtDownload = { { u"http://old/1.jpg"_s, u"1.jpg"_s } };
    host.state.strPageList.append(u"http://old/1.jpg"_s);
    const QString path = folder.file(u"list.txt"_s);
    QVERIFY(writeFileBytes(path, content));
    if (sparseSize > 0)
        QCOMPARE(::truncate(QFile::encodeName(path).constData(), sparseSize), 0);

    QCOMPARE(readImageList(host, path), verdict.title.isEmpty());
    QCOMPARE(host.downloadUrls(), verdict.accepted);
    QCOMPARE(host.state.strPageList.addresses(), verdict.accepted);
    if (verdict.title.isEmpty()) {
        QVERIFY(answerer.boxes.isEmpty());
        return;
    }
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, verdict.title);
    QCOMPARE(answerer.last().icon, MessageIcon::Critical);
    const QStringList lines = answerer.last().text.split(Msg::crlf);
    QCOMPARE(lines.first(), verdict.reason);
    if (!verdict.line.isEmpty()) {
        QCOMPARE(lines.value(1), path);
        QCOMPARE(lines.value(3), verdict.line);
    }
}

void tst_BadListFiles::refusedDownloadListSurvivesTheWindow_data()
{
    QTest::addColumn<QByteArray>("edited");
    QTest::addColumn<bool>("cancelFirst");
    const QByteArray badLine = good + "http://s/2.jpg\r\nhttp://s/notes.txt\r\n";
    const QByteArray garbage = good + noiseBytes(5000, 9);
    QTest::newRow("a bad line, then the window closed") << badLine << false;
    QTest::newRow("a bad line, then Cancel confirmed and the window closed") << badLine << true;
    QTest::newRow("binary garbage, then the window closed") << garbage << false;
}

void tst_BadListFiles::refusedDownloadListSurvivesTheWindow()
{
    QFETCH(QByteArray, edited);
    QFETCH(bool, cancelFirst);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    answerer.answers = { MessageAnswer::Ok, MessageAnswer::Yes };
    const QString listPath = folder.file(Msg::listFileName);
    QVERIFY(writeFileBytes(listPath, edited));
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // An earlier run left its list in the window, as a list-only run does.
    window.runState().udtDownload = { { u"http://earlier/a.jpg"_s, u"a.jpg"_s } };
    window.findChild<QAbstractButton*>(u"optLinkMethod(1)"_s)->click();
    window.findChild<QCheckBox*>(u"chkSetSaveFolder"_s)->setChecked(false);

    // The open dialog starts on DownloadList.txt; the user takes it.
    QStringList offered;
    QTimer picker;
    connect(&picker, &QTimer::timeout, this, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        picker.stop();
        offered = dialog->selectedFiles();
        QMetaObject::invokeMethod(dialog, "accept");
    });
    picker.start(10);
    window.cmdDownload_Click();

    QCOMPARE(offered, QStringList { listPath });
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, Msg::titleUrlError);
    if (cancelFirst) {
        window.cmdCancel_Click();
        QCOMPARE(answerer.boxes.size(), 2);
        QCOMPARE(answerer.last().title, Msg::titleCancelConfirm);
    }
    window.close();

    QCOMPARE(readFileBytes(listPath), edited);
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::listFileName });
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_BadListFiles)
#include "tst_badlistfiles.moc"
