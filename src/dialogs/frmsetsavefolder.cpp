// The save-folder dialog.
#include "dialogs/frmsetsavefolder.h"

#include "dialogs/folderentry.h"
#include "platform/messagebox.h"
#include "platform/runtimeerror.h"
#include "resources/messages.h"
#include "store/localpaths.h"
#include "ui/controltable.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPalette>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

const QString caption = QStringLiteral("画像保存先フォルダの指定");
const QString headingText = QStringLiteral("保存先フォルダの指定");
const QString folderLabelText = QStringLiteral("画像ファイルを保存するフォルダ");
// The lists have no caption of their own; these are what a screen reader calls them.
const QString driveListName = QStringLiteral("ドライブ");
const QString folderListName = QStringLiteral("フォルダ");
const QString fileListName = QStringLiteral("ファイル");

// Kernel and container file systems that hold no user folders.
bool isPseudoVolume(const QStorageInfo& volume)
{
    static const QList<QByteArray> pseudoTypes { "proc", "sysfs", "devtmpfs", "devpts", "cgroup",
        "cgroup2", "securityfs", "pstore", "bpf", "debugfs", "tracefs", "configfs", "fusectl",
        "mqueue", "hugetlbfs", "autofs", "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",
        "selinuxfs", "squashfs", "ramfs", "fuse.gvfsd-fuse", "fuse.portal" };
    if (pseudoTypes.contains(volume.fileSystemType()))
        return true;
    const QString root = volume.rootPath();
    for (const QString& system : { QStringLiteral("/proc"), QStringLiteral("/sys"),
             QStringLiteral("/dev"), QStringLiteral("/run"), QStringLiteral("/snap") }) {
        if (root == system || root.startsWith(system + u'/'))
            return true;
    }
    return false;
}

// The roots of the volumes a folder can be saved on, each ending in the separator.
QStringList usableVolumeRoots()
{
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudoVolume(volume))
            continue;
        // Containers bind-mount single files (/etc/hosts); only folders can hold a save folder.
        if (!QFileInfo(volume.rootPath()).isDir())
            continue;
        const QString root = withTrailingSeparator(QDir::toNativeSeparators(volume.rootPath()));
        if (!roots.contains(root))
            roots.append(root);
    }
    // Without a mount table (a plain chroot) the one tree there is still holds folders.
    if (roots.isEmpty() && !PathConventions::forHost().driveLetters)
        roots.append(QStringLiteral("/"));
    roots.sort(Qt::CaseInsensitive);
    return roots;
}

Qt::CaseSensitivity pathCase(const PathConventions& conventions)
{
    return conventions.driveLetters ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

// The index of the root that holds folder most closely (the longest root it begins with).
qsizetype volumeOf(
    const QStringList& roots, const QString& folder, const PathConventions& conventions)
{
    const QString path = withTrailingSeparator(QDir::toNativeSeparators(folder), conventions);
    qsizetype best = -1;
    for (qsizetype i = 0; i < roots.size(); ++i) {
        if (path.startsWith(roots.at(i), pathCase(conventions))
            && (best < 0 || roots.at(i).size() > roots.at(best).size()))
            best = i;
    }
    return best;
}

} // namespace

struct frmSetSaveFolder::Impl
{
    frmSetSaveFolder* q = nullptr;
    PathConventions conventions;
    QString originalFolder;
    QString confirmedFolder;
    bool confirmed = false;

    QStringList volumeRoots;
    QFileSystemModel* folderModel = nullptr;
    QFileSystemModel* fileModel = nullptr;

    QLabel* Label4 = nullptr;
    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QListView* File1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtFolder = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

    void buildControls();
    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    bool setDir1(const QString& folder);
    void CmdOk_Click();
    void acceptFolder(const QString& folder);
    void refuse(const QString& message);
};

