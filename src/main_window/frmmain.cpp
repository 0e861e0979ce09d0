// The main window: its controls, start-up, idle and busy states, and closing.
#include "main_window/frmmain.h"

#include "dialogs/frmver.h"
#include "dialogs/help.h"
#include "main_window/controlstates.h"
#include "main_window/listbox.h"
#include "main_window/listrows.h"
#include "main_window/paintthrottle.h"
#include "main_window/startaddress.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "ui/controltable.h"
#include "web/connectioncache.h"
#include "web/fetcher.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QColor darkBlue(0, 0, 128);
const QColor listGrey(192, 192, 192);
const ControlFont heading { Typeface::PGothic, 18, true };
const ControlFont boldButton { Typeface::PGothic, 9, true };

QWidget* makeListBox(QWidget* parent) { return new ListBox(parent); }

} // namespace

frmMain::frmMain(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(Msg::appName);
    buildControls();
    m_paintThrottle = new PaintThrottle(this, paintIntervalMs);
    m_textsDue = new QTimer(this);
    m_textsDue->setSingleShot(true);
    // Also fires while the thread waits in a modal box.
    connect(m_textsDue, &QTimer::timeout, this, &frmMain::showLatestTexts);
    m_listRows = { new ListRows(lstDownload, paintIntervalMs),
        new ListRows(lstDownloadDone, paintIntervalMs),
        new ListRows(lstDownloadAlready, paintIntervalMs),
        new ListRows(lstDownloadDenied, paintIntervalMs) };
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    using K = ControlKind;
    using Row = ControlRow;
    // Captions sit at the top of their boxes, so that labels of different heights line up.
    const FormDesign design { 8235, 8820, Qt::AlignLeft | Qt::AlignTop };
    const char* frame = "fraLinkMethod";
    const QString modernPagesCaption = u"最新のページ形式にも対応する"_s;
    // clang-format off
    buildForm(this, design, {
        Row(keepIn(Label4), K::Label, "Label4", Msg::appName, { 240, 240, 1695, 375 })
            .font(heading).textColor(darkBlue).fitsUpTo("chkSetSaveFolder"),
        Row(keepIn(cmdDownload), K::CommandButton, "cmdDownload", u"Download"_s,
            { 4800, 360, 1095, 375 }).font(boldButton),
        Row(keepIn(cmdSkip), K::CommandButton, "cmdSkip", u"Skip"_s, { 5880, 360, 1095, 375 })
            .font(boldButton),
        Row(keepIn(cmdCancel), K::CommandButton, "cmdCancel", u"Cancel"_s, { 6960, 360, 1095, 375 })
            .font(boldButton),
        Row(keepIn(chkSetSaveFolder), K::CheckBox, "chkSetSaveFolder", u"保存先フォルダを指定する"_s,
            { 2040, 480, 2415, 180 }).checked().fitsUpTo("cmdDownload"),
        Row(keepIn(Label1), K::Label, "Label1", u"URL:"_s, { 210, 855, 885, 255 })
            .names("txtURL").fitsUpTo("txtURL"),
        Row(keepIn(txtURL), K::TextBox, "txtURL", u"http://"_s, { 720, 840, 7335, 345 }),
        Row(keepIn(cmdHelp), K::CommandButton, "cmdHelp", u"?"_s, { 7560, 1200, 255, 255 }),
        Row(keepIn(cmdAbout), K::CommandButton, "cmdAbout", u"..."_s, { 7800, 1200, 255, 255 }),
        Row(keepIn(optLinkJpg[0]), K::OptionButton, "optLinkJpg(0)",
            u"指定したページからリンクしているjpgファイルを読み込む"_s, { 720, 1320, 4695, 255 })
            .checked().fitsUpTo("cmdHelp"),
        Row(keepIn(optLinkJpg[1]), K::OptionButton, "optLinkJpg(1)",
            u"指定したページからリンクしているHTMLファイルに埋め込まれているjpgファイルを読み込む"_s,
            { 720, 1560, 7215, 375 }).fitsToMargin(),
        Row(keepIn(chkSkipCurrentPageJpg), K::CheckBox, "chkSkipCurrentPageJpg",
            u"指定ページに埋め込まれているjpgファイルは読み込まない"_s, { 960, 1920, 5535, 180 }).fitsToMargin(),
        Row(keepIn(chkModernPages), K::CheckBox, "chkModernPages", modernPagesCaption,
            { 720, 2340, 3255, 180 }).accessibleName(modernPagesCaption).fitsToMargin(),
        Row(keepIn(Label2), K::Label, "Label2", u"ダウンロードリスト"_s, { 240, 2760, 1440, 165 })
            .names("lstDownload").fitsUpTo("Label3"),
        Row(keepIn(lstDownload), K::ListBox, "lstDownload", {}, { 240, 3000, 3780, 5100 })
            .background(listGrey).madeBy(makeListBox),
        Row(keepIn(Label3), K::Label, "Label3", u"ダウンロード済みリスト"_s, { 4200, 2760, 1785, 165 })
            .names("lstDownloadDone").fitsToMargin(),
        Row(keepIn(lstDownloadDone), K::ListBox, "lstDownloadDone", {}, { 4200, 3000, 3765, 1500 })
            .background(listGrey).madeBy(makeListBox),
        Row(keepIn(Label5), K::Label, "Label5", u"既にダウンロードされていたリスト"_s,
            { 4200, 4560, 3105, 165 }).names("lstDownloadAlready").fitsToMargin(),
        Row(keepIn(lstDownloadAlready), K::ListBox, "lstDownloadAlready", {},
            { 4200, 4800, 3765, 1500 }).background(listGrey).madeBy(makeListBox),
        Row(keepIn(Label6), K::Label, "Label6", u"読込拒否されたリスト"_s, { 4200, 6360, 3105, 165 })
            .names("lstDownloadDenied").fitsToMargin(),
        Row(keepIn(lstDownloadDenied), K::ListBox, "lstDownloadDenied", {},
            { 4200, 6600, 3765, 1500 }).background(listGrey).madeBy(makeListBox),
        // A frame without a border: its caption is never drawn.
        Row(keepIn(fraLinkMethod), K::Frame, frame, {}, { 240, 8160, 7935, 255 })
            .accessibleName(u"読込方法"_s),
        // The three reading methods share one row: each starts where the one before it ends.
        Row(keepIn(optLinkMethod[0]), K::OptionButton, "optLinkMethod(0)", u"リンク取得後ダウンロード"_s,
            { 0, 0, 2295, 255 }).inFrame(frame).checked().fitsToEdge(),
        Row(keepIn(optLinkMethod[1]), K::OptionButton, "optLinkMethod(1)",
            u"jpgリストから直接ダウンロード"_s, { 2280, 0, 2655, 255 })
            .inFrame(frame).followsPrevious().fitsToEdge(),
        Row(keepIn(optLinkMethod[2]), K::OptionButton, "optLinkMethod(2)", u"jpgリストのみ作成"_s,
            { 4920, 0, 1815, 255 }).inFrame(frame).followsPrevious().fitsToEdge(),
        Row(keepIn(lblInfo), K::Label, "lblInfo", {}, { 360, 8520, 5700, 255 })
            .fitsUpTo("lblDLFileNum"),
        Row(keepIn(lblDLFileNum), K::Label, "lblDLFileNum", {}, { 6060, 8520, 1995, 375 })
            .fitsToEdge(),
    });
    // clang-format on
    chkModernPages->setToolTip(u"srcset・picture・遅延読み込み（data-src など）の画像から一番大きい"
                               u"jpgを選び、?付きアドレスのjpgも読み込み、フォルダ形式のリンク"
                               u"（/blog/記事/ など）のページもたどります"_s);
    // The counter's design runs past the bottom edge, where nothing could be seen anyway.
    lblDLFileNum->setGeometry(lblDLFileNum->geometry().intersected(rect()));

    m_linkJpgGroup = new QButtonGroup(this);
    m_linkMethodGroup = new QButtonGroup(this);
    for (int i = 0; i < int(optLinkJpg.size()); ++i)
        m_linkJpgGroup->addButton(optLinkJpg[i], i);
    for (int i = 0; i < int(optLinkMethod.size()); ++i)
        m_linkMethodGroup->addButton(optLinkMethod[i], i);

    connect(m_linkJpgGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            optLinkJpg_Click(id);
    });
    connect(m_linkMethodGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            optLinkMethod_Click(id);
    });
    connect(cmdDownload, &QPushButton::clicked, this, &frmMain::cmdDownload_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMain::cmdCancel_Click);
    connect(cmdSkip, &QPushButton::clicked, this, &frmMain::cmdSkip_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(cmdAbout, &QPushButton::clicked, this, &frmMain::cmdAbout_Click);
    // Return and the keypad's Enter both give key code 13; the key still travels on.
    connect(txtURL, &QLineEdit::returnPressed, this, [this] { txtURL_KeyPress(13); });

    QWidget* order[] = { txtURL, cmdDownload, cmdSkip, cmdCancel, chkSetSaveFolder, cmdHelp,
        cmdAbout, optLinkJpg[0], optLinkJpg[1], chkSkipCurrentPageJpg, chkModernPages, lstDownload,
        lstDownloadDone, lstDownloadAlready, lstDownloadDenied, optLinkMethod[0], optLinkMethod[1],
        optLinkMethod[2] };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtURL->setFocus();
}

