// The main window outside a run's network work: the start address, the rules that switch the
// controls, and what a busy window lists.
#include "main_window/frmmain.h"
#include "support/tempprogramfolder.h"
#include "support/widgets/dialogdriver.h"
#include "support/widgets/runfixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "1" for each enabled control of those the window switches, "0" for each disabled one.
QString enabledPattern(const frmMain& window)
{
    QString pattern;
    for (const char* name : { "cmdDownload", "cmdSkip", "cmdCancel", "txtURL", "chkSetSaveFolder",
             "optLinkJpg(0)", "optLinkJpg(1)", "chkSkipCurrentPageJpg", "optLinkMethod(0)",
             "optLinkMethod(1)", "optLinkMethod(2)" })
        pattern += window.findChild<QWidget*>(QLatin1String(name))->isEnabled() ? u'1' : u'0';
    return pattern;
}

// A step of a run on the lists: "d:x" files x as Done, "a:" Already, "x:" Denied; "D", "A", "X"
// select the last row of that list; "r:k" selects row k of lstDownload; "f:x,y" fills it.
void apply(RunHost& host, const QString& step)
{
    const ResultList list = step.at(0).toLower() == u'd' ? ResultList::Done
        : step.at(0).toLower() == u'a'                   ? ResultList::Already
                                                         : ResultList::Denied;
    if (step.startsWith(u"r:"))
        host.selectDownloadRow(step.mid(2).toInt());
    else if (step.startsWith(u"f:"))
        host.fillDownloadRows(step.mid(2).split(u',', Qt::SkipEmptyParts));
    else if (step.size() == 1)
        host.selectLastResultRow(list);
    else
        host.appendResultRow(list, step.mid(2));
}

} // namespace

class tst_FrmMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { QVERIFY(noWindowOpen()); }
    void clipboardAddressIsTakenAtStart_data();
    void clipboardAddressIsTakenAtStart();
    void methodAndSourceSwitchTheControls_data();
    void methodAndSourceSwitchTheControls();
    void busyListsEndAsIfChangedAtOnce_data();
    void busyListsEndAsIfChangedAtOnce();

private:
    TempProgramFolder m_folder;
};

void tst_FrmMain::clipboardAddressIsTakenAtStart_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("expected");
    const QString none = u"http://"_s;
    QTest::newRow("an address in capitals is taken") << u"HTTP://A/B.HTM"_s << u"HTTP://A/B.HTM"_s;
    QTest::newRow("a bare ftp scheme of six characters is taken") << u"ftp://"_s << u"ftp://"_s;
    QTest::newRow("an https address is taken like an http one")
        << u"HttpS://a/"_s << u"HttpS://a/"_s;
    QTest::newRow("a file address is not taken") << u"file:///etc/passwd"_s << none;
    QTest::newRow("five characters are never taken") << u"ftp:/"_s << none;
    QTest::newRow("text that merely holds an address is not taken") << u"see http://a/"_s << none;
    QTest::newRow("only one of two line ends is removed")
        << u"http://a/\r\n\r\n"_s << u"http://a/\r\n"_s;
    QTest::newRow("a lone line feed stays") << u"http://a/\n"_s << u"http://a/\n"_s;
}

void tst_FrmMain::clipboardAddressIsTakenAtStart()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, expected);
    QGuiApplication::clipboard()->setText(clipboard);
    frmMain window;
    QCOMPARE(window.typedAddress(), expected);
}

void tst_FrmMain::methodAndSourceSwitchTheControls_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("pattern"); // see enabledPattern
    QTest::newRow("links then download, links of the page") << 0 << 0 << u"10011110111"_s;
    QTest::newRow("links then download, embedded images") << 0 << 1 << u"10011111111"_s;
    QTest::newRow("from a jpg list ignores address and source") << 1 << 1 << u"10001000111"_s;
    QTest::newRow("list only has no save folder") << 2 << 0 << u"10010110111"_s;
    QTest::newRow("list only with embedded images") << 2 << 1 << u"10010111111"_s;
}

