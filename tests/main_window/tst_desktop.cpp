// The three windows on a desktop: at every screen scale each keeps its designed size in twips and
// shows every control whole and apart; without a mouse, Tab visits every control in reading
// order, Enter and Escape do in the dialogs what users expect and the lists copy their selected
// rows; a screen reader finds a name for every control. With PIXHOUND_SCREENSHOT_DIR set, a
// picture of each window is saved there for the documentation.
#include "dialogs/dialogtesting.h"
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "main_window/frmmain.h"
#include "resources/aboutinfo.h"
#include "resources/messages.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

using WindowMaker = std::function<QWidget*(const QString& folder)>;
Q_DECLARE_METATYPE(WindowMaker)

namespace {

const QString photos = u"/ピクチャ/写真/"_s;

// The main window as it looks in the middle of a download, every list holding rows.
QWidget* busyMainWindow(const QString&)
{
    auto* window = new frmMain;
    window->findChild<QLineEdit*>(u"txtURL"_s)
        ->setText(u"http://photos.example.org/gallery/index.html"_s);
    QStringList names;
    for (int i = 1; i <= 40; ++i)
        names << u"IMG_%1.jpg"_s.arg(1000 + i);
    window->appendDownloadRows(names);
    window->selectDownloadRow(12);
    for (int i = 0; i < 12; ++i)
        window->appendResultRow(i < 9 ? ResultList::Done
                : i < 11              ? ResultList::Already
                                      : ResultList::Denied,
            names.at(i));
    window->selectLastResultRow(ResultList::Done);
    window->setControls(false);
    window->setSkipEnabled(true);
    window->showInfo(names.at(12) + Msg::downloading);
    window->setFileCounter(u"12/40"_s + Msg::filesSuffix);
    window->setCaption(u"12/40 - Pixhound"_s);
    return window;
}

const WindowMaker mainWindow = [](const QString&) { return new frmMain; };
const WindowMaker saveFolderDialog
    = [](const QString& folder) { return new frmSetSaveFolder(folder + photos); };
const WindowMaker aboutBox = [](const QString&) { return new FrmVer; };

// The controls of a window: its named widgets, without the parts Qt builds inside them.
QList<QWidget*> controlsOf(QWidget* window)
{
    QList<QWidget*> controls;
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* child : children) {
        const QString name = child->objectName();
        if (!name.isEmpty() && !name.startsWith(u"qt_") && child->isVisibleTo(window))
            controls.append(child);
    }
    return controls;
}

// The room a control gives its caption: a check box or option button less its indicator, a push
// button less its frame.
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
    const QList<QWidget*> controls = controlsOf(window);
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

void saveScreenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PIXHOUND_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    // The folder lists fill in the background: wait until the chosen folder and its files show.
    if (auto* files = window->findChild<QAbstractItemView*>(u"File1"_s))
        QTRY_VERIFY(files->model()->rowCount(files->rootIndex()) > 0);
    if (auto* folders = window->findChild<QAbstractItemView*>(u"Dir1"_s)) {
        QTRY_VERIFY(folders->viewport()->rect().contains(
            folders->visualRect(folders->currentIndex()).center()));
    }
    const int percent = qRound(window->devicePixelRatioF() * window->logicalDpiX() / 96.0 * 100);
    const QString file = percent == 100 ? name : name + u'-' + QString::number(percent);
    QVERIFY(window->grab().save(folder + u'/' + file + u".png"));
}

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

QString accessibleName(QWidget* widget)
{
    // On Linux Qt reads a drop-down list out by its current entry and takes its name from a
    // relation: only the name given to it can be checked.
    if (qobject_cast<QComboBox*>(widget))
        return widget->accessibleName();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

} // namespace

// Stands in for the browser and the mail program: records every address handed to them.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class tst_Desktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void tabVisitsEveryControlInOrder_data();
    void tabVisitsEveryControlInOrder();
    void dialogKeys_data();
    void dialogKeys();
    void listsCopyTheSelectedRows();
    void everyControlHasAnAccessibleName_data();
    void everyControlHasAnAccessibleName();

private:
    std::unique_ptr<TempProgramFolder> m_programFolder;
    QTemporaryDir m_folder { QDir::tempPath() + u"/pixhound-XXXXXX"_s };
    OpenedUrls m_opened;
};

void tst_Desktop::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_programFolder = std::make_unique<TempProgramFolder>();
    for (const QString& folder : { u"2025"_s, u"2026"_s, u"旅行"_s })
        QVERIFY(QDir().mkpath(m_folder.path() + photos + folder));
    for (const QString& file : { u"夕焼け.jpg"_s, u"港.jpg"_s, u"sunrise.jpg"_s })
        QVERIFY(QFile(m_folder.path() + photos + file).open(QIODevice::WriteOnly));
    for (const QString& scheme : { u"https"_s, u"mailto"_s })
        QDesktopServices::setUrlHandler(scheme, &m_opened, "open");
}

