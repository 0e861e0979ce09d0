// The main window: its controls, start-up, idle and busy states, and closing.
#include "main_window/frmmain.h"

#include "dialogs/dialoglayout.h"
#include "dialogs/frmver.h"
#include "dialogs/help.h"
#include "main_window/captionfit.h"
#include "main_window/listbox.h"
#include "main_window/paintthrottle.h"
#include "main_window/listrows.h"
#include "main_window/startaddress.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/downloadlist.h"
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

#include <algorithm>
#include <type_traits>

namespace {

const QString designFamily = QStringLiteral("ＭＳ Ｐゴシック");

// Client area of the window, in twips.
constexpr int formWidthTwips = 8235;
constexpr int formHeightTwips = 8460;

template <typename Widget>
Widget* makeControl(QWidget* parent, const QString& name, const QString& caption = QString())
{
    auto* widget = new Widget(parent);
    widget->setObjectName(name);
    if constexpr (!std::is_same_v<Widget, QWidget>) {
        if (!caption.isEmpty())
            widget->setText(caption);
    }
    return widget;
}

QListWidget* makeList(QWidget* parent, const QString& name)
{
    auto* list = new ListBox(parent);
    list->setObjectName(name);
    // A list of a hundred thousand files must fill and scroll without measuring every row.
    list->setUniformItemSizes(true);
    QPalette grey = list->palette();
    grey.setColor(QPalette::Base, QColor(192, 192, 192));
    list->setPalette(grey);
    return list;
}

} // namespace

