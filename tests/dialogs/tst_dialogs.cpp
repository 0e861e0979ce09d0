// The dialogs driven as the user drives them: the save folder typed or browsed and its checks, the
// JPG-list file dialog, the About box's links and the help page.
#include "dialogs/clsgetopenfile.h"
#include "dialogs/folderentry.h"
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "dialogs/help.h"
#include "platform/runtimeerror.h"
#include "resources/aboutinfo.h"
#include "resources/messages.h"
#include "support/dialogdriver.h"
#include "support/messageanswerer.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUrl>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(FolderEntryVerdict)
Q_DECLARE_METATYPE(MessageAnswer)

// Stands in for the browser and the mail program: records every address handed to them.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

namespace {

// Presses input in the modal window: a control's name clicks it, "close" uses the close box,
// anything else is a key pressed where the window has its focus. True when it stayed open.
bool press(QWidget* modal, const QString& input)
{
    if (input == u"close")
        modal->close();
    else if (QWidget* control = modal->findChild<QWidget*>(input))
        QTest::mouseClick(control, Qt::LeftButton);
    else
        QTest::keyClick(modal->focusWidget(), input == u"Escape" ? Qt::Key_Escape : Qt::Key_Return);
    const bool open = modal->isVisible();
    modal->hide();
    return open;
}

} // namespace

class tst_Dialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void folderEntryRules_data();
    void folderEntryRules();
    void saveFolderDialog_data();
    void saveFolderDialog();
    void saveFolderDialogBrowses();
    void listFileDialog_data();
    void listFileDialog();
    void aboutBox_data();
    void aboutBox();
    void helpOpensTheShippedPageFreshEachTime();

private:
    OpenedUrls m_opened;
    QString m_originalCurrent;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Dialogs::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    for (const QString& scheme : { u"https"_s, u"mailto"_s, u"file"_s })
        QDesktopServices::setUrlHandler(scheme, &m_opened, "open");
    m_originalCurrent = QDir::currentPath();
}

void tst_Dialogs::init()
{
    m_opened.urls.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkpath(u"写真/inner"_s));
    QVERIFY(QFile(m_dir->path() + u"/写真/夕焼け.jpg"_s).open(QIODevice::WriteOnly));
    QVERIFY(QDir(m_dir->path()).mkdir(u"locked"_s));
    QVERIFY(QFile::setPermissions(m_dir->path() + u"/locked"_s, QFile::ReadOwner));
    qputenv("HOME", QFile::encodeName(m_dir->path()));
}

void tst_Dialogs::cleanup()
{
    // The folder test enters the folders it checks.
    QDir::setCurrent(m_originalCurrent);
    QFile::setPermissions(m_dir->path() + u"/locked"_s, QFile::ReadOwner | QFile::ExeOwner);
    m_dir.reset();
    QVERIFY(noWindowOpen());
}

