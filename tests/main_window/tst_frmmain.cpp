// The main window without a run: start-up, the option buttons and their rules, the idle and busy
// states, the fixed size, the lists and closing.
#include "main_window/frmmain.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/connectioncache.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <memory>

namespace {

template <typename Widget> Widget* control(const frmMain& window, const QString& name)
{
    return window.findChild<Widget*>(name);
}

QAbstractButton* button(const frmMain& window, const QString& name)
{
    return control<QAbstractButton>(window, name);
}

// Every control whose availability the window switches, in a fixed order.
const QStringList switchedControls {
    QStringLiteral("cmdDownload"),
    QStringLiteral("cmdSkip"),
    QStringLiteral("cmdCancel"),
    QStringLiteral("txtURL"),
    QStringLiteral("chkSetSaveFolder"),
    QStringLiteral("optLinkJpg(0)"),
    QStringLiteral("optLinkJpg(1)"),
    QStringLiteral("chkSkipCurrentPageJpg"),
    QStringLiteral("optLinkMethod(0)"),
    QStringLiteral("optLinkMethod(1)"),
    QStringLiteral("optLinkMethod(2)"),
};

// "1" for each enabled control of switchedControls, "0" for each disabled one.
QString enabledPattern(const frmMain& window)
{
    QString pattern;
    for (const QString& name : switchedControls) {
        const QWidget* widget = control<QWidget>(window, name);
        pattern += widget && widget->isEnabled() ? u'1' : u'0';
    }
    return pattern;
}

} // namespace

class tst_FrmMain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsIdleWithTheDesignValues_data();
    void startsIdleWithTheDesignValues();
    void clipboardAddressIsTakenAtStart_data();
    void clipboardAddressIsTakenAtStart();
    void methodAndSourceSwitchTheControls_data();
    void methodAndSourceSwitchTheControls();
    void switchingKeepsTextsChecksAndSelections();
    void windowKeepsItsSizeAndEveryCaptionHasRoom();
    void downloadRowsAreAddedInOneGo();
    void closingWritesTheListOnlyWhenItHasEntries_data();
    void closingWritesTheListOnlyWhenItHasEntries();
    void aboutBoxOpensModally();

private:
    std::unique_ptr<TempProgramFolder> m_folder;
};

void tst_FrmMain::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    initialiseCurlOnce();
}

void tst_FrmMain::init()
{
    m_folder = std::make_unique<TempProgramFolder>();
    QGuiApplication::clipboard()->clear();
}

void tst_FrmMain::cleanup()
{
    m_folder.reset();
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
}

void tst_FrmMain::startsIdleWithTheDesignValues_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checked");

    auto row = [](const char* name, const QString& caption, bool enabled, bool checked = false) {
        QTest::newRow(name) << QString::fromLatin1(name) << caption << enabled << checked;
    };
    row("Label4", QStringLiteral("Pixhound"), true);
    row("cmdDownload", QStringLiteral("Download"), true);
    row("cmdSkip", QStringLiteral("Skip"), false);
    row("cmdCancel", QStringLiteral("Cancel"), false);
    row("chkSetSaveFolder", QStringLiteral("保存先フォルダを指定する"), true, true);
    row("Label1", QStringLiteral("URL:"), true);
    row("txtURL", QStringLiteral("http://"), true);
    row("cmdHelp", QStringLiteral("?"), true);
    row("cmdAbout", QStringLiteral("..."), true);
    row("optLinkJpg(0)", QStringLiteral("指定したページからリンクしているjpgファイルを読み込む"),
        true, true);
    row("optLinkJpg(1)",
        QStringLiteral(
            "指定したページからリンクしているHTMLファイルに埋め込まれているjpgファイルを読み込む"),
        true);
    row("chkSkipCurrentPageJpg",
        QStringLiteral("指定ページに埋め込まれているjpgファイルは読み込まない"), false);
    row("Label2", QStringLiteral("ダウンロードリスト"), true);
    row("Label3", QStringLiteral("ダウンロード済みリスト"), true);
    row("Label5", QStringLiteral("既にダウンロードされていたリスト"), true);
    row("Label6", QStringLiteral("読込拒否されたリスト"), true);
    row("optLinkMethod(0)", QStringLiteral("リンク取得後ダウンロード"), true, true);
    row("optLinkMethod(1)", QStringLiteral("jpgリストから直接ダウンロード"), true);
    row("optLinkMethod(2)", QStringLiteral("jpgリストのみ作成"), true);
    row("lblInfo", QString(), true);
    row("lblDLFileNum", QString(), true);
}

void tst_FrmMain::startsIdleWithTheDesignValues()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);
    QFETCH(bool, checked);

    frmMain window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Pixhound"));
    QCOMPARE(window.runState().lngDownloadMax(), -1);
    QCOMPARE(window.runState().strSaveFolder, programFolder());
    QVERIFY(window.runState().connections);

    QWidget* widget = control<QWidget>(window, name);
    QVERIFY2(widget, qPrintable(name));
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget))
        text = label->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        text = edit->text();
    else if (auto* pressable = qobject_cast<QAbstractButton*>(widget))
        text = pressable->text();
    QCOMPARE(text, caption);
    QCOMPARE(widget->isEnabled(), enabled);
    if (auto* pressable = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(pressable->isChecked(), checked);
}