void tst_FrmMain::methodAndSourceSwitchTheControls()
{
    QFETCH(int, method);
    QFETCH(int, source);
    QFETCH(QString, pattern);

    QGuiApplication::clipboard()->clear();
    frmMain window;
    QCOMPARE(enabledPattern(window), u"10011110111"_s);
    auto* skipGiven = window.findChild<QCheckBox*>(u"chkSkipCurrentPageJpg"_s);
    window.findChild<QAbstractButton*>(u"optLinkJpg(1)"_s)->click();
    skipGiven->click();
    window.findChild<QAbstractButton*>(u"optLinkMethod(1)"_s)->click();
    window.findChild<QAbstractButton*>(u"optLinkMethod(0)"_s)->click();
    window.findChild<QAbstractButton*>(u"optLinkJpg(%1)"_s.arg(source))->click();
    window.findChild<QAbstractButton*>(u"optLinkMethod(%1)"_s.arg(method))->click();
    QCOMPARE(enabledPattern(window), pattern);
    QCOMPARE(window.linkMethod(), method);
    QCOMPARE(window.embeddedLinkSource(), source == 1);
    // Switching changes availability only: ticks and text stay.
    QVERIFY(skipGiven->isChecked());
    QVERIFY(window.findChild<QCheckBox*>(u"chkSetSaveFolder"_s)->isChecked());
    QCOMPARE(window.typedAddress(), u"http://"_s);

    // Busy locks every input but Cancel; Skip is the download loop's to offer. Idle again lands
    // on the same rules, with Skip withdrawn.
    window.setControls(false);
    QCOMPARE(enabledPattern(window), u"00100000000"_s);
    window.setSkipEnabled(true);
    window.setControls(true);
    QCOMPARE(enabledPattern(window), pattern);
}

void tst_FrmMain::busyListsEndAsIfChangedAtOnce_data()
{
    QTest::addColumn<QString>("steps"); // see apply()
    QTest::addColumn<QString>("lists"); // see listRows()
    // clang-format off
    QTest::newRow("each outcome selects the last row of its own list")
        << u"r:0 a:1.jpg A D r:1 d:2.jpg D r:2 x:3.jpg X"_s
        << u"1.jpg 2.jpg 3.jpg* 4.jpg|2.jpg*|1.jpg*|3.jpg*"_s;
    QTest::newRow("a row selected before more rows are filed stays the selected one")
        << u"d:1.jpg D d:2.jpg r:1 r:9"_s << u"1.jpg 2.jpg* 3.jpg 4.jpg|1.jpg* 2.jpg||"_s;
    QTest::newRow("selecting in an empty list or past its end selects nothing")
        << u"D r:9 r:-1 x:1.jpg x:1.jpg"_s << u"1.jpg 2.jpg 3.jpg 4.jpg|||1.jpg 1.jpg"_s;
    QTest::newRow("a crawl that appends keeps row k as entry k, and the user's pick goes")
        << u"r:0 f:1.jpg,2.jpg,3.jpg,4.jpg,5.jpg"_s << u"1.jpg 2.jpg 3.jpg 4.jpg 5.jpg|||"_s;
    QTest::newRow("a list that changes a shown row, shrinks or repeats a name is replaced")
        << u"r:1 f:1.jpg,x.jpg,3.jpg f:1.jpg,1.jpg"_s << u"1.jpg 1.jpg|||"_s;
    // clang-format on
}

void tst_FrmMain::busyListsEndAsIfChangedAtOnce()
{
    QFETCH(QString, steps);
    QFETCH(QString, lists);

    frmMain window;
    window.show();
    RunHost& host = window;
    host.fillDownloadRows({ u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s, u"4.jpg"_s });
    host.setControls(false);
    for (const QString& step : steps.split(u' '))
        apply(host, step);
    // Shown without a yield, as while the thread waits in a message box.
    QTRY_COMPARE(listRows(window), lists);
    host.setControls(true);
    QCOMPARE(listRows(window), lists);
    window.hide();
}

QTEST_MAIN(tst_FrmMain)
#include "tst_frmmain.moc"