void tst_Dialogs::folderEntryRules_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("driveAnswer");
    QTest::addColumn<QStringList>("drivesTested");
    QTest::addColumn<FolderEntryVerdict>("verdict");
    QTest::addColumn<QString>("folder");

    using V = FolderEntryVerdict;
    const QStringList driveC { u"C:\\"_s };
    QTest::newRow("one letter between spaces asks for a folder name")
        << true << u"  C  "_s << true << QStringList() << V::TooShort << QString();
    QTest::newRow("spaces after the last separator do not name a folder")
        << true << u" C:\\photos\\   "_s << true << driveC << V::Accepted << u"C:\\photos\\"_s;
    QTest::newRow("a colon after the drive is forbidden")
        << true << u"C:\\photos:2"_s << true << driveC << V::ForbiddenCharacter << QString();
    QTest::newRow("a slash as the drive's own separator passes, not after it")
        << true << u"C:/photos/2024"_s << true << QStringList { u"C:/"_s } << V::ForbiddenCharacter
        << QString();
    QTest::newRow("a failed drive test comes before the forbidden characters")
        << true << u"Q:\\a*b"_s << false << QStringList { u"Q:\\"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("a network path skips the drive test")
        << true << u"\\\\server\\share"_s << false << QStringList() << V::Accepted
        << u"\\\\server\\share\\"_s;
    QTest::newRow("a Linux entry goes whole to the drive test")
        << false << u"photos/2024"_s << false << QStringList { u"photos/2024"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("another user's tilde is left as typed")
        << false << u"~bob/x"_s << false << QStringList { u"~bob/x"_s } << V::InvalidDrive
        << QString();
    QTest::newRow("a backslash is forbidden on Linux")
        << false << u"/data/a\\b"_s << true << QStringList { u"/data/a\\b"_s }
        << V::ForbiddenCharacter << QString();
}

void tst_Dialogs::folderEntryRules()
{
    QFETCH(bool, windows);
    QFETCH(QString, typed);
    QFETCH(bool, driveAnswer);
    QFETCH(QStringList, drivesTested);
    QFETCH(FolderEntryVerdict, verdict);
    QFETCH(QString, folder);

    QStringList tested;
    const FolderEntryResult result = checkFolderEntry(typed,
        windows ? PathConventions::forWindows() : PathConventions::forLinux(), u"/home/tester"_s,
        [&](const QString& drive) {
            tested.append(drive);
            return driveAnswer;
        });
    QCOMPARE(tested, drivesTested);
    QCOMPARE(result.verdict, verdict);
    QCOMPARE(result.folder, folder);
}

void tst_Dialogs::saveFolderDialog_data()
{
    QTest::addColumn<QString>("entry"); // %1 is the test's folder, also the home folder
    QTest::addColumn<QString>("input"); // see press()
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QString>("box"); // empty: none
    QTest::addColumn<QString>("stored"); // empty: nothing confirmed

    const MessageAnswer ok = MessageAnswer::Ok;
    const auto refused = [](const QString& text) {
        return expectBox(Msg::titleFolderNameError, MessageIcon::Critical, text);
    };
    const QString question = expectBox(Msg::titleFolderCreateConfirm, MessageIcon::Question,
        Msg::folderMissing + Msg::crlf + Msg::createFolderQuestion);
    QTest::newRow("spaces and one letter ask for a folder name")
        << u"  a  "_s << u"cmdOK"_s << ok << refused(Msg::enterFolderName) << QString();
    QTest::newRow("a relative folder is an invalid drive")
        << u"photos/2024"_s << u"cmdOK"_s << ok << refused(Msg::invalidDrive) << QString();
    QTest::newRow("a colon from the fourth character on is forbidden")
        << u"%1/a:b"_s << u"cmdOK"_s << ok
        << refused(Msg::forbiddenFolderChars + Msg::crlf + u"\\:*?\"<>|"_s) << QString();
    QTest::newRow("a folder that cannot be entered is refused")
        << u"%1/locked"_s << u"cmdOK"_s << ok
        << expectBox(Msg::titleError, MessageIcon::Critical,
               runtimeError(ErrorNumber::PermissionDenied).numberAndDescription())
        << QString();
    QTest::newRow("Enter in the box stores an existing folder with a final separator")
        << u"%1/写真"_s << u"Return"_s << ok << QString() << u"%1/写真/"_s;
    QTest::newRow("a tilde starts in the home folder")
        << u" ~/写真 "_s << u"cmdOK"_s << ok << QString() << u"%1/写真/"_s;
    QTest::newRow("a missing folder confirmed with OK is accepted but not made")
        << u"%1/new/photos"_s << u"cmdOK"_s << ok << question << u"%1/new/photos/"_s;
    QTest::newRow("Cancel in the creation question keeps the dialog open")
        << u"%1/new/photos"_s << u"cmdOK"_s << MessageAnswer::Cancel << question << QString();
    QTest::newRow("Cancel leaves nothing confirmed")
        << u"%1/写真"_s << u"cmdCancel"_s << ok << QString() << QString();
    QTest::newRow("Escape leaves nothing confirmed")
        << u"%1/写真"_s << u"Escape"_s << ok << QString() << QString();
    QTest::newRow("the close box leaves nothing confirmed")
        << u"%1/写真"_s << u"close"_s << ok << QString() << QString();
}

void tst_Dialogs::saveFolderDialog()
{
    QFETCH(QString, entry);
    QFETCH(QString, input);
    QFETCH(MessageAnswer, answer);
    QFETCH(QString, box);
    QFETCH(QString, stored);
    if (entry.contains(u"locked") && geteuid() == 0)
        QSKIP("the superuser enters every folder");

    MessageAnswerer answerer;
    answerer.answers = { answer };
    const QString start = m_dir->path() + u'/';
    frmSetSaveFolder dialog(start);
    bool stayedOpen = false;
    bool focusInEntry = false;
    whenModal([&](QWidget* modal) {
        auto* txtFolder = modal->findChild<QLineEdit*>(u"txtFolder"_s);
        txtFolder->setText(entry.replace(u"%1"_s, m_dir->path()));
        stayedOpen = press(modal, input);
        focusInEntry = modal->focusWidget() == txtFolder;
    });
    dialog.exec();

    QCOMPARE(answerer.shown(), box.isEmpty() ? QStringList() : QStringList { box });
    QCOMPARE(dialog.blnSaveFolderOK(), !stored.isEmpty());
    QCOMPARE(
        dialog.strSaveFolder(), stored.isEmpty() ? start : stored.replace(u"%1"_s, m_dir->path()));
    const bool refused = !box.isEmpty() && stored.isEmpty();
    QCOMPARE(stayedOpen, refused);
    QVERIFY(focusInEntry || !refused);
    // The dialog only decides; the download makes the folder.
    QVERIFY(!QDir(m_dir->path() + u"/new"_s).exists());
}

void tst_Dialogs::saveFolderDialogBrowses()
{
    const QString folder = m_dir->path() + u"/写真/"_s;
    frmSetSaveFolder dialog(folder);
    auto* txtFolder = dialog.findChild<QLineEdit*>(u"txtFolder"_s);
    QCOMPARE(txtFolder->text(), folder);
    auto* files = dialog.findChild<QAbstractItemView*>(u"File1"_s);
    QTRY_COMPARE(files->model()->rowCount(files->rootIndex()), 1);
    auto* dirs = dialog.findChild<QTreeView*>(u"Dir1"_s);
    auto* dirModel = qobject_cast<QFileSystemModel*>(dirs->model());
    dirs->setCurrentIndex(dirModel->index(folder + u"inner"_s));
    QCOMPARE(txtFolder->text(), folder + u"inner/"_s);
    QTRY_COMPARE(files->model()->rowCount(files->rootIndex()), 0);

    // A save folder that is gone opens on the current folder.
    QVERIFY(QDir::setCurrent(folder + u"inner"_s));
    frmSetSaveFolder gone(m_dir->path() + u"/made-but-gone/"_s);
    QCOMPARE(gone.findChild<QLineEdit*>(u"txtFolder"_s)->text(), folder + u"inner/"_s);
    QCOMPARE(gone.strSaveFolder(), m_dir->path() + u"/made-but-gone/"_s);
}

void tst_Dialogs::listFileDialog_data()
{
    QTest::addColumn<int>("filterIndex");
    QTest::addColumn<bool>("choose");
    QTest::addColumn<QString>("filter"); // the filter the dialog shows first
    QTest::newRow("a choice with text files shown") << 1 << true << u"テキストファイル(*.txt)"_s;
    QTest::newRow("a cancel with every file shown") << 2 << false << u"すべてのﾌｧｲﾙ(*.*)"_s;
}

void tst_Dialogs::listFileDialog()
{
    QFETCH(int, filterIndex);
    QFETCH(bool, choose);
    QFETCH(QString, filter);

    const QString chosen = m_dir->path() + u"/写真/夕焼け.jpg"_s;
    QWidget owner;
    clsGetOpenFile files;
    files.setCancelError(true);
    files.sethWnd(&owner);
    files.setInitDir(m_dir->path() + u"/写真/"_s);
    files.setFileName(u"夕焼け.jpg"_s);
    files.setFilter(Msg::listFilter);
    files.setflags(clsGetOpenFile::OFN_FILEMUSTEXIST | clsGetOpenFile::OFN_HIDEREADONLY);
    files.setFilterIndex(qint16(filterIndex));
    QStringList shown;
    whenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        shown = QStringList { dialog->selectedFiles().value(0), dialog->selectedNameFilter() };
        QCOMPARE(dialog->parentWidget(), &owner);
        choose ? static_cast<QDialog*>(dialog)->accept() : dialog->reject();
    });
    files.ShowOpen();
    QCOMPARE(shown, (QStringList { chosen, filter }));
    QCOMPARE(files.pendingError(), choose ? 0 : ErrorNumber::DialogCancelled);
    QCOMPARE(files.FileName(), choose ? chosen : u"夕焼け.jpg"_s);
    QCOMPARE(files.FileTitle(), choose ? u"夕焼け.jpg"_s : QString());
}

