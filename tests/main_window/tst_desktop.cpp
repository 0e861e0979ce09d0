// The main window and its dialogs: the three windows at every screen scale (the @150% @200%
// @144dpi @192dpi runs), the start address and control switching, a second start of the built
// program, and whole runs against 127.0.0.1 (input, dialogs, methods, Cancel, close, restart).
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "main_window/frmmain.h"
#include "main_window/paintthrottle.h"
#include "resources/messages.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "ui/bringforward.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// The main window as it looks in the middle of a download, every list holding rows.
QWidget* busyMainWindow()
{
    auto* window = new frmMain;
    window->appendDownloadRows({ u"IMG_1001.jpg"_s, u"IMG_1002.jpg"_s, u"IMG_1003.jpg"_s });
    for (int i = 0; i < 3; ++i)
        window->appendResultRow(ResultList(i), u"IMG_1001.jpg"_s);
    // Set while idle, the texts reach their labels at once.
    window->Show_Info(u"IMG_1003.jpgをダウンロード中..."_s);
    window->setFileCounter(u"100000/100000Files"_s); // the widest count a list can give
    window->Set_Controls(false);
    return window;
}

// The room a control gives its caption, less a check indicator or a button frame.
QRect captionRoom(QWidget* control)
{
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (!button)
        return control->contentsRect();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QStyle::SubElement element = qobject_cast<QCheckBox*>(control)
        ? QStyle::SE_CheckBoxContents
        : qobject_cast<QRadioButton*>(control) ? QStyle::SE_RadioButtonContents
                                               : QStyle::SE_PushButtonContents;
    return button->style()->subElementRect(element, &option, button);
}

// Everything wrong with the window's layout, one line each; empty when all is well.
QStringList layoutFaults(QWidget* window)
{
    QStringList faults;
    // The controls: the named widgets, without the parts Qt builds inside them.
    QList<QWidget*> controls = window->findChildren<QWidget*>();
    controls.removeIf([window](QWidget* child) {
        return child->objectName().isEmpty() || child->objectName().startsWith(u"qt_")
            || !child->isVisibleTo(window);
    });
    for (QWidget* control : controls) {
        const QString name = control->objectName();
        if (!control->parentWidget()->rect().contains(control->geometry()))
            faults << name + u" runs out of its window or frame";
        for (QWidget* other : controls) {
            if (other->parentWidget() == control->parentWidget() && name < other->objectName()
                && control->geometry().intersects(other->geometry()))
                faults << name + u" overlaps " + other->objectName();
        }
        const QString text = control->property("text").toString();
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
        auto* label = qobject_cast<QLabel*>(control);
        const bool silent = label && text.isEmpty() && label->pixmap().isNull();
        if (!silent && (!face || face->text(QAccessible::Name).isEmpty()))
            faults << name + u" has no name for a screen reader";
        if (text.isEmpty() || qobject_cast<QLineEdit*>(control))
            continue;
        const QFontMetrics metrics(control->font());
        const QRect room = captionRoom(control);
        // A push button centres its caption: the glyphs must fit, not the font's whole line.
        const int height = qobject_cast<QPushButton*>(control)
            ? metrics.tightBoundingRect(text).height()
            : metrics.height();
        if (metrics.horizontalAdvance(text) > room.width() || height > room.height())
            faults << name + u" cuts off its caption";
    }
    return faults;
}

// "1" for each enabled control of those the window switches, "0" for each disabled one.
QString enabledPattern(const frmMain& window)
{
    QString pattern;
    for (const char* name : { "cmdDownload", "cmdSkip", "cmdCancel", "txtURL", "chkSetSaveFolder",
             "optLinkJpg(0)", "optLinkJpg(1)", "chkSkipCurrentPageJpg", "chkModernPages",
             "optLinkMethod(0)", "optLinkMethod(1)", "optLinkMethod(2)" })
        pattern += window.findChild<QWidget*>(QLatin1String(name))->isEnabled() ? u'1' : u'0';
    return pattern;
}

const QByteArray jpeg = jpegBytes(300);

// Torn down so that a held answer goes first and the window's connections before the server.
struct RunFixture
{
    TempProgramFolder folder;
    MessageAnswerer answerer;
    LoopbackServer server;
    std::unique_ptr<frmMain> window = std::make_unique<frmMain>();
    QTimer watch;

