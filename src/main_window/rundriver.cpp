// The run driver: one press of Download from the input checks to the report or the download, and
// the Cancel and Skip buttons that act inside it.
#include "main_window/frmmain.h"

#include "dialogs/frmsetsavefolder.h"
#include "main_window/readimglistfromfile.h"
#include "page_analysis/linkextraction.h"
#include "platform/messagebox.h"
#include "platform/pathrules.h"
#include "platform/programfolder.h"
#include "platform/runtimeerror.h"
#include "platform/validurl.h"
#include "resources/messages.h"
#include "run/cancelrun.h"
#include "store/downloadengine.h"
#include "store/downloadlist.h"
#include "store/fetchahead.h"
#include "store/localpaths.h"
#include "store/pathnames.h"
#include "web/fetcher.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <exception>
#include <functional>
#include <new>

namespace {

// Carries out its action when the scope ends, however it ends.
class AtScopeEnd
{
public:
    explicit AtScopeEnd(std::function<void()> action)
        : m_action(std::move(action))
    { }
    ~AtScopeEnd() { m_action(); }
    AtScopeEnd(const AtScopeEnd&) = delete;
    AtScopeEnd& operator=(const AtScopeEnd&) = delete;

private:
    std::function<void()> m_action;
};

} // namespace

void frmMain::cmdDownload_Click()
{
    // The event loop runs inside every yield of a run: a second Enter or click can arrive there,
    // also after Cancel has already made the window idle again while the run unwinds.
    if (m_running || m_closed)
        return;
    m_running = true;
    const AtScopeEnd ran([this] { m_running = false; });
    try {
        runDownload();
    } catch (const std::bad_alloc&) {
        failRun(runtimeError(ErrorNumber::OutOfMemory).numberAndDescription());
    } catch (const std::exception&) {
        failRun(runtimeError(ErrorNumber::InternalError).numberAndDescription());
    }
}

void frmMain::failRun(const QString& errorText)
{
    if (m_closed)
        return;
    setCaption(Msg::appName);
    showLatestTexts();
    showMessage(errorText, MessageIcon::Critical, Msg::titleError);
    Show_Info(Msg::cannotDownload);
    Set_Controls(true);
}

void frmMain::runDownload()
{
    setCaption(Msg::appName);
    m_state.blnCancel = false;
    m_state.blnSkip = false;
    m_state.shownWriteError = 0;
    allowTransfers(m_state);

    if (txtURL->text().endsWith(Msg::crlf))
        txtURL->setText(txtURL->text().chopped(Msg::crlf.size()));

    const int method = linkMethod();
    // Spaces and line breaks pasted around an address are no part of it.
    if (method != 1 && txtURL->text() != txtURL->text().trimmed())
        txtURL->setText(txtURL->text().trimmed());
    if (method == 1) {
        if (!Read_ImgListFromFile(*this, this, m_listDialogMemory))
            return;
    } else if (!isFetchedAddress(txtURL->text())) {
        showMessage(Msg::invalidUrl, MessageIcon::Critical, Msg::titleUrlError);
        txtURL->setFocus();
        return;
    }

    if (chkSetSaveFolder->isChecked() && method != 2) {
        // An installed copy's default folder in Pictures is made when it is first offered, so
        // that the dialog opens on it; a failure leaves the dialog to open where it can.
        if (m_state.strSaveFolder == defaultSaveFolder())
            QDir().mkpath(m_state.strSaveFolder);
        frmSetSaveFolder dialog(m_state.strSaveFolder, this);
        dialog.exec();
        m_state.blnSaveFolderOK = dialog.blnSaveFolderOK();
        if (!m_state.blnSaveFolderOK)
            return;
        m_state.strSaveFolder = dialog.strSaveFolder();
    }

    Set_Controls(false);
    setFileCounter(QString());
    for (QListWidget* list :
        { lstDownload, lstDownloadDone, lstDownloadAlready, lstDownloadDenied })
        list->clear();
    setCaption(Msg::captionWorking);

    // Images are fetched into memory while the list is built, to be written only when the loop
    // decides them; every ending before the loop drops them with this object.
    std::unique_ptr<FetchAhead> early;
    if (method == 0)
        early = startEarlyFetch();
    // The crawl is unhooked from the images fetched early when the run ends, however it ends.
    const AtScopeEnd unhooked([this] {
        m_state.listGrew = nullptr;
        m_state.crawlFetchesImages = false;
    });
    if (method == 1) {
        if (!Get_FileList(*this)) {
            Set_Controls(true);
            return;
        }
    } else if (!finishListRun(method)) {
        return;
    }

    if (method == 2) {
        reportList();
        return;
    }

    QString folder;
    if (!prepareFolder(folder))
        return;
    if (early && early->folder() != folder)
        early.reset();
    Start_Download(folder, early.get());
}