void tst_FrmMain::clipboardAddressIsTakenAtStart_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("expected");

    const QString none = QStringLiteral("http://");
    QTest::newRow("an http address is taken")
        << QStringLiteral("http://a/b.htm") << QStringLiteral("http://a/b.htm");
    QTest::newRow("a scheme in capitals is taken")
        << QStringLiteral("HTTP://A/B.HTM") << QStringLiteral("HTTP://A/B.HTM");
    QTest::newRow("an ftp address in capitals is taken")
        << QStringLiteral("FTP://host/") << QStringLiteral("FTP://host/");
    QTest::newRow("a bare ftp scheme of six characters is taken")
        << QStringLiteral("ftp://") << QStringLiteral("ftp://");
    QTest::newRow("an https address is taken like an http one")
        << QStringLiteral("HttpS://a/") << QStringLiteral("HttpS://a/");
    QTest::newRow("a file address is not taken") << QStringLiteral("file:///etc/passwd") << none;
    QTest::newRow("five characters are never taken") << QStringLiteral("ftp:/") << none;
    QTest::newRow("text that merely holds an address is not taken")
        << QStringLiteral("see http://a/") << none;
    QTest::newRow("one trailing line break is removed")
        << QStringLiteral("http://a/\r\n") << QStringLiteral("http://a/");
    QTest::newRow("only one of two line breaks is removed")
        << QStringLiteral("http://a/\r\n\r\n") << QStringLiteral("http://a/\r\n");
    QTest::newRow("a lone line feed stays")
        << QStringLiteral("http://a/\n") << QStringLiteral("http://a/\n");
    QTest::newRow("an empty clipboard leaves the design text") << QString() << none;
}

void tst_FrmMain::clipboardAddressIsTakenAtStart()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, expected);

    QGuiApplication::clipboard()->setText(clipboard);
    frmMain window;
    QCOMPARE(control<QLineEdit>(window, QStringLiteral("txtURL"))->text(), expected);
}

void tst_FrmMain::methodAndSourceSwitchTheControls_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("pattern"); // see switchedControls

    //                                                         DSCUsjjkmmm
    QTest::newRow("links then download, links of the page")
        << 0 << 0 << QStringLiteral("10011110111");
    QTest::newRow("links then download, embedded images")
        << 0 << 1 << QStringLiteral("10011111111");
    QTest::newRow("from a jpg list ignores address and source")
        << 1 << 0 << QStringLiteral("10001000111");
    QTest::newRow("from a jpg list with embedded images chosen before")
        << 1 << 1 << QStringLiteral("10001000111");
    QTest::newRow("list only has no save folder") << 2 << 0 << QStringLiteral("10010110111");
    QTest::newRow("list only with embedded images") << 2 << 1 << QStringLiteral("10010111111");
}

void tst_FrmMain::methodAndSourceSwitchTheControls()
{
    QFETCH(int, method);
    QFETCH(int, source);
    QFETCH(QString, pattern);

    frmMain window;
    button(window, QStringLiteral("optLinkJpg(%1)").arg(source))->click();
    button(window, QStringLiteral("optLinkMethod(%1)").arg(method))->click();
    QCOMPARE(enabledPattern(window), pattern);
    QCOMPARE(window.linkMethod(), method);

    // Busy locks every input but Cancel; Skip is the download loop's to offer. Idle again lands
    // on the same rules, with Skip withdrawn.
    window.setControls(false);
    QCOMPARE(enabledPattern(window), QStringLiteral("00100000000"));
    window.setSkipEnabled(true);
    window.setControls(true);
    QCOMPARE(enabledPattern(window), pattern);
}

void tst_FrmMain::switchingKeepsTextsChecksAndSelections()
{
    frmMain window;
    auto* address = control<QLineEdit>(window, QStringLiteral("txtURL"));
    auto* saveFolder = control<QCheckBox>(window, QStringLiteral("chkSetSaveFolder"));
    auto* skipGiven = control<QCheckBox>(window, QStringLiteral("chkSkipCurrentPageJpg"));
    address->setText(QStringLiteral("http://host/page.htm"));
    button(window, QStringLiteral("optLinkJpg(1)"))->click();
    skipGiven->click();
    QVERIFY(skipGiven->isChecked());

    button(window, QStringLiteral("optLinkMethod(2)"))->click();
    QVERIFY(!saveFolder->isEnabled());
    QVERIFY(saveFolder->isChecked());

    button(window, QStringLiteral("optLinkMethod(1)"))->click();
    QVERIFY(!address->isEnabled());
    QVERIFY(!skipGiven->isEnabled());
    QCOMPARE(address->text(), QStringLiteral("http://host/page.htm"));
    QVERIFY(skipGiven->isChecked());
    QVERIFY(button(window, QStringLiteral("optLinkJpg(1)"))->isChecked());
    QVERIFY(window.embeddedLinkSource());

    button(window, QStringLiteral("optLinkMethod(0)"))->click();
    QVERIFY(address->isEnabled());
    QVERIFY(skipGiven->isEnabled());
    QVERIFY(skipGiven->isChecked());
    QVERIFY(saveFolder->isEnabled());
    QVERIFY(saveFolder->isChecked());
    QVERIFY(window.skipGivenPageImages());

    button(window, QStringLiteral("optLinkJpg(0)"))->click();
    QVERIFY(!skipGiven->isEnabled());
    QVERIFY(skipGiven->isChecked());
    QVERIFY(!window.embeddedLinkSource());
}