    RunFixture() { window->show(); }
    ~RunFixture()
    {
        server.release();
        watch.stop();
        window.reset();
    }
    // /g/index.htm links to a jpeg each (HTML if named "bad…"); held answers wait for release().
    QString servePage(const QStringList& links, const QString& held)
    {
        QByteArray page = "<html><body>\r\n";
        for (const QString& link : links)
            page += "<a href=\"" + link.toUtf8() + "\"><img src=\"" + link.toUtf8() + "\"></a>\r\n";
        server.serve(u"/g/index.htm"_s, page, held == u"/g/index.htm");
        for (const QString& link : links)
            server.serve(u"/g/" + link, link.startsWith(u"bad") ? "<html>no</html>" : jpeg,
                held == u"/g/" + link);
        return server.url(u"/g/index.htm"_s);
    }
    QAbstractButton* button(const QString& name) const
    {
        return window->findChild<QAbstractButton*>(name);
    }
};

// What happens while the held answer waits (Afterwards: Cancel and close once the run ended).
enum class During { Nothing, CancelYes, CancelNo, Close, StartAgain, Afterwards };

struct Run
{
    int method = 0; // optLinkMethod
    int source = 0; // optLinkJpg
    bool modern = false; // chkModernPages
    bool chooseFolder = false;
    QString typed = u"%1"_s; // %1: the page's address
    bool byEnter = false;
    // In the program's folder: typed in the save-folder dialog or picked in the file dialog
    // (method 1: the links' list is written there); empty closes the dialog.
    QString dialog {};
    QStringList links {};
    QString held {}; // a path under /g/ whose answer waits until `during` has happened
    During during = During::Nothing;
    QString present {}; // a file put beforehand into the target folder
    qint64 diskRoom = -1; // the largest file that may be written meanwhile; -1: no limit

    QStringList dialogs {}; // the dialogs that opened
    QStringList boxes {}; // %P: the program's folder, %U: the server
    QString rows = u"previous.jpg|previous.jpg||"_s; // to do|done|there|refused, * on selected
    QString info {};
    QString counter {}; // lblDLFileNum at the end; null: not judged
    QString caption = Msg::appName;
    QString listed {}; // DownloadList.txt's addresses, as paths under /g/; empty: not written
    // The folder of the images, in the program's folder; %2: the server's port, * any text.
    QString target {};
    QString saved {}; // the target's files
    QString requested {}; // the paths asked for under /g/, sorted
};

const QString cancelQuestion
    = expectBox(Msg::titleCancelConfirm, MessageIcon::Question, Msg::cancelQuestion);
QString complete(int saved, int present, int refused, int listed)
{
    return expectBox(Msg::titleDownloadComplete, MessageIcon::Information,
        Msg::downloadComplete + Msg::crlf + Msg::downloadCounts(saved, present, refused, listed));
}
const QString urlError = expectBox(Msg::titleUrlError, MessageIcon::Critical, Msg::invalidUrl);
const QString folderError
    = expectBox(Msg::titleError, MessageIcon::Critical, Msg::folderCannotBeCreated);
const QString listRefused = expectBox(Msg::titleUrlError, MessageIcon::Critical,
    Msg::listNotJpeg + Msg::crlf + u"%PDownloadList.txt"_s + Msg::crlf + Msg::crlf + Msg::lineLabel
        + u"2"_s + Msg::crlf + u"%U/g/notes.txt"_s);
const QString makeFolder = expectBox(Msg::titleFolderCreateConfirm, MessageIcon::Question,
    Msg::folderMissing + Msg::crlf + Msg::createFolderQuestion);

const QString listReport = expectBox(Msg::titleListCreated, MessageIcon::Information,
    Msg::listReportHead + Msg::crlf + u"%PDownloadList.txt"_s + Msg::crlf + Msg::listReportCreatedAt
        + Msg::crlf + Msg::listCount(2) + Msg::crlf + Msg::crlf + Msg::sourceReportHead + Msg::crlf
        + u"%PHTMLSource.txt"_s + Msg::crlf + Msg::sourceReportIsAt);

} // namespace

Q_DECLARE_METATYPE(Run)

