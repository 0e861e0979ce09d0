// The dialogs as the user drives them: the save folder's checks, what a question box answers, and
// where help and the About box's links lead.
#include "dialogs/folderentry.h"
#include "dialogs/frmsetsavefolder.h"
#include "dialogs/frmver.h"
#include "dialogs/help.h"
#include "main_window/messageboxpresenter.h"
#include "platform/runtimeerror.h"
#include "platform/urlopener.h"
#include "resources/messages.h"
#include "support/messageanswerer.h"
#include "ui/qttranslations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(MessageAnswer)

class tst_Dialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(installQtTranslations(*qApp));
    }
    void init();
    void cleanup();
    void dialog_data();
    void dialog();
    void folderEntryRules_data();
    void folderEntryRules();
    void documents_data();
    void documents();

private:
    const QString m_originalCurrent = QDir::currentPath();
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Dialogs::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkdir(u"写真"_s) && QDir(m_dir->path()).mkdir(u"locked"_s));
    QVERIFY(QFile(m_dir->path() + u"/a.jpg"_s).open(QIODevice::WriteOnly));
    QVERIFY(QFile::setPermissions(m_dir->path() + u"/locked"_s, QFile::ReadOwner));
    qputenv("HOME", QFile::encodeName(m_dir->path()));
}

void tst_Dialogs::cleanup()
{
    // Checking a folder never makes it the process's current one.
    QCOMPARE(QDir::currentPath(), m_originalCurrent);
    QFile::setPermissions(m_dir->path() + u"/locked"_s, QFile::ReadOwner | QFile::ExeOwner);
    m_dir.reset();
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY(!window->isVisible());
}

void tst_Dialogs::dialog_data()
{
    // "save" the save-folder dialog, or a real question box, "yesno" (No default) or "okcancel"
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("entry"); // typed in the folder box
    QTest::addColumn<QString>("input"); // a control to click, "close", or a key
    // The answer to a box the dialog shows; for a question box, the answer it gives.
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QString>("box"); // empty: none
    QTest::addColumn<QString>("result"); // the folder stored (%1: the test's folder)
    QTest::addColumn<bool>("stayedOpen");

    const MessageAnswer ok = MessageAnswer::Ok;
    const auto refused = [](const QString& text) {
        return expectBox(Msg::titleFolderNameError, MessageIcon::Critical, text);
    };
    const QString question = expectBox(Msg::titleFolderCreateConfirm, MessageIcon::Question,
        Msg::folderMissing + Msg::crlf + Msg::createFolderQuestion);
    const QString locked = expectBox(Msg::titleError, MessageIcon::Critical,
        runtimeError(ErrorNumber::PermissionDenied).numberAndDescription());
    const QString none;
    // clang-format off
    QTest::newRow("spaces and one letter ask for a folder name") << u"save"_s << u"  a  "_s
        << u"cmdOK"_s << ok << refused(Msg::enterFolderName) << none << true;
    QTest::newRow("a relative folder asks for a full path") << u"save"_s << u"photos/2024"_s
        << u"cmdOK"_s << ok << refused(Msg::folderNotAbsolute) << none << true;
    QTest::newRow("an existing file is not taken for a folder") << u"save"_s << u"%1/a.jpg"_s
        << u"cmdOK"_s << ok << refused(Msg::fileInTheWay + Msg::crlf + u"%1/a.jpg"_s) << none
        << true;
    QTest::newRow("a colon from the fourth character on is forbidden") << u"save"_s << u"%1/a:b"_s
        << u"cmdOK"_s << ok << refused(Msg::forbiddenFolderChars + Msg::crlf + u"\\:*?\"<>|"_s)
        << none << true;
    QTest::newRow("a folder that cannot be entered is refused") << u"save"_s << u"%1/locked"_s
        << u"cmdOK"_s << ok << locked << none << true;
    QTest::newRow("Enter in the box stores an existing folder with a final separator") << u"save"_s
        << u"%1/写真"_s << u"Return"_s << ok << none << u"%1/写真/"_s << false;
    QTest::newRow("a tilde starts in the home folder") << u"save"_s << u" ~/写真 "_s << u"cmdOK"_s << ok
        << none << u"%1/写真/"_s << false;
    QTest::newRow("a missing folder confirmed with OK is accepted but not made") << u"save"_s
        << u"%1/new/photos"_s << u"cmdOK"_s << ok << question << u"%1/new/photos/"_s << false;
    QTest::newRow("Cancel in the creation question keeps the dialog open") << u"save"_s
        << u"%1/new/photos"_s << u"cmdOK"_s << MessageAnswer::Cancel << question << none << true;
    QTest::newRow("Cancel leaves nothing confirmed") << u"save"_s << u"%1/写真"_s << u"cmdCancel"_s
        << ok << none << none << false;

    QTest::newRow("closing a question counts as No") << u"yesno"_s << none << u"close"_s
        << MessageAnswer::No << none << none << false;
    QTest::newRow("Escape on OK and Cancel counts as Cancel") << u"okcancel"_s << none
        << u"Escape"_s << MessageAnswer::Cancel << none << none << false;
    // clang-format on
}