void tst_Dialogs::aboutBox_data()
{
    QTest::addColumn<QString>("control"); // empty: the one with the focus
    QTest::addColumn<QString>("input"); // see press(); "right" and "middle" click the control
    QTest::addColumn<QList<QUrl>>("opened");

    const QList<QUrl> none;
    const QList<QUrl> home { QUrl(About::homePage) };
    const QList<QUrl> mail { QUrl(u"mailto:"_s + About::mailAddress) };
    QTest::newRow("a click on the address opens the home page") << u""_s << u"lblURL"_s << home;
    QTest::newRow("a right click on the address does nothing") << u"lblURL"_s << u"right"_s << none;
    QTest::newRow("a click on the mail address starts a mail") << u""_s << u"lblMail"_s << mail;
    QTest::newRow("a middle click on the mail address does nothing")
        << u"lblMail"_s << u"middle"_s << none;
    QTest::newRow("Enter on the home-page link opens it") << u"lblURL"_s << u"Return"_s << home;
    QTest::newRow("OK closes the box") << u""_s << u"CmdOk"_s << none;
    QTest::newRow("Enter closes the box") << u""_s << u"Return"_s << none;
    QTest::newRow("Escape closes the box") << u""_s << u"Escape"_s << none;
    QTest::newRow("the close box closes it") << u""_s << u"close"_s << none;
}

