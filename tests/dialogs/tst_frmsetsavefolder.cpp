// The save-folder dialog driven as the user drives it: browsing, typing, OK, Cancel, close box.
#include "dialogs/dialogtesting.h"
#include "dialogs/frmsetsavefolder.h"
#include "resources/messages.h"
#include "support/messageanswerer.h"

#include <QComboBox>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(MessageAnswer)

namespace {

struct Outcome
{
    bool ok = false;
    QString folder;
    bool stayedOpen = false;
    bool focusInEntry = false;
};

QLineEdit* txtFolder(QWidget* dialog) { return dialog->findChild<QLineEdit*>(u"txtFolder"_s); }

// Opens the dialog on start, types entry and presses the button (or the close box when button is
// empty), as the user would; the dialog is then closed if it is still open.
Outcome runDialog(const QString& start, const QString& entry, const QString& button = u"cmdOK"_s)
{
    frmSetSaveFolder dialog(start);
    Outcome outcome;
    whenModal([&](QWidget* modal) {
        txtFolder(modal)->setText(entry);
        if (button.isEmpty())
            modal->close();
        else
            QTest::mouseClick(modal->findChild<QPushButton*>(button), Qt::LeftButton);
        outcome.stayedOpen = modal->isVisible();
        outcome.focusInEntry = modal->focusWidget() == txtFolder(modal);
        modal->hide();
    });
    dialog.exec();
    outcome.ok = dialog.blnSaveFolderOK();
    outcome.folder = dialog.strSaveFolder();
    return outcome;
}

} // namespace

class tst_FrmSetSaveFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensOnTheSaveFolderAndBrowses();
    void okClick_data();
    void okClick();
    void unenterableFolderIsReportedByTheFolderTest();

private:
    QString m_originalCurrent;
    QByteArray m_originalHome;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_FrmSetSaveFolder::init()
{
    // The folder test enters the folders it checks; each test starts from a known place.
    m_originalCurrent = QDir::currentPath();
    m_originalHome = qgetenv("HOME");
    m_dir = std::make_unique<QTemporaryDir>(
        QCoreApplication::applicationDirPath() + u"/folders-XXXXXX"_s);
    QVERIFY(QDir(m_dir->path()).mkpath(u"写真/inner"_s));
    QVERIFY(QFile(m_dir->path() + u"/写真/夕焼け.jpg"_s).open(QIODevice::WriteOnly));
    qputenv("HOME", QFile::encodeName(m_dir->path()));
}

void tst_FrmSetSaveFolder::cleanup()
{
    QDir::setCurrent(m_originalCurrent);
    qputenv("HOME", m_originalHome);
    m_dir.reset();
    QVERIFY(noWindowOpen());
}

void tst_FrmSetSaveFolder::opensOnTheSaveFolderAndBrowses()
{
    const QString folder = m_dir->path() + u"/写真/"_s;
    frmSetSaveFolder dialog(folder);
    QCOMPARE(dialog.windowTitle(), u"画像保存先フォルダの指定"_s);
    QCOMPARE(txtFolder(&dialog)->text(), folder);
    QVERIFY(folder.startsWith(dialog.findChild<QComboBox*>(u"Drive1"_s)->currentText()));
    // The file list shows the folder's files, and only files.
    auto* files = dialog.findChild<QListView*>(u"File1"_s);
    QTRY_COMPARE(files->model()->rowCount(files->rootIndex()), 1);
    QCOMPARE(files->model()->index(0, 0, files->rootIndex()).data().toString(), u"夕焼け.jpg"_s);
    QCOMPARE(firstMangledText(&dialog, { u"Label4"_s, u"Label1"_s, u"cmdOK"_s, u"cmdCancel"_s }),
        QString());

    auto* dirs = dialog.findChild<QTreeView*>(u"Dir1"_s);
    auto* dirModel = qobject_cast<QFileSystemModel*>(dirs->model());
    dirs->setCurrentIndex(dirModel->index(folder + u"inner"_s));
    QCOMPARE(txtFolder(&dialog)->text(), folder + u"inner/"_s);
    QTRY_COMPARE(files->model()->rowCount(files->rootIndex()), 0);
    // Typing moves nothing: the entry is what counts, the lists only fill it.
    txtFolder(&dialog)->setText(folder);
    QCOMPARE(dirModel->filePath(dirs->currentIndex()), folder + u"inner"_s);

    // A save folder that is gone opens on the current folder.
    QVERIFY(QDir::setCurrent(folder + u"inner"_s));
    frmSetSaveFolder gone(m_dir->path() + u"/made-but-gone/"_s);
    QCOMPARE(txtFolder(&gone)->text(), folder + u"inner/"_s);
    QCOMPARE(gone.strSaveFolder(), m_dir->path() + u"/made-but-gone/"_s);
}