std::unique_ptr<FetchAhead> frmMain::startEarlyFetch()
{
    // The folder the run will use, known before the list: the confirmed save folder, or the page
    // folder, which is made only once the list is written.
    const PathConventions conventions = PathConventions::forHost();
    const QString folder = chkSetSaveFolder->isChecked()
        ? m_state.strSaveFolder
        : pageFolderPath(
            withTrailingSeparator(programFolder()), Cut_URLTail(txtURL->text()), conventions);
    auto early = std::make_unique<FetchAhead>(m_state, folder, conventions);
    m_state.listGrew = [fetch = early.get()] { fetch->fillEarly(); };
    m_state.crawlFetchesImages = true;
    return early;
}

// Builds the list from the page (methods 0 and 2) and writes it; false when the run ends here.
bool frmMain::finishListRun(int method)
{
    const QString page = Cut_URLTail(txtURL->text());
    m_state.udtDownload.clear();
    m_state.strPageList.clear();
    m_state.givenPageFailure.clear();
    m_state.strPageList.append(page);

    if (linkJpgIndex() == 1) {
        Get_PageLinks(*this, page);
    } else if (!Make_PageList(*this, page, hrefPattern)) {
        // After a cancel the window is already idle and shows why.
        if (!m_state.blnCancel)
            Set_Controls(true);
        return false;
    }
    // Cancel has put the window back and told the user; nothing may be added after it.
    if (m_state.blnCancel)
        return false;
    if (m_state.lngDownloadMax() == -1) {
        showNoFiles(method);
        return false;
    }
    if (!Write_DownloadList(*this)) {
        setCaption(Msg::appName);
        Set_Controls(true);
        return false;
    }
    return true;
}

void frmMain::showNoFiles(int method)
{
    // A page that could not be read is told as such, not as a page without images.
    Show_Info(m_state.givenPageFailure.isEmpty() ? Msg::noFiles : m_state.givenPageFailure);
    setCaption(Msg::appName);
    Set_Controls(true);
    if (method != 2)
        return;
    setCaption(Msg::captionDone);
    showMessage(Msg::noFiles + Msg::crlf + Msg::crlf + Msg::sourceReportHead + Msg::crlf
            + m_state.strHTMLSourceFile + Msg::crlf + Msg::sourceReportIsAt,
        MessageIcon::Information, Msg::titleListCreated);
}

void frmMain::reportList()
{
    restoreAndActivate();
    setCaption(Msg::captionDone);
    showMessage(Msg::listReportHead + Msg::crlf + m_state.strDownloadListFile + Msg::crlf
            + Msg::listReportCreatedAt + Msg::crlf + Msg::listCount(m_state.udtDownload.size())
            + Msg::crlf + Msg::crlf + Msg::sourceReportHead + Msg::crlf + m_state.strHTMLSourceFile
            + Msg::crlf + Msg::sourceReportIsAt,
        MessageIcon::Information, Msg::titleListCreated);
    Set_Controls(true);
}

// The folder the images go to: the confirmed save folder, or a folder named after the page
// inside the program's folder. False when the run ends here.
bool frmMain::prepareFolder(QString& folder)
{
    if (chkSetSaveFolder->isChecked()) {
        folder = m_state.strSaveFolder;
        int errorNumber = 0;
        if (!Make_Dir(folder) || !Check_Dir(folder, errorNumber)) {
            setCaption(Msg::appName);
            showLatestTexts();
            showMessage(Msg::folderCannotBeCreated, MessageIcon::Critical, Msg::titleError);
            Show_Info(Msg::cannotDownload);
            Set_Controls(true);
            return false;
        }
        return true;
    }

    const QString root = withTrailingSeparator(programFolder());
    const QStringList& pages = m_state.strPageList.addresses();
    folder = pages.isEmpty() ? QString() : pages.first();
    if (folder.isEmpty() || !Get_LocalPath(root, folder)) {
        setCaption(Msg::appName);
        Show_Info(Msg::cannotDownload);
        Set_Controls(true);
        return false;
    }
    return true;
}

void frmMain::Start_Download(const QString& folder, FetchAhead* early)
{
    // The download loop reports its own failures and ends idle; only an error that escapes it is
    // left to this routine.
    try {
        Download_ByInet(*this, folder, early);
    } catch (const std::bad_alloc&) {
        failRun(runtimeError(ErrorNumber::OutOfMemory).numberAndDescription());
    } catch (const std::exception&) {
        failRun(runtimeError(ErrorNumber::InternalError).numberAndDescription());
    }
}

void frmMain::cmdCancel_Click()
{
    showLatestTexts();
    const MessageAnswer answer = showMessageBox(MessageBoxRequest { Msg::cancelQuestion,
        MessageIcon::Question, MessageButtons::YesNo, MessageAnswer::No, Msg::titleCancelConfirm });
    if (answer == MessageAnswer::Yes)
        Cancel_Run(*this);
}

void frmMain::cmdSkip_Click()
{
    m_state.blnSkip = true;
    setCaption(Msg::appName);
}