void frmSetSaveFolder::Impl::buildControls()
{
    q->setWindowTitle(caption);
    q->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    using K = ControlKind;
    using Row = ControlRow;
    const ControlFont heading { Typeface::PGothic, 18, true };
    const ControlFont boldButton { Typeface::PGothic, 9, true };
    // clang-format off
    buildForm(q, FormDesign { 6840, 4560 }, {
        Row(keepIn(Label4), K::Label, "Label4", headingText, { 240, 240, 3855, 375 })
            .font(heading).textColor(QColor(0, 0, 128)).fitsFreely(),
        Row(keepIn(Drive1), K::DriveList, "Drive1", {}, { 240, 720, 3135, 300 })
            .accessibleName(driveListName),
        Row(keepIn(Dir1), K::FolderTree, "Dir1", {}, { 240, 1080, 3135, 2400 })
            .accessibleName(folderListName),
        Row(keepIn(File1), K::FileList, "File1", {}, { 3480, 720, 3135, 2790 })
            .accessibleName(fileListName),
        // The entry's name is its caption.
        Row(keepIn(Label1), K::Label, "Label1", folderLabelText, { 240, 3600, 2655, 255 })
            .names("txtFolder").fitsFreely(),
        Row(keepIn(txtFolder), K::TextBox, "txtFolder", {}, { 240, 3840, 5175, 375 }),
        Row(keepIn(cmdOK), K::CommandButton, "cmdOK", u"OK"_s, { 5520, 3600, 1095, 375 })
            .font(boldButton),
        Row(keepIn(cmdCancel), K::CommandButton, "cmdCancel", u"Cancel"_s,
            { 5520, 3960, 1095, 375 }).font(boldButton),
    });
    // clang-format on

    folderModel = new QFileSystemModel(q);
    folderModel->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    folderModel->setReadOnly(true);
    Dir1->setModel(folderModel);
    Dir1->setHeaderHidden(true);
    for (int column = 1; column < folderModel->columnCount(); ++column)
        Dir1->hideColumn(column);

    fileModel = new QFileSystemModel(q);
    fileModel->setFilter(QDir::Files);
    fileModel->setReadOnly(true);
    File1->setModel(fileModel);
    File1->setSelectionMode(QAbstractItemView::NoSelection);
    File1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    // Enter confirms the folder in the entry unless the focus is on Cancel; Escape cancels.
    cmdOK->setDefault(true);

    QObject::connect(Drive1, &QComboBox::currentIndexChanged, q, [this] { Drive1_Change(); });
    QObject::connect(
        Dir1->selectionModel(), &QItemSelectionModel::currentChanged, q, [this] { Dir1_Change(); });
    // The folders along the way are read in the background and push the current one down as
    // they arrive; keep it in sight until they are all in.
    QObject::connect(
        folderModel, &QFileSystemModel::directoryLoaded, q, [this](const QString& loaded) {
            const QString current = folderModel->filePath(Dir1->currentIndex());
            const QString within = loaded.endsWith(u'/') ? loaded : loaded + u'/';
            if (current == loaded || current.startsWith(within))
                Dir1->scrollTo(Dir1->currentIndex(), QAbstractItemView::PositionAtCenter);
        });
    // Names arrive in the order the file system keeps them; the lists show them sorted.
    for (QFileSystemModel* model : { folderModel, fileModel }) {
        QObject::connect(model, &QFileSystemModel::directoryLoaded, model,
            [model] { model->sort(0, Qt::AscendingOrder); });
    }
    QObject::connect(cmdOK, &QPushButton::clicked, q, [this] { CmdOk_Click(); });
    QObject::connect(cmdCancel, &QPushButton::clicked, q, &QDialog::reject);
}

void frmSetSaveFolder::Impl::Form_Load()
{
    confirmed = false;

    volumeRoots = usableVolumeRoots();
    const qsizetype volume = volumeOf(volumeRoots, originalFolder, conventions);
    {
        const QSignalBlocker blocker(Drive1);
        Drive1->addItems(volumeRoots);
        Drive1->setCurrentIndex(volume < 0 ? 0 : int(volume));
    }
    Drive1_Change();

    // A folder that no longer exists leaves Dir1 on the drive's current folder.
    setDir1(originalFolder);
    Dir1_Change();
    txtFolder->setFocus();
}

