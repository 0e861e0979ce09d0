// The program's only main window: its controls, their idle and busy states, and the run driver.
#pragma once

#include "run/runhost.h"
#include "run/runstate.h"
#include "store/downloadlist.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class FetchAhead;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class PaintThrottle;
class ListRows;
class QPushButton;
class QRadioButton;
class QTimer;

class frmMain : public QWidget, public RunHost
{
    Q_OBJECT
public:
    // Builds the window in its start-up state (Form_Load): a page address taken off the
    // clipboard, the default save folder set, the controls idle, the download list empty.
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // RunHost
    RunState& runState() override { return m_state; }
    void yield() override;
    void waitForEvents() override;
    void Show_Info(const QString& text) override;
    QString infoText() const override;
    void Set_Controls(bool idle) override;
    void setCaption(const QString& caption) override;
    void setFileCounter(const QString& text) override;
    void setSkipEnabled(bool enabled) override;
    void appendDownloadRows(const QStringList& fileNames) override;
    void selectDownloadRow(qsizetype row) override;
    void appendResultRow(ResultList list, const QString& fileName) override;
    void selectLastResultRow(ResultList list) override;
    void restoreAndActivate() override;
    QString typedAddress() const override;
    bool embeddedLinkSource() const override;
    bool skipGivenPageImages() const override;
    bool modernPages() const override;

    // The selected reading method: 0 links then download, 1 from a JPG list, 2 list only.
    int linkMethod() const;

    void Set_DefaultFolder();

public slots:
    // One run, from the input checks to the report or the end of the download. Does nothing
    // while a run is already under way.
    void cmdDownload_Click();
    // Asks whether to stop; on Yes ends the transfer, keeps the list on disk and goes idle.
    void cmdCancel_Click();
    // Gives up the file being downloaded.
    void cmdSkip_Click();
    void cmdHelp_Click();
    void cmdAbout_Click();
    void optLinkJpg_Click(int Index);
    void optLinkMethod_Click(int Index);
    // Enter (13) runs a download when the Download button is available.
    void txtURL_KeyPress(int KeyAscii);

protected:
    // A modal box about to open shows the latest texts over the window it blocks.
    bool event(QEvent* event) override;
    // Form_Unload: ends the transfer, keeps a non-empty list on disk, stops every loop of a run
    // under way and ends the program.
    void closeEvent(QCloseEvent* event) override;
    // Form_Resize: in the normal state the window springs back to its start-up size, also where
    // a window manager disregards the fixed size.
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    // Enables the controls as enabledControls decides for the run and the options chosen.
    void applyControlStates();
    void Form_Load();

    void runDownload();
    bool finishListRun(int method);
    void showNoFiles(int method);
    void reportList();
    bool prepareFolder(QString& folder);
    void Start_Download(const QString& folder, FetchAhead* early = nullptr);
    std::unique_ptr<FetchAhead> startEarlyFetch();
    void failRun(const QString& errorText);
    // Puts the latest status text, caption and counter on the widgets now.
    void showLatestTexts();
    void latestTextsDue();
    // Shows the held texts and list rows whose interval has passed.
    void showWhatIsDue();
    int linkJpgIndex() const;

    RunState m_state;
    ListDialogMemory m_listDialogMemory;
    bool m_running = false;
    bool m_closed = false;
    bool m_busy = false; // as Set_Controls last set the controls

    // A busy window is painted at most this often; the latest state always follows, and the
    // user's own clicks and keys are painted at once. Painting the lists as they scroll took a
    // fifth of the window's thread at twenty frames a second on a fast network; ten frames still
    // show the rows running by.
    static constexpr int paintIntervalMs = 100;
    PaintThrottle* m_paintThrottle = nullptr;
    // lstDownload, then the Done, Already and Denied lists, as a run changes them.
    std::array<ListRows*, 4> m_listRows {};
    ListRows* resultRows(ResultList list) const;
    // While busy, the status text, caption and counter are kept here and reach their widgets at
    // most once per paint interval: laying out and painting them for every entry cost more than
    // the download itself. Whatever can show them (a box, the idle state, a paint) gets the latest.
    bool m_holdTexts = false;
    QString m_infoText;
    std::optional<QString> m_heldCaption;
    std::optional<QString> m_heldCounter;
    bool m_infoHeld = false;
    QElapsedTimer m_sinceTextsShown;
    QTimer* m_textsDue = nullptr;
    // A run yields after every small step; it takes the events at most this often, sooner than
    // anyone can tell, so that it does not spend a good part of its time asking for them.
    static constexpr qint64 yieldIntervalNs = 1'000'000;
    QElapsedTimer m_sinceYielded;

    // The size taken at start-up; the window keeps it.
    int lngFormWidth = 0;
    int lngFormHeight = 0;

    // The controls, under the names the program has always used (also their object names).
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QPushButton* cmdDownload = nullptr;
    QPushButton* cmdSkip = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdHelp = nullptr;
    QPushButton* cmdAbout = nullptr;
    QCheckBox* chkSetSaveFolder = nullptr;
    QCheckBox* chkSkipCurrentPageJpg = nullptr;
    QCheckBox* chkModernPages = nullptr;
    QLineEdit* txtURL = nullptr;
    std::array<QRadioButton*, 2> optLinkJpg {};
    std::array<QRadioButton*, 3> optLinkMethod {};
    QWidget* fraLinkMethod = nullptr;
    QListWidget* lstDownload = nullptr;
    QListWidget* lstDownloadDone = nullptr;
    QListWidget* lstDownloadAlready = nullptr;
    QListWidget* lstDownloadDenied = nullptr;
    QLabel* lblInfo = nullptr;
    QLabel* lblDLFileNum = nullptr;
    QButtonGroup* m_linkJpgGroup = nullptr;
    QButtonGroup* m_linkMethodGroup = nullptr;
};