void frmMain::Form_Load()
{
    lngFormWidth = width();
    lngFormHeight = height();
    if (const QClipboard* clipboard = QGuiApplication::clipboard())
        txtURL->setText(startAddress(clipboard->text()));
    optLinkJpg_Click(0);
    Show_Info(QString());
    lblDLFileNum->clear();
    Set_Controls(true);
    Set_DefaultFolder();
    m_state.udtDownload.clear();
    m_state.connections = std::make_shared<ConnectionCache>();
}

void frmMain::Set_DefaultFolder()
{
    if (m_state.strSaveFolder.isEmpty())
        m_state.strSaveFolder = defaultSaveFolder();
}

int frmMain::linkMethod() const
{
    for (int i = 0; i < int(optLinkMethod.size()); ++i) {
        if (optLinkMethod[i]->isChecked())
            return i;
    }
    return -1;
}

int frmMain::linkJpgIndex() const
{
    for (int i = 0; i < int(optLinkJpg.size()); ++i) {
        if (optLinkJpg[i]->isChecked())
            return i;
    }
    return -1;
}

void frmMain::Set_Controls(bool idle)
{
    showLatestTexts();
    const bool stillBusy = m_holdTexts && !idle;
    m_holdTexts = !idle;
    m_busy = !idle;
    // Skip is the download loop's own: it enables it for each entry.
    cmdSkip->setEnabled(false);
    applyControlStates();
    // A crawl tells every page that the window is busy; shown once, it need not be painted again.
    if (stillBusy)
        return;
    // The caller may keep the thread busy for a while before it yields again.
    // A run updates the lists in batches; an idle window shows every change at once.
    for (ListRows* rows : m_listRows)
        rows->setBatching(!idle);
    const PaintThrottle::Immediate now(m_paintThrottle);
    cmdDownload->repaint();
    cmdCancel->repaint();
    cmdSkip->repaint();
}