class tst_Desktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() // no window left open
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(!window->isVisible());
    }
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void secondStartEndsAtOnceAndLeavesTheFirst();
    void startAddressAndControls_data();
    void startAddressAndControls();
    void aClickIsPaintedAtOnceWhileProgressWaits();
    // Last: each run's program folder replaces the one of the tests above.
    void aRunThatNeverWaitsStillTakesCancel();
    void run_data();
    void run();

private:
    TempProgramFolder m_programFolder;
    QTemporaryDir m_folder;
};

void tst_Desktop::windowFitsTheScreen_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("the main window during a download") << 0;
    QTest::newRow("the save-folder dialog") << 1;
    QTest::newRow("the About box") << 2;
}

void tst_Desktop::windowFitsTheScreen()
{
    QFETCH(int, which);
    std::unique_ptr<QWidget> window(which == 0 ? busyMainWindow()
            : which == 1                       ? new frmSetSaveFolder(m_folder.path() + u'/')
                                               : static_cast<QWidget*>(new FrmVer));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize designed = window->size();
    // Also where a window manager disregards the fixed size and resizes the native window.
    window->resize(designed / 2);
    window->windowHandle()->resize(designed + QSize(300, 300));
    QTRY_COMPARE(window->size(), designed);
    const QStringList faults = layoutFaults(window.get());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"; ")));
    window->hide();
}

void tst_Desktop::secondStartEndsAtOnceAndLeavesTheFirst()
{
    // The first copy, knocked on, shows its window again even when it was minimised.
    {
        frmMain window;
        window.showMinimized();
        bringForward(window);
        QCOMPARE(std::pair(window.isVisible(), window.isMinimized()), std::pair(true, false));
        window.hide();
    }
    // The built program, with a runtime folder of its own so that no other copy takes part.
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_RUNTIME_DIR"_s, runtime.path());
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    QProcess first;
    QProcess second;
    for (QProcess* copy : { &first, &second }) {
        copy->setProcessEnvironment(environment);
        copy->setProcessChannelMode(QProcess::MergedChannels);
        copy->start(QStringLiteral(PIXHOUND_EXECUTABLE), {});
        QVERIFY2(copy->waitForStarted(), qPrintable(copy->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime.filePath(u"pixhound.lock"_s)), 10000);
    }
    // The second ends at once, silently; the first runs on.
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(std::tuple(second.exitStatus(), second.exitCode(), second.readAll(), first.state()),
        std::tuple(QProcess::NormalExit, 0, QByteArray(), QProcess::Running));
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    // Once the first has gone, even killed with its lock left behind, the next start is a first.
    second.start(QStringLiteral(PIXHOUND_EXECUTABLE), {});
    QVERIFY(second.waitForStarted());
    QTRY_VERIFY(readFileBytes(runtime.filePath(u"pixhound.lock"_s))
                    .startsWith(QByteArray::number(second.processId()).append('\n')));
    second.kill();
    QVERIFY(second.waitForFinished(10000));
}

void tst_Desktop::startAddressAndControls_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("address"); // taken at start, kept through every switch
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("pattern"); // see enabledPattern
    const QString none = u"http://"_s, start = u"100111101111"_s;
    QTest::newRow("an address in any case is taken")
        << u"HttpS://A/B.HTM"_s << u"HttpS://A/B.HTM"_s << 0 << 0 << start;
    QTest::newRow("five characters are never taken") << u"ftp:/"_s << none << 0 << 0 << start;
    QTest::newRow("text that merely holds an address is not taken")
        << u"see http://a/"_s << none << 0 << 0 << start;
    QTest::newRow("only one of two line ends is removed")
        << u"http://a/\r\n\r\n"_s << u"http://a/\r\n"_s << 0 << 0 << start;
    QTest::newRow("from a jpg list ignores address and source")
        << QString() << none << 1 << 1 << u"100010000111"_s;
    QTest::newRow("list only from the page's own links")
        << QString() << none << 2 << 0 << u"100101101111"_s;
    QTest::newRow("list only with embedded images")
        << QString() << none << 2 << 1 << u"100101111111"_s;
}

