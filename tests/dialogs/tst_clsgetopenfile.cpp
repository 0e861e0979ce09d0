// The file dialog wrapper: what the dialog is told, and what a choice or a cancel hands back.
#include "dialogs/clsgetopenfile.h"
#include "dialogs/dialogtesting.h"
#include "resources/messages.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {
const QChar nul(0);

QString preselected(QFileDialog* dialog)
{
    return dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->text();
}

// Runs ShowFileDialog with a timer armed to drive the dialog it opens.
void show(clsGetOpenFile& files, int mode, const std::function<void(QFileDialog*)>& act)
{
    whenModal([&](QWidget* modal) { act(qobject_cast<QFileDialog*>(modal)); });
    files.ShowFileDialog(mode);
}
} // namespace

class tst_ClsGetOpenFile : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(QFile(m_dir.filePath(u"DownloadList.txt"_s)).open(QIODevice::WriteOnly));
    }
    void cleanup() { QVERIFY(noWindowOpen()); }
    void filters();
    void openShowsThePropertiesAndReturnsTheChoice();
    void longPresetNameIsCutToTheBuffer_data();
    void longPresetNameIsCutToTheBuffer();
    void cancel_data();
    void cancel();
    void multipleSelectionReturnsTheFolderAndTheNames();
    void otherModesOnlyResetTheExtendedError();

private:
    QTemporaryDir m_dir;
};

void tst_ClsGetOpenFile::filters()
{
    // The platform adds the string's own NUL, so the list ends with two.
    QCOMPARE(clsGetOpenFile::Make_FilterString(Msg::listFilter),
        u"テキストファイル(*.txt)"_s + nul + u"*.txt"_s + nul + u"すべてのﾌｧｲﾙ(*.*)"_s + nul
            + u"*.*"_s + nul);
    // "*.*" is every file, also one without a dot; the patterns of a pair go together; the list
    // ends at its first empty part.
    QCOMPARE(clsGetOpenFile::nameFilters(Msg::listFilter),
        QStringList({ u"テキストファイル(*.txt) (*.txt)"_s, u"すべてのﾌｧｲﾙ(*.*) (*)"_s }));
    QCOMPARE(clsGetOpenFile::nameFilters(u"画像|*.jpg;*.jpeg||*.b|C|*.c"_s),
        QStringList { u"画像 (*.jpg *.jpeg)"_s });
}

void tst_ClsGetOpenFile::openShowsThePropertiesAndReturnsTheChoice()
{
    QWidget owner;
    clsGetOpenFile files;
    files.setCancelError(true);
    files.sethWnd(&owner);
    files.setInitDir(m_dir.path());
    files.setFileName(u"DownloadList.txt"_s);
    files.setFilter(Msg::listFilter);
    files.setflags(4100);
    files.setDialogTitle(Msg::listDialogTitle);
    files.setFilterIndex(2);

    // A cancel first: the choice that follows must not find its error still pending.
    show(files, 1, [](QFileDialog* dialog) { dialog->reject(); });
    QCOMPARE(files.pendingError(), 32755);

    QStringList seen;
    QWidget* parent = nullptr;
    show(files, 1, [&](QFileDialog* dialog) {
        seen = QStringList { dialog->windowTitle(), dialog->directory().absolutePath(),
            preselected(dialog), dialog->selectedNameFilter() };
        seen << QString::number(dialog->nameFilters().size())
             << QString::number(dialog->fileMode() == QFileDialog::ExistingFile)
             << QString::number(dialog->testOption(QFileDialog::DontUseNativeDialog));
        parent = dialog->parentWidget();
        // The user switches to the first filter before choosing; that is not handed back.
        dialog->selectNameFilter(dialog->nameFilters().value(0));
        static_cast<QDialog*>(dialog)->accept(); // what the Open button does
    });

    QCOMPARE(seen,
        QStringList({ Msg::listDialogTitle, QDir(m_dir.path()).absolutePath(),
            u"DownloadList.txt"_s, u"すべてのﾌｧｲﾙ(*.*)"_s, u"2"_s, u"1"_s, u"1"_s }));
    QCOMPARE(parent, &owner);
    QCOMPARE(files.pendingError(), 0);
    QCOMPARE(files.FileName(), m_dir.filePath(u"DownloadList.txt"_s));
    QCOMPARE(files.FileTitle(), u"DownloadList.txt"_s);
    // The list reader takes the folder as FileName less FileTitle's length.
    QCOMPARE(files.FileName().chopped(files.FileTitle().size()), m_dir.path() + u'/');
    QCOMPARE(files.FilterIndex(), qint16(2));
}

