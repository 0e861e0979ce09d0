// The three windows at every screen scale (the @150% @200% @144dpi @192dpi runs); the main
// window's start address and control switching; a second start of the built program.
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "main_window/frmmain.h"
#include "support/tempprogramfolder.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

// The main window as it looks in the middle of a download, every list holding rows.
QWidget* busyMainWindow()
{
    auto* window = new frmMain;
    window->appendDownloadRows({ u"IMG_1001.jpg"_s, u"IMG_1002.jpg"_s, u"IMG_1003.jpg"_s });
    for (int i = 0; i < 3; ++i)
        window->appendResultRow(ResultList(i), u"IMG_1001.jpg"_s);
    window->Set_Controls(false);
    window->Show_Info(u"IMG_1003.jpgをダウンロード中..."_s);
    window->setFileCounter(u"2/3Files"_s);
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
             "optLinkJpg(0)", "optLinkJpg(1)", "chkSkipCurrentPageJpg", "optLinkMethod(0)",
             "optLinkMethod(1)", "optLinkMethod(2)" })
        pattern += window.findChild<QWidget*>(QLatin1String(name))->isEnabled() ? u'1' : u'0';
    return pattern;
}

} // namespace

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

private:
    TempProgramFolder m_programFolder;
    QTemporaryDir m_folder;
};

void tst_Desktop::windowFitsTheScreen_data()
{
    QTest::addColumn<QSize>("twips"); // the window's designed size, which also picks the window
    QTest::newRow("the main window during a download") << QSize(8235, 8460);
    QTest::newRow("the save-folder dialog") << QSize(6840, 4560);
    QTest::newRow("the About box") << QSize(5040, 3300);
}

void tst_Desktop::windowFitsTheScreen()
{
    QFETCH(QSize, twips);
    std::unique_ptr<QWidget> window(twips.width() == 8235 ? busyMainWindow()
            : twips.width() == 6840 ? new frmSetSaveFolder(m_folder.path() + u'/')
                                    : static_cast<QWidget*>(new FrmVer));
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
    window->hide();
}

void tst_Desktop::secondStartEndsAtOnceAndLeavesTheFirst()
{
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
}

void tst_Desktop::startAddressAndControls_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("address"); // taken at start, kept through every switch
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("pattern"); // see enabledPattern
    const QString none = u"http://"_s, start = u"10011110111"_s;
    QTest::newRow("an address in any case is taken")
        << u"HttpS://A/B.HTM"_s << u"HttpS://A/B.HTM"_s << 0 << 0 << start;
    QTest::newRow("five characters are never taken") << u"ftp:/"_s << none << 0 << 0 << start;
    QTest::newRow("text that merely holds an address is not taken")
        << u"see http://a/"_s << none << 0 << 0 << start;
    QTest::newRow("only one of two line ends is removed")
        << u"http://a/\r\n\r\n"_s << u"http://a/\r\n"_s << 0 << 0 << start;
    QTest::newRow("from a jpg list ignores address and source")
        << QString() << none << 1 << 1 << u"10001000111"_s;
    QTest::newRow("list only with embedded images")
        << QString() << none << 2 << 1 << u"10010111111"_s;
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
    QCOMPARE(enabledPattern(window), u"10011110111"_s);
    auto* skipGiven = window.findChild<QCheckBox*>(u"chkSkipCurrentPageJpg"_s);
    const auto click
        = [&](const QString& name) { window.findChild<QAbstractButton*>(name)->click(); };
    click(u"optLinkJpg(1)"_s);
    skipGiven->click();
    for (const QString& name : { u"optLinkMethod(1)"_s, u"optLinkMethod(0)"_s,
             u"optLinkJpg(%1)"_s.arg(source), u"optLinkMethod(%1)"_s.arg(method) })
        click(name);
    QCOMPARE(enabledPattern(window), pattern);
    QCOMPARE(window.linkMethod(), method);
    QCOMPARE(window.embeddedLinkSource(), source == 1);
    // Switching changes availability only: ticks and text stay.
    QVERIFY(skipGiven->isChecked());
    QVERIFY(window.findChild<QCheckBox*>(u"chkSetSaveFolder"_s)->isChecked());
    QCOMPARE(window.typedAddress(), address);

    // Busy locks all but Cancel (Skip is the download loop's); idle restores the rules, no Skip.
    window.Set_Controls(false);
    QCOMPARE(enabledPattern(window), u"00100000000"_s);
    window.setSkipEnabled(true);
    window.Set_Controls(true);
    QCOMPARE(enabledPattern(window), pattern);
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