void tst_Dialogs::aboutBox()
{
    QFETCH(QString, control);
    QFETCH(QString, input);
    QFETCH(QList<QUrl>, opened);

    bool stayedOpen = false;
    FrmVer box;
    whenModal([&](QWidget* modal) {
        if (!control.isEmpty())
            modal->findChild<QWidget*>(control)->setFocus();
        if (input == u"right" || input == u"middle") {
            QTest::mouseClick(modal->findChild<QWidget*>(control),
                input == u"right" ? Qt::RightButton : Qt::MiddleButton);
            input = u"close"_s;
        }
        stayedOpen = press(modal, input);
    });
    box.exec();
    QCOMPARE(m_opened.urls, opened);
    QCOMPARE(stayedOpen, !opened.isEmpty());
}

void tst_Dialogs::helpOpensTheShippedPageFreshEachTime()
{
    openHelp();
    QCOMPARE(m_opened.urls.size(), 1);
    QFile page(m_opened.urls.first().toLocalFile());
    QFile shipped(About::helpResource);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray content = shipped.readAll();
    // A page left by an older copy of the program is replaced, not shown.
    QVERIFY(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
    page.write("old page");
    page.close();
    openHelp();
    QCOMPARE(m_opened.urls, QList<QUrl>({ m_opened.urls.first(), m_opened.urls.first() }));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), content);
    page.remove();
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