frmMain::frmMain(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(Msg::appName);
    setFont(windowsFont(designFamily, 9));
    createControls();
    placeControls();
    m_paintThrottle = new PaintThrottle(this, paintIntervalMs);
    m_listRows = { new ListRows(lstDownload, paintIntervalMs),
        new ListRows(lstDownloadDone, paintIntervalMs),
        new ListRows(lstDownloadAlready, paintIntervalMs),
        new ListRows(lstDownloadDenied, paintIntervalMs) };
    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    Label4 = makeControl<QLabel>(this, QStringLiteral("Label4"), Msg::appName);
    Label4->setFont(windowsFont(designFamily, 18, true));
    QPalette darkBlue = Label4->palette();
    darkBlue.setColor(QPalette::WindowText, QColor(0, 0, 128));
    Label4->setPalette(darkBlue);

    const QFont buttonFont = windowsFont(designFamily, 9, true);
    cmdDownload
        = makeControl<QPushButton>(this, QStringLiteral("cmdDownload"), QStringLiteral("Download"));
    cmdSkip = makeControl<QPushButton>(this, QStringLiteral("cmdSkip"), QStringLiteral("Skip"));
    cmdCancel
        = makeControl<QPushButton>(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"));
    for (QPushButton* button : { cmdDownload, cmdSkip, cmdCancel })
        button->setFont(buttonFont);

    chkSetSaveFolder = makeControl<QCheckBox>(
        this, QStringLiteral("chkSetSaveFolder"), QStringLiteral("保存先フォルダを指定する"));
    chkSetSaveFolder->setChecked(true);
    Label1 = makeControl<QLabel>(this, QStringLiteral("Label1"), QStringLiteral("URL:"));
    txtURL = makeControl<QLineEdit>(this, QStringLiteral("txtURL"), QStringLiteral("http://"));
    cmdHelp = makeControl<QPushButton>(this, QStringLiteral("cmdHelp"), QStringLiteral("?"));
    cmdAbout = makeControl<QPushButton>(this, QStringLiteral("cmdAbout"), QStringLiteral("..."));

    optLinkJpg[0] = makeControl<QRadioButton>(this, QStringLiteral("optLinkJpg(0)"),
        QStringLiteral("指定したページからリンクしているjpgファイルを読み込む"));
    optLinkJpg[1] = makeControl<QRadioButton>(this, QStringLiteral("optLinkJpg(1)"),
        QStringLiteral(
            "指定したページからリンクしているHTMLファイルに埋め込まれているjpgファイルを読み込む"));
    chkSkipCurrentPageJpg = makeControl<QCheckBox>(this, QStringLiteral("chkSkipCurrentPageJpg"),
        QStringLiteral("指定ページに埋め込まれているjpgファイルは読み込まない"));

    Label2
        = makeControl<QLabel>(this, QStringLiteral("Label2"), QStringLiteral("ダウンロードリスト"));
    lstDownload = makeList(this, QStringLiteral("lstDownload"));
    Label3 = makeControl<QLabel>(
        this, QStringLiteral("Label3"), QStringLiteral("ダウンロード済みリスト"));
    lstDownloadDone = makeList(this, QStringLiteral("lstDownloadDone"));
    Label5 = makeControl<QLabel>(
        this, QStringLiteral("Label5"), QStringLiteral("既にダウンロードされていたリスト"));
    lstDownloadAlready = makeList(this, QStringLiteral("lstDownloadAlready"));
    Label6 = makeControl<QLabel>(
        this, QStringLiteral("Label6"), QStringLiteral("読込拒否されたリスト"));
    lstDownloadDenied = makeList(this, QStringLiteral("lstDownloadDenied"));

    // A frame without a border: its caption "読込方法" is never drawn.
    fraLinkMethod = makeControl<QWidget>(this, QStringLiteral("fraLinkMethod"));
    fraLinkMethod->setAccessibleName(QStringLiteral("読込方法"));
    optLinkMethod[0] = makeControl<QRadioButton>(fraLinkMethod, QStringLiteral("optLinkMethod(0)"),
        QStringLiteral("リンク取得後ダウンロード"));
    optLinkMethod[1] = makeControl<QRadioButton>(fraLinkMethod, QStringLiteral("optLinkMethod(1)"),
        QStringLiteral("jpgリストから直接ダウンロード"));
    optLinkMethod[2] = makeControl<QRadioButton>(
        fraLinkMethod, QStringLiteral("optLinkMethod(2)"), QStringLiteral("jpgリストのみ作成"));

    lblInfo = makeControl<QLabel>(this, QStringLiteral("lblInfo"));
    lblDLFileNum = makeControl<QLabel>(this, QStringLiteral("lblDLFileNum"));
    // Captions sit at the top of their boxes, so that labels of different heights line up.
    for (QLabel* label : { Label1, Label2, Label3, Label4, Label5, Label6, lblInfo, lblDLFileNum })
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // A screen reader names the address box and the lists after the captions beside them.
    const std::pair<QLabel*, QWidget*> captioned[]
        = { { Label1, txtURL }, { Label2, lstDownload }, { Label3, lstDownloadDone },
              { Label5, lstDownloadAlready }, { Label6, lstDownloadDenied } };
    for (const auto& [label, widget] : captioned) {
        label->setBuddy(widget);
        widget->setAccessibleName(label->text());
    }

    m_linkJpgGroup = new QButtonGroup(this);
    m_linkMethodGroup = new QButtonGroup(this);
    for (int i = 0; i < int(optLinkJpg.size()); ++i)
        m_linkJpgGroup->addButton(optLinkJpg[i], i);
    for (int i = 0; i < int(optLinkMethod.size()); ++i)
        m_linkMethodGroup->addButton(optLinkMethod[i], i);
    optLinkJpg[0]->setChecked(true);
    optLinkMethod[0]->setChecked(true);

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
        cmdAbout, optLinkJpg[0], optLinkJpg[1], chkSkipCurrentPageJpg, lstDownload, lstDownloadDone,
        lstDownloadAlready, lstDownloadDenied, optLinkMethod[0], optLinkMethod[1],
        optLinkMethod[2] };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtURL->setFocus();
}