void tst_FrmSetSaveFolder::okClick_data()
{
    QTest::addColumn<QString>("entry"); // %1 is the test's folder, also the home folder
    QTest::addColumn<QString>("button");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::addColumn<QString>("stored"); // empty: nothing confirmed

    const QString ok = u"cmdOK"_s;
    const QString forbidden = Msg::forbiddenFolderChars + Msg::crlf + u"\\:*?\"<>|"_s;
    const QString question = Msg::folderMissing + Msg::crlf + Msg::createFolderQuestion;
    const MessageAnswer yes = MessageAnswer::Ok;
    QTest::newRow("spaces and one letter ask for a folder name")
        << u"  a  "_s << ok << yes << Msg::enterFolderName << QString();
    QTest::newRow("a relative folder is an invalid drive")
        << u"photos/2024"_s << ok << yes << Msg::invalidDrive << QString();
    QTest::newRow("a colon from the fourth character on is forbidden")
        << u"%1/a:b"_s << ok << yes << forbidden << QString();
    QTest::newRow("an existing folder is stored with a final separator")
        << u"%1/写真"_s << ok << yes << QString() << u"%1/写真/"_s;
    QTest::newRow("a tilde starts in the home folder")
        << u" ~/写真 "_s << ok << yes << QString() << u"%1/写真/"_s;
    QTest::newRow("a missing folder confirmed with OK is accepted")
        << u"%1/new/photos"_s << ok << yes << question << u"%1/new/photos/"_s;
    QTest::newRow("Cancel in the creation question keeps the dialog open")
        << u"%1/new/photos"_s << ok << MessageAnswer::Cancel << question << QString();
    QTest::newRow("Cancel leaves nothing confirmed")
        << u"%1/写真"_s << u"cmdCancel"_s << yes << QString() << QString();
    QTest::newRow("the close box leaves nothing confirmed")
        << u"%1/写真"_s << QString() << yes << QString() << QString();
}

void tst_FrmSetSaveFolder::okClick()
{
    QFETCH(QString, entry);
    QFETCH(QString, button);
    QFETCH(MessageAnswer, answer);
    QFETCH(QString, message);
    QFETCH(QString, stored);

    MessageAnswerer answerer;
    answerer.answers = { answer };
    const QString start = m_dir->path() + u'/';
    const Outcome outcome = runDialog(start, entry.replace(u"%1"_s, m_dir->path()), button);

    QCOMPARE(answerer.boxes.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        const MessageBoxRequest& box = answerer.last();
        const bool question = message.startsWith(Msg::folderMissing);
        QCOMPARE(box.text, message);
        QCOMPARE(box.title, question ? Msg::titleFolderCreateConfirm : Msg::titleFolderNameError);
        QCOMPARE(box.icon, question ? MessageIcon::Question : MessageIcon::Critical);
        QCOMPARE(box.buttons, question ? MessageButtons::OkCancel : MessageButtons::Ok);
    }
    QCOMPARE(outcome.ok, !stored.isEmpty());
    QCOMPARE(outcome.folder, stored.isEmpty() ? start : stored.replace(u"%1"_s, m_dir->path()));
    const bool refused = button == u"cmdOK" && stored.isEmpty();
    QCOMPARE(outcome.stayedOpen, refused);
    QCOMPARE(outcome.focusInEntry || !refused, true);
    // The dialog only decides; the download makes the folder.
    QVERIFY(!QDir(m_dir->path() + u"/new"_s).exists());
}

void tst_FrmSetSaveFolder::unenterableFolderIsReportedByTheFolderTest()
{
    if (geteuid() == 0)
        QSKIP("the superuser enters every folder");
    const QString locked = m_dir->path() + u"/locked"_s;
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
    MessageAnswerer answerer;
    const Outcome outcome = runDialog(m_dir->path() + u'/', locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, Msg::titleError);
    QVERIFY(answerer.last().text.startsWith(u"70:"_s));
    QVERIFY(outcome.stayedOpen);
    QVERIFY(!outcome.ok);
}

QTEST_MAIN(tst_FrmSetSaveFolder)
#include "tst_frmsetsavefolder.moc"