void frmMain::applyControlStates()
{
    const ControlStates states = enabledControls(m_busy, linkMethod(), linkJpgIndex());
    cmdDownload->setEnabled(states.download);
    cmdCancel->setEnabled(states.cancel);
    txtURL->setEnabled(states.address);
    chkSetSaveFolder->setEnabled(states.saveFolder);
    for (QRadioButton* button : optLinkJpg)
        button->setEnabled(states.linkSource);
    chkSkipCurrentPageJpg->setEnabled(states.skipGivenPage);
    chkModernPages->setEnabled(states.modernPages);
    for (QRadioButton* button : optLinkMethod)
        button->setEnabled(states.method);
}

void frmMain::optLinkMethod_Click(int) { applyControlStates(); }

void frmMain::optLinkJpg_Click(int) { applyControlStates(); }

void frmMain::txtURL_KeyPress(int KeyAscii)
{
    if (KeyAscii == 13 && cmdDownload->isEnabled())
        cmdDownload_Click();
}

void frmMain::cmdHelp_Click() { openHelp(); }

void frmMain::cmdAbout_Click()
{
    FrmVer about;
    about.exec();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // A run under way sits lower on this stack, inside a yield: it sees the flag as soon as the
    // yield returns and unwinds, and the window is destroyed only after the event loop has ended.
    stopTransfers(m_state);
    m_closed = true;
    if (m_state.lngDownloadMax() != -1)
        writeListAtClose(*this);
    event->accept();
    QCoreApplication::quit();
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const Qt::WindowStates leftAlone
        = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    if (lngFormWidth > 0 && !(windowState() & leftAlone)
        && size() != QSize(lngFormWidth, lngFormHeight))
        resize(lngFormWidth, lngFormHeight);
}