void tst_Desktop::startAddressAndControls()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, address);
    QFETCH(int, method);
    QFETCH(int, source);
    QFETCH(QString, pattern);

    QGuiApplication::clipboard()->setText(clipboard);
    frmMain window;
    QCOMPARE(window.typedAddress(), address);
    QCOMPARE(enabledPattern(window), u"100111101111"_s);
    QVERIFY(!window.modernPages());
    auto* skipGiven = window.findChild<QCheckBox*>(u"chkSkipCurrentPageJpg"_s);
    for (const QString& name : { u"optLinkJpg(1)"_s, u"chkSkipCurrentPageJpg"_s,
             u"optLinkMethod(1)"_s, u"chkModernPages"_s, u"optLinkMethod(0)"_s, u"chkModernPages"_s,
             u"optLinkJpg(%1)"_s.arg(source), u"optLinkMethod(%1)"_s.arg(method) })
        window.findChild<QAbstractButton*>(name)->click();
    QCOMPARE(enabledPattern(window), pattern);
    QCOMPARE(window.linkMethod(), method);
    QCOMPARE(window.embeddedLinkSource(), source == 1);
    // Switching changes availability only: ticks and text stay.
    QVERIFY(skipGiven->isChecked() && window.modernPages());
    QVERIFY(window.findChild<QCheckBox*>(u"chkSetSaveFolder"_s)->isChecked());
    QCOMPARE(window.typedAddress(), address);

    // Busy locks all but Cancel (Skip is the download loop's); idle restores the rules, no Skip.
    window.Set_Controls(false);
    QCOMPARE(enabledPattern(window), u"001000000000"_s);
    window.setSkipEnabled(true);
    window.Set_Controls(true);
    QCOMPARE(enabledPattern(window), pattern);
}

void tst_Desktop::aClickIsPaintedAtOnceWhileProgressWaits()
{
    // An interval no test outlasts: whatever is painted after the first paint is painted for the
    // input.
    QWidget window;
    auto* status = new QLabel(u"1"_s, &window);
    auto* button = new QPushButton(u"Cancel"_s, &window);
    button->move(0, 40);
    new PaintThrottle(&window, 3600 * 1000);
    QMap<QObject*, int> paints;
    struct PaintCounter : QObject
    {
        QMap<QObject*, int>* paints;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++(*paints)[watched];
            return false;
        }
    } counter;
    counter.paints = &paints;
    status->installEventFilter(&counter);
    button->installEventFilter(&counter);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(paints.value(status), 1); // the first paint is never held
    status->setText(u"2"_s); // the run's progress waits for the next frame
    QTest::qWait(50);
    QCOMPARE(paints.value(status), 1);
    QTest::mousePress(button, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(paints.value(button), 2); // pressed at once, the waiting text with it
    QCOMPARE(paints.value(status), 2);
    QTest::mouseRelease(button, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(paints.value(button), 3);
    status->setText(u"3"_s);
    QTest::qWait(50);
    QCOMPARE(paints.value(status), 2);
    window.hide();
}

void tst_Desktop::aRunThatNeverWaitsStillTakesCancel()
{
    // Every file of the list is there already: the loop decides each entry without a request,
    // so only its own yields can take the user's Cancel.
    RunFixture f;
    constexpr int entries = 3000;
    const QString target = f.folder.file(u"127.0.0.1_%1_g_0.jpg"_s.arg(f.server.port()));
    QVERIFY(QDir().mkpath(target));
    QByteArray list;
    for (int i = 0; i < entries; ++i) {
        list += (f.server.url(u"/g/%1.jpg"_s.arg(i)) + u"\r\n"_s).toUtf8();
        QVERIFY(writeFileBytes(target + u"/%1.jpg"_s.arg(i), "kept"));
    }
    QVERIFY(writeFileBytes(f.folder.file(u"mine.txt"_s), list));
    f.button(u"optLinkMethod(1)"_s)->click();
    if (f.button(u"chkSetSaveFolder"_s)->isChecked())
        f.button(u"chkSetSaveFolder"_s)->click();
    // No to the first Cancel and Yes to the second: the run takes events all along, not once.
    f.answerer.answers = { MessageAnswer::No, MessageAnswer::Yes };
    QTimer cancel;
    cancel.setSingleShot(true);
    cancel.callOnTimeout([&] {
        f.button(u"cmdCancel"_s)->click();
        if (f.answerer.shown().size() == 1)
            cancel.start(1);
    });
    QTimer answerDialog;
    answerDialog.callOnTimeout([&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!files || !files->isVisible())
            return;
        answerDialog.stop();
        files->selectFile(f.folder.file(u"mine.txt"_s));
        static_cast<QDialog*>(files)->accept();
        cancel.start(1); // due as soon as the run goes on
    });
    answerDialog.start(5);
    QTimer::singleShot(0, f.window.get(), [&] {
        f.button(u"cmdDownload"_s)->click();
        QCoreApplication::exit(0);
    });
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(f.answerer.shown(), QStringList({ cancelQuestion, cancelQuestion }));
    QCOMPARE(f.window->findChild<QLabel*>(u"lblInfo"_s)->text(), Msg::interrupted);
    QVERIFY(f.window->findChild<QListWidget*>(u"lstDownloadAlready"_s)->count() < entries);
    QVERIFY(f.server.requests().isEmpty());
}

