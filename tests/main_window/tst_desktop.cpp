// The three windows on a desktop: at every screen scale (the @150% @200% @144dpi @192dpi runs)
// each keeps its designed size in twips and shows every control whole, apart and named for a
// screen reader; Tab visits every control in reading order.
// With PIXHOUND_SCREENSHOT_DIR set, a picture of each window is saved there for the documentation.
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "main_window/frmmain.h"
#include "support/tempprogramfolder.h"
#include "support/widgets/dialogdriver.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

const QString photos = u"/ピクチャ/写真/"_s;

// The main window as it looks in the middle of a download, every list holding rows.
QWidget* busyMainWindow(const QString&)
{
    auto* window = new frmMain;
    window->findChild<QLineEdit*>(u"txtURL"_s)->setText(u"http://photos.example.org/gallery/"_s);
    QStringList names;
    for (int i = 1; i <= 40; ++i)
        names << u"IMG_%1.jpg"_s.arg(1000 + i);
    window->fillDownloadRows(names);
    window->selectDownloadRow(12);
    for (int i = 0; i < 12; ++i)
        window->appendResultRow(ResultList(i % 3), names.at(i));
    window->setControls(false);
    window->setSkipEnabled(true);
    window->showInfo(names.at(12) + u"をダウンロード中..."_s);
    window->setFileCounter(u"12/40Files"_s);
    return window;
}

using WindowMaker = QWidget* (*)(const QString& folder);
QWidget* mainWindow(const QString&) { return new frmMain; }
QWidget* saveFolderDialog(const QString& folder) { return new frmSetSaveFolder(folder + photos); }
QWidget* aboutBox(const QString&) { return new FrmVer; }

// The controls of a window: its named widgets, without the parts Qt builds inside them.
QList<QWidget*> controlsOf(QWidget* window)
{
    QList<QWidget*> controls;
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_")
            && child->isVisibleTo(window))
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

void saveScreenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("PIXHOUND_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    // The folder lists fill in the background: wait until the chosen folder and its files show.
    if (auto* files = window->findChild<QAbstractItemView*>(u"File1"_s))
        QTRY_VERIFY(files->model()->rowCount(files->rootIndex()) > 0);
    const int percent = qRound(window->devicePixelRatioF() * window->logicalDpiX() / 96.0 * 100);
    const QString file = percent == 100 ? name : name + u'-' + QString::number(percent);
    QVERIFY(window->grab().save(folder + u'/' + file + u".png"));
}

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

} // namespace

Q_DECLARE_METATYPE(WindowMaker)

class tst_Desktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { QVERIFY(noWindowOpen()); }
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void tabVisitsEveryControlInOrder_data();
    void tabVisitsEveryControlInOrder();

private:
    TempProgramFolder m_programFolder;
    QTemporaryDir m_folder;
};

void tst_Desktop::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    for (const QString& folder : { u"2025"_s, u"旅行"_s })
        QVERIFY(QDir().mkpath(m_folder.path() + photos + folder));
    for (const QString& file : { u"夕焼け.jpg"_s, u"sunrise.jpg"_s })
        QVERIFY(QFile(m_folder.path() + photos + file).open(QIODevice::WriteOnly));
}

void tst_Desktop::windowFitsTheScreen_data()
{
    QTest::addColumn<WindowMaker>("make");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<QSize>("twips");
    QTest::newRow("the main window during a download")
        << WindowMaker(busyMainWindow) << u"main-window"_s << QSize(8235, 8460);
    QTest::newRow("the save-folder dialog")
        << WindowMaker(saveFolderDialog) << u"save-folder-dialog"_s << QSize(6840, 4560);
    QTest::newRow("the About box") << WindowMaker(aboutBox) << u"about-box"_s << QSize(5040, 3300);
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
    // Also where a window manager disregards the fixed size and resizes the native window.
    window->resize(designed / 2);
    window->windowHandle()->resize(designed + QSize(300, 300));
    QTRY_COMPARE(window->size(), designed);
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
        << WindowMaker(mainWindow)
        << QStringList { u"txtURL"_s, u"cmdDownload"_s, u"cmdSkip"_s, u"cmdCancel"_s,
               u"chkSetSaveFolder"_s, u"cmdHelp"_s, u"cmdAbout"_s, u"optLinkJpg(0)"_s,
               u"chkSkipCurrentPageJpg"_s, u"lstDownload"_s, u"lstDownloadDone"_s,
               u"lstDownloadAlready"_s, u"lstDownloadDenied"_s, u"optLinkMethod(0)"_s };
    QTest::newRow("the save-folder dialog starts in the folder box")
        << WindowMaker(saveFolderDialog)
        << QStringList { u"txtFolder"_s, u"cmdOK"_s, u"cmdCancel"_s, u"Drive1"_s, u"Dir1"_s,
               u"File1"_s };
    QTest::newRow("the About box starts on OK and visits both links")
        << WindowMaker(aboutBox) << QStringList { u"CmdOk"_s, u"lblURL"_s, u"lblMail"_s };
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

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