void frmMain::yield()
{
    showWhatIsDue();
    if (m_sinceYielded.isValid() && m_sinceYielded.nsecsElapsed() < yieldIntervalNs)
        return;
    QCoreApplication::processEvents();
    m_sinceYielded.start();
}

void frmMain::waitForEvents()
{
    showWhatIsDue();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void frmMain::showWhatIsDue()
{
    // A run that yields more often than the timers can fire still shows its state every interval.
    if (m_textsDue->isActive() && m_sinceTextsShown.elapsed() >= paintIntervalMs)
        showLatestTexts();
    for (ListRows* rows : m_listRows)
        rows->flushWhenDue();
}

void frmMain::Show_Info(const QString& text)
{
    m_infoText = text;
    m_infoHeld = true;
    latestTextsDue();
}

QString frmMain::infoText() const { return m_infoText; }

void frmMain::setCaption(const QString& caption)
{
    m_heldCaption = caption;
    latestTextsDue();
}

void frmMain::setFileCounter(const QString& text)
{
    m_heldCounter = text;
    latestTextsDue();
}

void frmMain::latestTextsDue()
{
    if (!m_holdTexts)
        showLatestTexts();
    else if (!m_textsDue->isActive())
        m_textsDue->start(paintIntervalMs);
}

void frmMain::showLatestTexts()
{
    m_textsDue->stop();
    m_sinceTextsShown.start();
    QLabel* changed = nullptr;
    if (std::exchange(m_infoHeld, false)) {
        lblInfo->setText(m_infoText);
        changed = lblInfo;
    }
    if (m_heldCaption)
        setWindowTitle(*std::exchange(m_heldCaption, std::nullopt));
    if (m_heldCounter) {
        lblDLFileNum->setText(*std::exchange(m_heldCounter, std::nullopt));
        changed = lblDLFileNum;
    }
    // One repaint paints every changed label; it is held back by the throttle when the window was
    // painted a moment ago, and the latest state follows within the interval.
    if (changed)
        changed->repaint();
}

bool frmMain::event(QEvent* event)
{
    if (event->type() == QEvent::WindowBlocked)
        showLatestTexts();
    return QWidget::event(event);
}

void frmMain::setSkipEnabled(bool enabled)
{
    if (cmdSkip->isEnabled() == enabled)
        return;
    cmdSkip->setEnabled(enabled);
    cmdSkip->repaint();
}

void frmMain::appendDownloadRows(const QStringList& fileNames)
{
    // A crawl adds each page's new rows alone, never the whole list again, and while it runs the
    // rows of several pages go in at once: each insertion lays every row of the list out again.
    m_listRows[0]->appendAnew(fileNames);
}

void frmMain::selectDownloadRow(qsizetype row) { m_listRows[0]->select(row); }

ListRows* frmMain::resultRows(ResultList list) const
{
    switch (list) {
    case ResultList::Done:
        return m_listRows[1];
    case ResultList::Already:
        return m_listRows[2];
    case ResultList::Denied:
        break;
    }
    return m_listRows[3];
}

void frmMain::appendResultRow(ResultList list, const QString& fileName)
{
    resultRows(list)->append(fileName);
}

void frmMain::selectLastResultRow(ResultList list) { resultRows(list)->selectLast(); }

void frmMain::restoreAndActivate()
{
    // The run's report follows: what it sets from here on is shown at once, under its box.
    showLatestTexts();
    m_holdTexts = false;
    if (isMinimized() || isMaximized())
        showNormal();
    activateWindow();
}

QString frmMain::typedAddress() const { return txtURL->text(); }

bool frmMain::embeddedLinkSource() const { return optLinkJpg[1]->isChecked(); }

bool frmMain::skipGivenPageImages() const { return chkSkipCurrentPageJpg->isChecked(); }

bool frmMain::modernPages() const { return chkModernPages->isChecked(); }