void tst_Desktop::run_data()
{
    QTest::addColumn<Run>("run");
    const QString pageFolder = u"127.0.0.1_%2_g_index.htm"_s;
    const QStringList saveDialog { u"frmSetSaveFolder"_s };
    const QStringList fileDialog { u"QFileDialog"_s };
    // clang-format off
    QTest::newRow("a name without scheme started with Enter is refused, nothing else changes")
        << Run { .method = 2, .typed = u"index.htm"_s, .byEnter = true, .boxes = { urlError } };
    QTest::newRow("a bare scheme is refused") << Run { .method = 2, .typed = u"http://"_s,
        .boxes = { urlError } };
    QTest::newRow("a host and port without a scheme is refused")
        << Run { .typed = u"localhost:8080/page.html"_s, .boxes = { urlError } };
    QTest::newRow("cancelling the list dialog leaves the previous run, whatever the address box")
        << Run { .method = 1, .chooseFolder = true, .typed = u"not an address"_s,
        .dialogs = fileDialog };
    QTest::newRow("a JPG list downloads into a folder named after its first address") << Run {
        .method = 1, .dialog = u"mine.csv"_s, .links = { u"one.jpg"_s, u"bad.JPG"_s },
        .dialogs = fileDialog, .boxes = { complete(1, 0, 1, 2) }, .rows = u"one.jpg bad.JPG*|one.jpg*||bad.JPG*"_s,
        .caption = Msg::captionDone, .target = u"127.0.0.1_%2_g_one.jpg"_s, .saved = u"one.jpg"_s,
        .requested = u"bad.JPG one.jpg"_s };
    QTest::newRow("a page without images tells only on the status line") << Run {
        .links = { u"picture.png"_s, u"other.htm"_s }, .rows = u"|||"_s, .info = Msg::noFiles,
        .requested = u"index.htm"_s };
    QTest::newRow("list-only writes the list, names both files, opens no dialog, downloads nothing")
        << Run { .method = 2, .chooseFolder = true, .typed = u" \t%1#top\n"_s,
        .links = { u"a.jpg"_s, u"sub/b.JPEG"_s, u"c.png"_s }, .boxes = { listReport },
        .rows = u"a.jpg b.JPEG|||"_s, .info = Msg::listCreated, .counter = Msg::listProgress(1, 2),
        .caption = Msg::captionDone, .listed = u"a.jpg sub/b.JPEG"_s, .requested = u"index.htm"_s };
    QTest::newRow("a full disk in a list-only run shows one box, naming the file") << Run {
        .method = 2, .links = { u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s, u"d.jpg"_s }, .diskRoom = 100,
        .boxes = { expectBox(Msg::titleError, MessageIcon::Critical,
            u"61:ディスクの空き容量が不足しています。\r\n%PHTMLSource.txt"_s) },
        .rows = u"a.jpg b.jpg c.jpg d.jpg|||"_s, .info = Msg::listCannotBeCreated,
        .requested = u"index.htm"_s };
    QTest::newRow("ticked, a list-only run lists a JPEG link with a query under its own name")
        << Run { .method = 2, .modern = true, .links = { u"a.jpg?w=1"_s, u"b.jpg"_s },
        .boxes = { listReport }, .rows = u"a.jpg b.jpg|||"_s, .info = Msg::listCreated,
        .caption = Msg::captionDone, .listed = u"a.jpg?w=1 b.jpg"_s, .requested = u"index.htm"_s };
    QTest::newRow("a download fills the page's folder and keeps a file already there") << Run {
        .links = { u"a.jpg"_s, u"bad.jpg"_s, u"c.jpg"_s }, .present = u"c.jpg"_s,
        .boxes = { complete(1, 1, 1, 3) }, .rows = u"a.jpg bad.jpg c.jpg*|a.jpg*|c.jpg*|bad.jpg*"_s,
        .caption = Msg::captionDone, .listed = u"a.jpg bad.jpg c.jpg"_s, .target = pageFolder,
        .saved = u"a.jpg c.jpg"_s, .requested = u"a.jpg bad.jpg index.htm"_s };
    QTest::newRow("a page address too long for a folder name still gets its folder") << Run {
        .typed = u"%1?q="_s + QString(300, u'x'), .links = { u"a.jpg"_s },
        .boxes = { complete(1, 0, 0, 1) }, .rows = u"a.jpg*|a.jpg*||"_s,
        .caption = Msg::captionDone, .listed = u"a.jpg"_s,
        .target = u"127.0.0.1_%2_g_index.htm_q=xxxxxxxxxx*~*"_s, .saved = u"a.jpg"_s,
        .requested = u"a.jpg index.htm"_s };
    QTest::newRow("a missing save folder is made and filled") << Run { .chooseFolder = true,
        .dialog = u"new/photos"_s, .links = { u"a.jpg"_s }, .dialogs = saveDialog,
        .boxes = { makeFolder, complete(1, 0, 0, 1) }, .rows = u"a.jpg*|a.jpg*||"_s, .caption = Msg::captionDone,
        .listed = u"a.jpg"_s, .target = u"new/photos"_s, .saved = u"a.jpg"_s,
        .requested = u"a.jpg index.htm"_s };
    // The image fetched while the list is built may reach the server before the folder fails.
    QTest::newRow("a file made after the folder was chosen: nothing is downloaded") << Run {
        .chooseFolder = true, .dialog = u"plain.txt/photos"_s, .links = { u"maybe.jpg"_s },
        .dialogs = saveDialog, .boxes = { makeFolder, folderError }, .rows = u"maybe.jpg|||"_s,
        .info = Msg::cannotDownload, .listed = u"maybe.jpg"_s, .requested = u"index.htm"_s };

    QTest::newRow("Cancel during an image download writes the list and saves nothing more") << Run {
        .links = { u"a.jpg"_s, u"maybe.jpg"_s }, .held = u"a.jpg"_s, .during = During::CancelYes,
        .boxes = { cancelQuestion }, .rows = u"a.jpg maybe.jpg|||"_s, .info = Msg::interrupted,
        .listed = u"a.jpg maybe.jpg"_s, .target = pageFolder, .requested = u"a.jpg index.htm"_s };
    QTest::newRow("answering No to Cancel lets the download go on to its end") << Run {
        .links = { u"a.jpg"_s, u"b.jpg"_s }, .held = u"a.jpg"_s, .during = During::CancelNo,
        .boxes = { cancelQuestion, complete(2, 0, 0, 2) }, .rows = u"a.jpg b.jpg*|a.jpg b.jpg*||"_s,
        .caption = Msg::captionDone, .listed = u"a.jpg b.jpg"_s, .target = pageFolder,
        .saved = u"a.jpg b.jpg"_s, .requested = u"a.jpg b.jpg index.htm"_s };
    QTest::newRow("Cancel in the page fetch: no list; Enter and Download start nothing") << Run {
        .method = 2, .links = { u"a.jpg"_s }, .held = u"index.htm"_s, .during = During::StartAgain,
        .boxes = { cancelQuestion }, .rows = u"|||"_s, .info = Msg::interrupted,
        .requested = u"index.htm"_s };
    QTest::newRow("closing during the page fetch ends the program without a list") << Run {
        .links = { u"a.jpg"_s }, .held = u"index.htm"_s, .during = During::Close,
        .requested = u"index.htm"_s };
    QTest::newRow("closing during an image download ends the program and keeps the list") << Run {
        .links = { u"a.jpg"_s, u"maybe.jpg"_s }, .held = u"a.jpg"_s, .during = During::Close,
        .listed = u"a.jpg maybe.jpg"_s, .target = pageFolder, .requested = u"a.jpg index.htm"_s };
    QTest::newRow("Cancel while the crawl reads on from a page without images") << Run {
        .method = 2, .source = 1, .links = { u"a.htm"_s }, .held = u"a.htm"_s,
        .during = During::CancelYes, .boxes = { cancelQuestion }, .rows = u"|||"_s,
        .info = Msg::interrupted, .requested = u"a.htm index.htm"_s };
    QTest::newRow("a refused list file survives Cancel and closing unchanged") << Run {
        .method = 1, .dialog = u"DownloadList.txt"_s, .links = { u"a.jpg"_s, u"notes.txt"_s },
        .during = During::Afterwards, .dialogs = fileDialog, .boxes = { listRefused, cancelQuestion },
        .listed = u"a.jpg notes.txt"_s };
    // clang-format on
}