void frmMain::placeControls()
{
    const QSize client = twipsRect(this, 0, 0, formWidthTwips, formHeightTwips).size();
    const int margin = twipsToPixels(240, this);
    const int rightLimit = client.width() - margin;
    auto place = [this](QWidget* widget, int left, int top, int width, int height) {
        widget->setGeometry(twipsRect(this, left, top, width, height));
    };

    place(Label4, 240, 240, 1695, 375);
    place(cmdDownload, 4800, 360, 1095, 375);
    place(cmdSkip, 5880, 360, 1095, 375);
    place(cmdCancel, 6960, 360, 1095, 375);
    place(chkSetSaveFolder, 2040, 480, 2415, 180);
    place(Label1, 210, 855, 885, 255);
    place(txtURL, 720, 840, 7335, 345);
    place(cmdHelp, 7560, 1200, 255, 255);
    place(cmdAbout, 7800, 1200, 255, 255);
    place(optLinkJpg[0], 720, 1320, 4695, 255);
    place(optLinkJpg[1], 720, 1560, 7215, 375);
    place(chkSkipCurrentPageJpg, 960, 1920, 5535, 180);
    place(Label2, 240, 2400, 1440, 165);
    place(lstDownload, 240, 2640, 3780, 5100);
    place(Label3, 4200, 2400, 1785, 165);
    place(lstDownloadDone, 4200, 2640, 3765, 1500);
    place(Label5, 4200, 4200, 3105, 165);
    place(lstDownloadAlready, 4200, 4440, 3765, 1500);
    place(Label6, 4200, 6000, 3105, 165);
    place(lstDownloadDenied, 4200, 6240, 3765, 1500);
    place(fraLinkMethod, 240, 7800, 7935, 255);
    place(lblInfo, 360, 8160, 6540, 255);
    place(lblDLFileNum, 6840, 8160, 1215, 375);

    // The design's font is narrower than the fonts found elsewhere: captions grow into free
    // room, never over a neighbour.
    fitCaption(Label4, chkSetSaveFolder->x());
    fitCaption(chkSetSaveFolder, cmdDownload->x());
    fitCaption(Label1, txtURL->x());
    fitCaption(optLinkJpg[0], cmdHelp->x());
    for (QWidget* caption : { static_cast<QWidget*>(optLinkJpg[1]),
             static_cast<QWidget*>(chkSkipCurrentPageJpg), static_cast<QWidget*>(Label3),
             static_cast<QWidget*>(Label5), static_cast<QWidget*>(Label6) })
        fitCaption(caption, rightLimit);
    fitCaption(Label2, Label3->x());

    // The three reading methods share one row: each starts where the one before it ends.
    const QRect frame = fraLinkMethod->geometry();
    const int twipsLefts[] = { 0, 2280, 4920 };
    const int twipsWidths[] = { 2295, 2655, 1815 };
    int nextLeft = 0;
    int top = 0;
    int bottom = frame.height();
    for (std::size_t i = 0; i < optLinkMethod.size(); ++i) {
        QRect button = twipsRect(fraLinkMethod, twipsLefts[i], 0, twipsWidths[i], 255);
        button.moveLeft(qMax(button.left(), nextLeft));
        optLinkMethod[i]->setGeometry(button);
        fitCaption(optLinkMethod[i], frame.width());
        nextLeft = optLinkMethod[i]->geometry().right() + 1;
        top = qMin(top, optLinkMethod[i]->y());
        bottom = qMax(bottom, optLinkMethod[i]->geometry().bottom() + 1);
    }
    // A frame clips its children: it grows with them, around its centre.
    if (top < 0 || bottom > frame.height()) {
        fraLinkMethod->setGeometry(frame.adjusted(0, top, 0, bottom - frame.height()));
        for (QRadioButton* button : optLinkMethod)
            button->move(button->x(), button->y() - top);
    }
    fitCaption(lblInfo, lblDLFileNum->x());
    fitCaption(lblDLFileNum, client.width());
    // The counter's design runs past the bottom edge, where nothing could be seen anyway.
    lblDLFileNum->setGeometry(lblDLFileNum->geometry().intersected(QRect(QPoint(0, 0), client)));
    separateSiblings(this);

    // The window keeps its design size; dragging its border changes nothing.
    setFixedSize(client);
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

void frmMain::setControls(bool idle)
{
    if (idle) {
        cmdDownload->setEnabled(true);
        cmdCancel->setEnabled(false);
        cmdSkip->setEnabled(false);
        txtURL->setEnabled(true);
        chkSetSaveFolder->setEnabled(
            optLinkMethod[0]->isChecked() || optLinkMethod[1]->isChecked());
        for (QRadioButton* button : optLinkJpg)
            button->setEnabled(true);
        chkSkipCurrentPageJpg->setEnabled(!optLinkJpg[0]->isChecked());
        for (QRadioButton* button : optLinkMethod)
            button->setEnabled(true);
        if (const int method = linkMethod(); method >= 0)
            optLinkMethod_Click(method);
    } else {
        cmdDownload->setEnabled(false);
        cmdCancel->setEnabled(true);
        cmdSkip->setEnabled(false);
        txtURL->setEnabled(false);
        chkSetSaveFolder->setEnabled(false);
        for (QRadioButton* button : optLinkJpg)
            button->setEnabled(false);
        chkSkipCurrentPageJpg->setEnabled(false);
        for (QRadioButton* button : optLinkMethod)
            button->setEnabled(false);
    }
    // The caller may keep the thread busy for a while before it yields again.
    // A run updates the lists in batches; an idle window shows every change at once.
    for (ListRows* rows : m_listRows)
        rows->setBatching(!idle);
    const PaintThrottle::Immediate now(m_paintThrottle);
    cmdDownload->repaint();
    cmdCancel->repaint();
    cmdSkip->repaint();
}

void frmMain::optLinkMethod_Click(int Index)
{
    switch (Index) {
    case 0:
    case 2:
        txtURL->setEnabled(true);
        for (QRadioButton* button : optLinkJpg)
            button->setEnabled(true);
        if (const int source = linkJpgIndex(); source >= 0)
            optLinkJpg_Click(source);
        chkSetSaveFolder->setEnabled(Index == 0);
        break;
    case 1:
        txtURL->setEnabled(false);
        for (QRadioButton* button : optLinkJpg)
            button->setEnabled(false);
        chkSkipCurrentPageJpg->setEnabled(false);
        chkSetSaveFolder->setEnabled(true);
        break;
    default:
        break;
    }
}

void frmMain::optLinkJpg_Click(int Index)
{
    if (Index == 0)
        chkSkipCurrentPageJpg->setEnabled(false);
    else if (Index == 1)
        chkSkipCurrentPageJpg->setEnabled(true);
}

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
    closeFetchHandles(m_state);
    if (m_state.lngDownloadMax() != -1)
        writeListAtClose(*this);
    // A run under way sits lower on this stack, inside a yield: it sees the flag as soon as the
    // yield returns and unwinds, and the window is destroyed only after the event loop has ended.
    m_state.blnCancel = true;
    m_closed = true;
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
    for (ListRows* rows : m_listRows)
        rows->flushWhenDue();
    QCoreApplication::processEvents();
}