void tst_Desktop::cleanupTestCase()
{
    for (const QString& scheme : { u"https"_s, u"mailto"_s })
        QDesktopServices::unsetUrlHandler(scheme);
}

void tst_Desktop::cleanup()
{
    m_opened.urls.clear();
    QVERIFY(noWindowOpen());
}

void tst_Desktop::windowFitsTheScreen_data()
{
    QTest::addColumn<WindowMaker>("make");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<QSize>("twips");

    QTest::newRow("the main window during a download")
        << WindowMaker(busyMainWindow) << u"main-window"_s << QSize(8235, 8460);
    QTest::newRow("the save-folder dialog")
        << saveFolderDialog << u"save-folder-dialog"_s << QSize(6840, 4560);
    QTest::newRow("the About box") << aboutBox << u"about-box"_s << QSize(5040, 3300);
}

void tst_Desktop::windowFitsTheScreen()
{
    QFETCH(WindowMaker, make);
    QFETCH(QString, screenshot);
    QFETCH(QSize, twips);

    std::unique_ptr<QWidget> window(make(m_folder.path()));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize designed(qRound(twips.width() * window->logicalDpiX() / 1440.0),
        qRound(twips.height() * window->logicalDpiY() / 1440.0));
    QCOMPARE(window->size(), designed);
    const QStringList faults = layoutFaults(window.get());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"; ")));
    saveScreenshot(window.get(), screenshot);
    window->hide();
}

void tst_Desktop::tabVisitsEveryControlInOrder_data()
{
    QTest::addColumn<WindowMaker>("make");
    QTest::addColumn<QStringList>("order"); // the control that has the focus first, then each Tab

    // Every control enabled, so that none is left out for being unavailable at the moment. Tab
    // lands on the chosen button of a row of option buttons; the arrow keys move along the row.
    QTest::newRow("the main window starts in the address box")
        << mainWindow
        << QStringList { u"txtURL"_s, u"cmdDownload"_s, u"cmdSkip"_s, u"cmdCancel"_s,
               u"chkSetSaveFolder"_s, u"cmdHelp"_s, u"cmdAbout"_s, u"optLinkJpg(0)"_s,
               u"chkSkipCurrentPageJpg"_s, u"lstDownload"_s, u"lstDownloadDone"_s,
               u"lstDownloadAlready"_s, u"lstDownloadDenied"_s, u"optLinkMethod(0)"_s };
    QTest::newRow("the save-folder dialog starts in the folder box")
        << saveFolderDialog
        << QStringList { u"txtFolder"_s, u"cmdOK"_s, u"cmdCancel"_s, u"Drive1"_s, u"Dir1"_s,
               u"File1"_s };
    QTest::newRow("the About box starts on OK and visits both links")
        << aboutBox << QStringList { u"CmdOk"_s, u"lblURL"_s, u"lblMail"_s };
}

void tst_Desktop::tabVisitsEveryControlInOrder()
{
    QFETCH(WindowMaker, make);
    QFETCH(QStringList, order);

    std::unique_ptr<QWidget> window(make(m_folder.path()));
    for (QWidget* child : window->findChildren<QWidget*>())
        child->setEnabled(true);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));

    QStringList visited { focusName() };
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << focusName();
    }
    QCOMPARE(visited, order + QStringList { order.first() });
    window->hide();
}

void tst_Desktop::dialogKeys_data()
{
    QTest::addColumn<WindowMaker>("make");
    QTest::addColumn<QString>("focus"); // empty: where the dialog puts it
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("stayedOpen");
    QTest::addColumn<bool>("confirmed"); // the save-folder dialog confirmed the typed folder
    QTest::addColumn<QList<QUrl>>("opened");

    const QList<QUrl> none;
    QTest::newRow("Enter in the folder box confirms the folder typed")
        << saveFolderDialog << QString() << int(Qt::Key_Return) << false << true << none;
    QTest::newRow("Enter in the folder tree confirms like OK")
        << saveFolderDialog << u"Dir1"_s << int(Qt::Key_Enter) << false << true << none;
    QTest::newRow("Enter on Cancel cancels")
        << saveFolderDialog << u"cmdCancel"_s << int(Qt::Key_Return) << false << false << none;
    QTest::newRow("Escape cancels the save-folder dialog")
        << saveFolderDialog << QString() << int(Qt::Key_Escape) << false << false << none;
    QTest::newRow("Enter closes the About box")
        << aboutBox << QString() << int(Qt::Key_Return) << false << false << none;
    QTest::newRow("Escape closes the About box")
        << aboutBox << QString() << int(Qt::Key_Escape) << false << false << none;
    QTest::newRow("Enter on the home-page link opens it and keeps the box")
        << aboutBox << u"lblURL"_s << int(Qt::Key_Return) << true << false
        << QList<QUrl> { QUrl(About::homePage) };
    QTest::newRow("Space on the mail link starts a mail and keeps the box")
        << aboutBox << u"lblMail"_s << int(Qt::Key_Space) << true << false
        << QList<QUrl> { QUrl(u"mailto:"_s + About::mailAddress) };
}