void tst_Desktop::run()
{
    QFETCH(Run, run);
    RunFixture f;
    const QString page = f.servePage(run.links, u"/g/"_s + run.held);
    run.target.replace(u"%2"_s, QString::number(f.server.port()));
    QString target = f.folder.file(run.target);
    // The dialog refuses a folder under a file; one that turns up once the user has confirmed the
    // folder stops the download instead.
    f.answerer.onBox = [&](const MessageBoxRequest& box) {
        if (run.dialog.startsWith(u"plain.txt/") && box.title == Msg::titleFolderCreateConfirm)
            QVERIFY(writeFileBytes(f.folder.file(u"plain.txt"_s), {}));
    };
    const auto addresses = [&](const QStringList& paths) { // one a line, under /g/
        QByteArray list;
        for (const QString& path : paths)
            list += (f.server.url(u"/g/"_s + path) + u"\r\n"_s).toUtf8();
        return list;
    };
    if (run.method == 1 && !run.dialog.isEmpty())
        QVERIFY(writeFileBytes(f.folder.file(run.dialog), addresses(run.links)));
    if (!run.present.isEmpty())
        QVERIFY(QDir().mkpath(target) && writeFileBytes(target + u'/' + run.present, "kept"));
    // A run before this one left its list.
    f.window->runState().udtDownload = { { u"http://earlier/previous.jpg"_s, u"previous.jpg"_s } };
    f.window->appendDownloadRows({ u"previous.jpg"_s });
    f.window->appendResultRow(ResultList::Done, u"previous.jpg"_s);
    f.button(u"optLinkMethod(%1)"_s.arg(run.method))->click();
    f.button(u"optLinkJpg(%1)"_s.arg(run.source))->click();
    if (run.modern)
        f.button(u"chkModernPages"_s)->click();
    if (f.button(u"chkSetSaveFolder"_s)->isChecked() != run.chooseFolder)
        f.button(u"chkSetSaveFolder"_s)->click();
    auto* address = f.window->findChild<QLineEdit*>(u"txtURL"_s);
    address->setText(QString(run.typed).replace(u"%1"_s, page));

    QStringList dialogs;
    QTimer answerDialogs;
    answerDialogs.callOnTimeout([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        dialogs.append(QString::fromLatin1(modal->metaObject()->className()));
        if (run.dialog.isEmpty()) {
            modal->close();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->selectFile(f.folder.file(run.dialog));
            static_cast<QDialog*>(files)->accept();
        } else if (auto* entry = modal->findChild<QLineEdit*>(u"txtFolder"_s)) {
            entry->setText(f.folder.file(run.dialog));
            modal->findChild<QAbstractButton*>(u"cmdOK"_s)->click();
        }
    });
    answerDialogs.start(5);
    // Once the held path is asked for, from inside the run's own event processing.
    f.watch.callOnTimeout([&] {
        if (!f.server.requestCount(u"/g/"_s + run.held) || !f.watch.isActive())
            return;
        f.watch.stop();
        if (run.during != During::CancelNo)
            QFile::remove(f.folder.file(Msg::listFileName));
        f.answerer.answers
            = { run.during == During::CancelNo ? MessageAnswer::No : MessageAnswer::Yes };
        const auto startAgain = [&] {
            QTest::keyClick(address, Qt::Key_Return);
            QTest::keyClick(address, Qt::Key_Enter);
            f.button(u"cmdDownload"_s)->click();
        };
        if (run.during == During::StartAgain)
            startAgain();
        if (run.during == During::Close)
            f.window->close();
        else
            f.button(u"cmdCancel"_s)->click();
        // After Cancel the window is idle while the run below still unwinds.
        if (run.during == During::StartAgain)
            startAgain();
        f.server.release();
    });
    f.watch.start(5);
    // In the program's event loop, as main() runs it, until the run returns or the window ends it.
    QTimer::singleShot(0, f.window.get(), [&] {
        if (run.byEnter)
            QTest::keyClick(address, Qt::Key_Return);
        else
            f.button(u"cmdDownload"_s)->click();
        if (run.during == During::Afterwards) {
            f.answerer.answers = { MessageAnswer::Yes };
            f.window->cmdCancel_Click();
            f.window->close();
        }
        if (f.window->isVisible())
            QCoreApplication::exit(0);
    });
    QTimer hung;
    hung.callOnTimeout(qApp, [] { QCoreApplication::exit(99); });
    hung.start(30000);
    int exitCode = -1;
    {
        std::optional<FileSizeLimit> limit;
        if (run.diskRoom >= 0)
            limit.emplace(run.diskRoom);
        exitCode = QApplication::exec();
    }
    QCOMPARE(exitCode, 0);
    if (run.target.contains(u'*')) { // the one folder whose name matches
        const QStringList matching = QDir(f.folder.path()).entryList({ run.target }, QDir::Dirs);
        QCOMPARE(matching.size(), 1);
        QVERIFY(QFile::encodeName(matching.first()).size() <= 255);
        target = f.folder.file(matching.first());
    }

    QCOMPARE(dialogs, run.dialogs);
    QCOMPARE(f.answerer.shown(),
        run.boxes.replaceInStrings(u"%P"_s, f.folder.path())
            .replaceInStrings(u"%U"_s, f.server.url({})));
    QCOMPARE(readFileBytes(f.folder.file(Msg::listFileName)),
        addresses(run.listed.split(u' ', Qt::SkipEmptyParts)));
    const QStringList saved
        = run.target.isEmpty() ? QStringList() : QDir(target).entryList(QDir::Files);
    QCOMPARE(saved.join(u' '), run.saved);
    for (const QString& name : saved) {
        QCOMPARE(
            readFileBytes(target + u'/' + name), name == run.present ? QByteArray("kept") : jpeg);
    }
    QStringList requested;
    for (const RecordedRequest& request : f.server.requests())
        requested.append(request.path.mid(3)); // under /g/
    // Downloads run side by side: whether maybe.jpg is asked for, and which row is selected when
    // the run stops, is a race.
    requested.removeAll(u"maybe.jpg"_s);
    const bool race = run.links.contains(u"maybe.jpg"_s);
    requested.sort();
    QCOMPARE(requested.join(u' '), run.requested);
    if (run.during == During::Close || run.during == During::Afterwards) {
        QVERIFY(!f.window->isVisible());
        return;
    }
    QStringList lists;
    for (const char* name :
        { "lstDownload", "lstDownloadDone", "lstDownloadAlready", "lstDownloadDenied" }) {
        const auto* list = f.window->findChild<QListWidget*>(QLatin1String(name));
        QStringList rows;
        for (int row = 0; row < list->count(); ++row)
            rows.append(
                list->item(row)->text() + (list->item(row)->isSelected() && !race ? u"*" : u""));
        lists.append(rows.join(u' '));
    }
    QCOMPARE(lists.join(u'|'), run.rows);
    QCOMPARE(f.window->findChild<QLabel*>(u"lblInfo"_s)->text(), run.info);
    if (!run.counter.isNull())
        QCOMPARE(f.window->findChild<QLabel*>(u"lblDLFileNum"_s)->text(), run.counter);
    QCOMPARE(f.window->windowTitle(), run.caption);
    QVERIFY(f.button(u"cmdDownload"_s)->isEnabled() && !f.button(u"cmdCancel"_s)->isEnabled());
    if (run.boxes == QStringList { urlError })
        QCOMPARE(f.window->focusWidget(), address);
    if (run.method != 1) // the address checked is the one the box shows
        QCOMPARE(address->text(), address->text().trimmed());
    if (run.during == During::StartAgain) {
        // Once the run is over, Enter starts the next one.
        QTest::keyClick(address, Qt::Key_Return);
        QTRY_COMPARE(f.server.requestCount(u"/g/index.htm"_s), 2);
    }
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