void tst_Dialogs::dialog()
{
    QFETCH(QString, kind);
    QFETCH(QString, entry);
    QFETCH(QString, input);
    QFETCH(MessageAnswer, answer);
    QFETCH(QString, box);
    QFETCH(QString, result);
    QFETCH(bool, stayedOpen);
    if (entry.contains(u"locked") && geteuid() == 0)
        QSKIP("the superuser enters every folder");

    MessageAnswerer answerer;
    answerer.answers = { answer };
    const QString start = m_dir->path() + u'/';
    std::unique_ptr<QDialog> dialog(kind == u"save" ? new frmSetSaveFolder(start) : nullptr);
    bool open = false;
    QWidget* focus = nullptr;
    QStringList buttons;
    QTimer modalWatch; // acts once the dialog is up
    modalWatch.callOnTimeout([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        modalWatch.stop();
        for (const QAbstractButton* button : modal->findChildren<QAbstractButton*>())
            buttons.append(button->text());
        if (auto* txtFolder = modal->findChild<QLineEdit*>(u"txtFolder"_s))
            txtFolder->setText(entry.replace(u"%1"_s, m_dir->path()));
        if (input == u"close")
            modal->close();
        else if (QWidget* control = modal->findChild<QWidget*>(input))
            QTest::mouseClick(control, Qt::LeftButton);
        else
            QTest::keyClick(modal->focusWidget(), QKeySequence(input)[0].key());
        open = modal->isVisible();
        focus = modal->focusWidget();
        modal->hide();
    });
    modalWatch.start(5);
    const bool yesNo = kind == u"yesno";
    const MessageAnswer pressed = dialog
        ? MessageAnswer(dialog->exec())
        : presentMessageBox({ u"?"_s, MessageIcon::Question,
            yesNo ? MessageButtons::YesNo : MessageButtons::OkCancel,
            yesNo ? MessageAnswer::No : MessageAnswer::Ok, u"?"_s });

    QCOMPARE(answerer.shown(),
        box.isEmpty() ? QStringList() : QStringList { box.replace(u"%1"_s, m_dir->path()) });
    QCOMPARE(open, stayedOpen);
    if (!dialog) {
        QCOMPARE(pressed, answer);
        // Qt's own buttons speak Japanese too.
        QVERIFY2(buttons.filter(yesNo ? u"いいえ"_s : u"キャンセル"_s).size() == 1,
            qPrintable(buttons.join(u", ")));
        return;
    }
    auto* saveFolder = static_cast<frmSetSaveFolder*>(dialog.get());
    QCOMPARE(saveFolder->blnSaveFolderOK(), !result.isEmpty());
    QCOMPARE(saveFolder->strSaveFolder(),
        result.isEmpty() ? start : result.replace(u"%1"_s, m_dir->path()));
    if (open)
        QCOMPARE(focus, saveFolder->findChild<QLineEdit*>(u"txtFolder"_s));
    // The dialog only decides; the download makes the folder.
    QVERIFY(!QDir(m_dir->path() + u"/new"_s).exists());
}