void tst_ClsGetOpenFile::longPresetNameIsCutToTheBuffer_data()
{
    QTest::addColumn<int>("maxFileSize");
    QTest::addColumn<int>("shownLength");
    QTest::newRow("no size given means a buffer of 260 with room for the NUL") << 0 << 259;
    QTest::newRow("a size of 260 is the same buffer") << 260 << 259;
    QTest::newRow("a size of 1000 gives a larger buffer") << 1000 << 999;
}

void tst_ClsGetOpenFile::longPresetNameIsCutToTheBuffer()
{
    QFETCH(int, maxFileSize);
    QFETCH(int, shownLength);
    clsGetOpenFile files;
    files.setInitDir(m_dir.path());
    files.setFileName(QString(1200, u'n'));
    files.setMaxFileSize(maxFileSize);
    QString shown;
    show(files, 1, [&](QFileDialog* dialog) {
        shown = preselected(dialog);
        dialog->reject();
    });
    QCOMPARE(shown, QString(shownLength, u'n'));
    QCOMPARE(files.FileName(), QString(1200, u'n'));
    QCOMPARE(clsGetOpenFile::preselectedName(u"abc"_s + nul + u"def"_s, 0), u"abc"_s);
}

void tst_ClsGetOpenFile::cancel_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("cancelError");
    QTest::addColumn<int>("pending");
    QTest::newRow("with CancelError a cancel leaves 32755 pending") << 1 << true << 32755;
    QTest::newRow("without CancelError a cancel leaves nothing pending") << 1 << false << 0;
    QTest::newRow("a cancelled save dialog reports the same") << 2 << true << 32755;
}

void tst_ClsGetOpenFile::cancel()
{
    QFETCH(int, mode);
    QFETCH(bool, cancelError);
    QFETCH(int, pending);
    clsGetOpenFile files;
    files.setCancelError(cancelError);
    files.setFileName(u"a.txt"_s);
    files.setFileTitle(u"title.txt"_s);
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    show(files, mode, [&](QFileDialog* dialog) {
        acceptMode = dialog->acceptMode();
        dialog->close();
    });
    QCOMPARE(acceptMode, mode == 2 ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCOMPARE(files.pendingError(), pending);
    QCOMPARE(files.FileName(), u"a.txt"_s);
    QCOMPARE(files.FileTitle(), u"title.txt"_s);
}

void tst_ClsGetOpenFile::multipleSelectionReturnsTheFolderAndTheNames()
{
    QVERIFY(QFile(m_dir.filePath(u"b.txt"_s)).open(QIODevice::WriteOnly));
    clsGetOpenFile files;
    files.setflags(clsGetOpenFile::OFN_ALLOWMULTISELECT | clsGetOpenFile::OFN_EXPLORER);
    files.setInitDir(m_dir.path());
    files.setFileTitle(u"kept"_s);
    show(files, 1, [&](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)
            ->setText(u"\"DownloadList.txt\" \"b.txt\""_s);
        static_cast<QDialog*>(dialog)->accept();
    });
    QCOMPARE(files.FileName(), m_dir.path() + nul + u"DownloadList.txt"_s + nul + u"b.txt"_s);
    QCOMPARE(files.DirectoryName(), m_dir.path());
    QCOMPARE(files.FileTitle(), u"kept"_s);
}

void tst_ClsGetOpenFile::otherModesOnlyResetTheExtendedError()
{
    clsGetOpenFile files;
    files.setCancelError(true);
    files.setFileName(u"a.txt"_s);
    files.setFileTitle(u"a title"_s);
    files.setFilterIndex(2);
    bool shown = false;
    const QPointer<QTimer> watch = whenModal([&](QWidget* modal) {
        shown = true;
        modal->close();
    });
    files.ShowFileDialog(3);
    files.ShowFileDialog(0);
    if (watch)
        watch->deleteLater();

    QVERIFY(!shown);
    QCOMPARE(files.ExtendedError(), 0);
    QCOMPARE(files.pendingError(), 0);
    QCOMPARE(QStringList({ files.FileName(), files.FileTitle(), files.DirectoryName() }),
        QStringList({ u"a.txt"_s, u"a title"_s, QString() }));
    QCOMPARE(files.FilterIndex(), qint16(2));
}

QTEST_MAIN(tst_ClsGetOpenFile)
#include "tst_clsgetopenfile.moc"