void frmSetSaveFolder::Impl::Drive1_Change()
{
    const int index = Drive1->currentIndex();
    if (index < 0 || index >= volumeRoots.size())
        return;
    const QString root = volumeRoots.at(index);
    if (!mountTableReady(root).value_or(true))
        return;

    const QString rootPath = QDir::fromNativeSeparators(root);
    folderModel->setRootPath(rootPath);
    Dir1->setRootIndex(folderModel->index(rootPath));

    // The drive's current folder: the one the dialog started from when it lies on this volume.
    setDir1(
        volumeOf(volumeRoots, originalFolder, conventions) == index ? originalFolder : rootPath);
}

bool frmSetSaveFolder::Impl::setDir1(const QString& folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    const QModelIndex index
        = folderModel->index(QDir::cleanPath(QDir::fromNativeSeparators(folder)));
    if (!index.isValid())
        return false;
    // Only the way to the folder stays open, so that the tree shows where it is.
    Dir1->collapseAll();
    Dir1->setCurrentIndex(index);
    Dir1->scrollTo(index, QAbstractItemView::PositionAtCenter);
    Dir1->expand(index);
    return true;
}

void frmSetSaveFolder::Impl::Dir1_Change()
{
    const QModelIndex current = Dir1->currentIndex();
    const QString folder = current.isValid() ? folderModel->filePath(current) : QString();
    if (folder.isEmpty())
        return;
    fileModel->setRootPath(folder);
    File1->setRootIndex(fileModel->index(folder));
    txtFolder->setText(withTrailingSeparator(QDir::toNativeSeparators(folder), conventions));
}

void frmSetSaveFolder::Impl::refuse(const QString& message)
{
    showMessage(message, MessageIcon::Critical, Msg::titleFolderNameError);
    txtFolder->setFocus();
}

void frmSetSaveFolder::Impl::CmdOk_Click()
{
    const FolderEntryResult entry = checkFolderEntry(txtFolder->text(), conventions,
        QDir::homePath(), [this](const QString& drive) { return Check_Drive(drive, conventions); });
    switch (entry.verdict) {
    case FolderEntryVerdict::TooShort:
        refuse(Msg::enterFolderName);
        return;
    case FolderEntryVerdict::NotAbsolute:
        refuse(Msg::folderNotAbsolute);
        return;
    case FolderEntryVerdict::InvalidDrive:
        refuse(Msg::invalidDrive);
        return;
    case FolderEntryVerdict::ForbiddenCharacter:
        refuse(forbiddenCharacterMessage(conventions));
        return;
    case FolderEntryVerdict::FileInTheWay:
        refuse(fileInTheWayMessage(entry.folder));
        return;
    case FolderEntryVerdict::Accepted:
        break;
    }

    int errorNumber = 0;
    if (Check_Dir(entry.folder, errorNumber)) {
        acceptFolder(entry.folder);
        return;
    }
    if (errorNumber != ErrorNumber::PathNotFound)
        return; // Check_Dir has told the user why

    // The folder itself is made by the download, once the user has said yes here.
    const MessageAnswer answer = showMessageBox(MessageBoxRequest {
        Msg::folderMissing + Msg::crlf + Msg::createFolderQuestion, MessageIcon::Question,
        MessageButtons::OkCancel, MessageAnswer::Ok, Msg::titleFolderCreateConfirm });
    if (answer == MessageAnswer::Ok)
        acceptFolder(entry.folder);
    else
        txtFolder->setFocus();
}

void frmSetSaveFolder::Impl::acceptFolder(const QString& folder)
{
    confirmedFolder = folder;
    confirmed = true;
    q->accept();
}

frmSetSaveFolder::frmSetSaveFolder(
    const QString& saveFolder, QWidget* parent, const PathConventions& conventions)
    : QDialog(parent)
    , m_impl(new Impl)
{
    m_impl->q = this;
    m_impl->conventions = conventions;
    m_impl->originalFolder = saveFolder;
    m_impl->buildControls();
    m_impl->Form_Load();
}

frmSetSaveFolder::~frmSetSaveFolder() { delete m_impl; }

bool frmSetSaveFolder::blnSaveFolderOK() const { return m_impl->confirmed; }

QString frmSetSaveFolder::strSaveFolder() const
{
    return m_impl->confirmed ? m_impl->confirmedFolder : m_impl->originalFolder;
}