void frmMain::showInfo(const QString& text)
{
    lblInfo->setText(text);
    // Held back by the throttle when the window was painted a moment ago; the latest text follows
    // within the interval.
    lblInfo->repaint();
}

QString frmMain::infoText() const { return lblInfo->text(); }

void frmMain::setCaption(const QString& caption) { setWindowTitle(caption); }

void frmMain::setFileCounter(const QString& text)
{
    lblDLFileNum->setText(text);
    lblDLFileNum->repaint();
}

void frmMain::setSkipEnabled(bool enabled)
{
    if (cmdSkip->isEnabled() == enabled)
        return;
    cmdSkip->setEnabled(enabled);
    cmdSkip->repaint();
}

void frmMain::fillDownloadRows(const QStringList& fileNames)
{
    // A crawl only ever appends to the list; adding the new rows alone keeps a large crawl from
    // inserting every row again for every page. The list then looks as if it had been refilled.
    m_listRows[0]->flush();
    const int shown = lstDownload->count();
    // Reading every row back from the view costs more than the rest; the names last filled in
    // stand for the rows as long as nothing else has changed their number (a run empties them).
    if (m_downloadNames.size() != shown) {
        m_downloadNames.clear();
        for (int row = 0; row < shown; ++row)
            m_downloadNames.append(lstDownload->item(row)->text());
    }
    const bool extends = shown <= fileNames.size()
        && std::equal(m_downloadNames.cbegin(), m_downloadNames.cend(), fileNames.cbegin());
    m_downloadNames = fileNames;
    lstDownload->setUpdatesEnabled(false);
    if (extends) {
        lstDownload->selectionModel()->clear();
        lstDownload->addItems(fileNames.mid(shown));
        lstDownload->scrollToTop();
    } else {
        lstDownload->clear();
        lstDownload->addItems(fileNames);
    }
    lstDownload->setUpdatesEnabled(true);
    lstDownload->repaint();
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
    if (isMinimized() || isMaximized())
        showNormal();
    activateWindow();
}

QString frmMain::typedAddress() const { return txtURL->text(); }

bool frmMain::embeddedLinkSource() const { return optLinkJpg[1]->isChecked(); }

bool frmMain::skipGivenPageImages() const { return chkSkipCurrentPageJpg->isChecked(); }