void tst_FrmMain::windowKeepsItsSizeAndEveryCaptionHasRoom()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize design(
        qRound(8235 * window.logicalDpiX() / 1440.0), qRound(8460 * window.logicalDpiY() / 1440.0));
    QCOMPARE(window.size(), design);

    window.resize(design + QSize(200, 100));
    QCOMPARE(window.size(), design);
    window.resize(design / 2);
    QCOMPARE(window.size(), design);
    // A window manager that disregards the fixed size resizes the native window directly.
    window.windowHandle()->resize(design + QSize(300, 300));
    QTRY_COMPARE(window.size(), design);

    // No caption may be cut off, run out of the window or into its neighbour in the row of
    // reading methods, whatever font stood in for the design's.
    const auto widgets = window.findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QCheckBox*>(widget)
            && !qobject_cast<QRadioButton*>(widget))
            continue;
        const QString name = widget->objectName();
        const QRect onWindow(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        QVERIFY2(window.rect().contains(onWindow), qPrintable(name));
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(name));
        QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(name));
        QVERIFY2(widget->height() >= widget->sizeHint().height(), qPrintable(name));
    }
    for (int i = 1; i < 3; ++i) {
        const QWidget* left = button(window, QStringLiteral("optLinkMethod(%1)").arg(i - 1));
        const QWidget* right = button(window, QStringLiteral("optLinkMethod(%1)").arg(i));
        QVERIFY(!left->geometry().intersects(right->geometry()));
    }
}

void tst_FrmMain::downloadRowsAreAddedInOneGo()
{
    frmMain window;
    auto* rows = control<QListWidget>(window, QStringLiteral("lstDownload"));
    QStringList names;
    for (int i = 0; i < 100000; ++i)
        names.append(QStringLiteral("p%1.jpg").arg(i));
    window.appendDownloadRows(names);
    QCOMPARE(rows->count(), 100000);
    QCOMPARE(rows->item(0)->text(), QStringLiteral("p0.jpg"));
    QCOMPARE(rows->item(99999)->text(), QStringLiteral("p99999.jpg"));

    window.selectDownloadRow(40000);
    QCOMPARE(rows->currentRow(), 40000);
    window.selectDownloadRow(100000);
    QCOMPARE(rows->currentRow(), 40000);
}

void tst_FrmMain::closingWritesTheListOnlyWhenItHasEntries_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QByteArray>("edited"); // what the user saves over the list once it is written
    const QStringList ab { QStringLiteral("http://h/a.jpg"), QStringLiteral("http://h/b.jpg") };
    QTest::newRow("an empty list writes no file") << QStringList() << QByteArray();
    QTest::newRow("a list with entries is written") << ab << QByteArray();
    QTest::newRow("a list the user edited after it was written stays as edited")
        << ab << QByteArray("http://h/b.jpg\r\n");
}

void tst_FrmMain::closingWritesTheListOnlyWhenItHasEntries()
{
    QFETCH(QStringList, addresses);
    QFETCH(QByteArray, edited);

    MessageAnswerer answerer;
    frmMain window;
    for (const QString& address : addresses)
        window.runState().udtDownload.append(DownloadItem { address, QString() });
    const QString path = m_folder->file(QStringLiteral("DownloadList.txt"));
    if (!edited.isNull())
        QVERIFY(Write_DownloadList(window) && writeFileBytes(path, edited));
    window.show();
    // Closing must end the program's event loop; the guard only stops a hanging test.
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer guard;
    guard.callOnTimeout(qApp, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(window.runState().blnCancel);

    QCOMPARE(QFile::exists(path), !addresses.isEmpty());
    if (!addresses.isEmpty()) {
        QCOMPARE(readFileBytes(path),
            edited.isNull()
                ? (addresses.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1()
                : edited);
    }
    QVERIFY(answerer.boxes.isEmpty());
}

void tst_FrmMain::aboutBoxOpensModally()
{
    frmMain window;
    window.show();
    QString seen;
    QTimer::singleShot(0, this, [&seen] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* box = QApplication::activeModalWidget();
        seen = QString::fromLatin1(box->metaObject()->className());
        box->close();
    });
    button(window, QStringLiteral("cmdAbout"))->click();
    QCOMPARE(seen, QStringLiteral("FrmVer"));
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_FrmMain)
#include "tst_frmmain.moc"