void tst_Desktop::dialogKeys()
{
    QFETCH(WindowMaker, make);
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(bool, stayedOpen);
    QFETCH(bool, confirmed);
    QFETCH(QList<QUrl>, opened);

    MessageAnswerer answerer;
    std::unique_ptr<QWidget> window(make(m_folder.path()));
    auto* dialog = qobject_cast<QDialog*>(window.get());
    const QString typed = m_folder.path() + photos + u"2025"_s;
    if (auto* entry = dialog->findChild<QLineEdit*>(u"txtFolder"_s))
        entry->setText(typed);
    bool open = false;
    bool hadFocus = false;
    whenModal([&](QWidget* modal) {
        if (!focus.isEmpty())
            modal->findChild<QWidget*>(focus)->setFocus();
        // The key goes where the dialog has its focus, active yet or not.
        if ((hadFocus = modal->focusWidget()))
            QTest::keyClick(modal->focusWidget(), Qt::Key(key));
        open = modal->isVisible();
        modal->hide();
    });
    dialog->exec();
    QVERIFY(hadFocus);
    QCOMPARE(open, stayedOpen);
    QCOMPARE(m_opened.urls, opened);
    QVERIFY(answerer.boxes.isEmpty());
    if (auto* saveFolder = qobject_cast<frmSetSaveFolder*>(dialog)) {
        QCOMPARE(saveFolder->blnSaveFolderOK(), confirmed);
        if (confirmed)
            QCOMPARE(saveFolder->strSaveFolder(), typed + u'/');
    }
}

void tst_Desktop::listsCopyTheSelectedRows()
{
    frmMain window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QStringList names { u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s, u"d.jpg"_s };
    window.appendDownloadRows(names);
    for (ResultList list : { ResultList::Done, ResultList::Already, ResultList::Denied }) {
        for (const QString& name : names)
            window.appendResultRow(list, name);
    }

    const std::pair<const char*, std::function<void()>> lists[] = {
        { "lstDownload", [&] { window.selectDownloadRow(1); } },
        { "lstDownloadDone", [&] { window.selectLastResultRow(ResultList::Done); } },
        { "lstDownloadAlready", [&] { window.selectLastResultRow(ResultList::Already); } },
        { "lstDownloadDenied", [&] { window.selectLastResultRow(ResultList::Denied); } },
    };
    for (const auto& [name, programSelects] : lists) {
        auto* list = window.findChild<QListWidget*>(QLatin1String(name));
        QGuiApplication::clipboard()->setText(u"before"_s);
        list->setFocus();
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);

        // Picked bottom row first, with Ctrl; copied top to bottom, one per line.
        for (int row : { 2, 0 }) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                list->visualItemRect(list->item(row)).center());
        }
        QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"a.jpg\nb.jpg\nc.jpg"_s);

        // The program's own selection still marks the one file at hand.
        programSelects();
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*> { list->currentItem() });
    }
    window.hide();
}

void tst_Desktop::everyControlHasAnAccessibleName_data()
{
    QTest::addColumn<WindowMaker>("make");
    QTest::addColumn<QStringList>("named"); // control=name, where the name is not its caption

    QTest::newRow("the main window names its box and lists after their labels")
        << mainWindow
        << QStringList { u"txtURL=URL:"_s, u"lstDownload=ダウンロードリスト"_s,
               u"lstDownloadDone=ダウンロード済みリスト"_s,
               u"lstDownloadAlready=既にダウンロードされていたリスト"_s,
               u"lstDownloadDenied=読込拒否されたリスト"_s, u"fraLinkMethod=読込方法"_s };
    QTest::newRow("the save-folder dialog")
        << saveFolderDialog
        << QStringList { u"txtFolder=画像ファイルを保存するフォルダ"_s, u"Drive1=ドライブ"_s,
               u"Dir1=フォルダ"_s, u"File1=ファイル"_s };
    QTest::newRow("the About box") << aboutBox << QStringList { u"Image1=Pixhound"_s };
}

void tst_Desktop::everyControlHasAnAccessibleName()
{
    QFETCH(WindowMaker, make);
    QFETCH(QStringList, named);

    std::unique_ptr<QWidget> window(make(m_folder.path()));
    QMap<QString, QString> expected;
    for (const QString& pair : named)
        expected.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    for (QWidget* control : controlsOf(window.get())) {
        const QString name = control->objectName();
        const QString caption = control->property("text").toString();
        // A status line is read out by what it says: an empty one has nothing to read.
        if (qobject_cast<QLabel*>(control) && caption.isEmpty() && !expected.contains(name))
            continue;
        const QString wanted = expected.take(name);
        QVERIFY2(!(wanted.isEmpty() && caption.isEmpty()), qPrintable(name + u" has no name"_s));
        QCOMPARE(accessibleName(control), wanted.isEmpty() ? caption : wanted);
    }
    QVERIFY2(expected.isEmpty(), qPrintable(expected.keys().join(u", ")));
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