void tst_Dialogs::folderEntryRules_data()
{
    // Typed (%1: the test's folder); on Windows the drives tested (the test passes C: only), on
    // Linux the mount table's word ("none", "not ready"); the verdict; the folder stored.
    QTest::addColumn<QStringList>("row");
    using V = FolderEntryVerdict;
    const auto row = [](const char* name, const QString& typed, const QString& drive, V verdict,
                         const QString& folder = {}) {
        QTest::newRow(name) << QStringList { typed, drive, QString::number(int(verdict)), folder };
    };
    row("a failed drive test comes before the forbidden characters", u"Q:\\a*b"_s, u"Q:\\"_s,
        V::InvalidDrive);
    row("a network path skips the drive test", u"\\\\server\\share"_s, {}, V::Accepted,
        u"\\\\server\\share\\"_s);
    // Where no mount-table entry covers a folder (a plain chroot), the folder itself decides.
    row("an existing folder no entry covers", u"%1"_s, u"none"_s, V::Accepted, u"%1/"_s);
    row("a missing folder under a writable one", u"%1/new/sub"_s, u"none"_s, V::Accepted,
        u"%1/new/sub/"_s);
    row("a volume the table calls not ready", u"%1"_s, u"not ready"_s, V::InvalidDrive);
    // A relative path: Windows refuses its drive, Linux asks for a path from the root.
    row("a relative Windows folder fails the drive test", u"photos\\2024"_s, u"pho"_s,
        V::InvalidDrive);
    row("a relative Linux folder needs the root", u"photos/2024"_s, {}, V::NotAbsolute);
    row("a folder below a file", u"%1/a.jpg/sub"_s, u"none"_s, V::FileInTheWay, u"%1/a.jpg"_s);
}

void tst_Dialogs::folderEntryRules()
{
    QFETCH(QStringList, row);
    row.replaceInStrings(u"%1"_s, m_dir->path());
    const bool onLinux = row[0].contains(u'/');
    const std::optional<bool> said = row[1] == u"none" ? std::nullopt : std::optional(false);
    QString tested;
    const auto driveTest = [&](const QString& drive) {
        if (onLinux)
            return Check_Drive(
                drive, PathConventions::forLinux(), [&](const QString&) { return said; });
        tested += drive;
        return drive.startsWith(u'C');
    };
    const FolderEntryResult result = checkFolderEntry(row[0],
        onLinux ? PathConventions::forLinux() : PathConventions::forWindows(), QString(),
        driveTest);
    QCOMPARE((QStringList {
                 onLinux ? row[1] : tested, QString::number(int(result.verdict)), result.folder }),
        row.mid(1));
}

void tst_Dialogs::documents_data()
{
    QTest::addColumn<QString>("link"); // a link of the About box, or "?" for the help button
    QTest::addColumn<bool>("browser"); // whether a program takes the file
    QTest::addColumn<QString>("file"); // the file handed to the desktop
    QTest::addColumn<QString>("box"); // empty: none
    const QString help = helpPagePath();
    QTest::newRow("help without a browser names the help file")
        << u"?"_s << false << help
        << expectBox(Msg::titleHelp, MessageIcon::Warning, Msg::noProgramToOpen + Msg::crlf + help);
    QTest::newRow("the first About link opens the help page")
        << u"lblURL"_s << true << help << QString();
    QTest::newRow("the second About link opens the README")
        << u"lblMail"_s << true << readmePath() << QString();
}

void tst_Dialogs::documents()
{
    QFETCH(QString, link);
    QFETCH(bool, browser);
    QFETCH(QString, file);
    QFETCH(QString, box);
    MessageAnswerer answerer;
    QList<QUrl> opened;
    const UrlOpener previous = installUrlOpener([&](const QUrl& url) {
        opened.append(url);
        return browser;
    });
    if (link == u"?") {
        openHelp();
    } else {
        FrmVer about;
        about.show();
        QTest::mouseClick(about.findChild<QWidget*>(link), Qt::LeftButton);
        about.hide();
    }
    installUrlOpener(previous);
    // Run from the build folder, the documents are the source tree's.
    QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
    QCOMPARE(opened, QList { QUrl::fromLocalFile(file) });
    QCOMPARE(answerer.shown(), box.isEmpty() ? QStringList() : QStringList { box });
}

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
