// The About box.
#include "dialogs/frmver.h"

#include "dialogs/help.h"
#include "resources/aboutinfo.h"
#include "resources/resourceinit.h"
#include "ui/controltable.h"

#include <QDir>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

using namespace Qt::StringLiterals;

namespace {

const QColor darkBlue(0, 0, 128);
const QColor linkBlue(0, 0, 255);

// A label that runs an action when the left button is released over it; other buttons do nothing.
// Tab reaches it too, and Space or Enter then runs the action, as on a link in a browser.
class LinkLabel : public QLabel
{
public:
    LinkLabel(QWidget* parent, void (*action)())
        : QLabel(parent)
        , m_action(action)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_action();
        QLabel::mouseReleaseEvent(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            m_action();
            event->accept();
            return;
        default:
            QLabel::keyPressEvent(event);
        }
    }

    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (!hasFocus())
            return;
        // A label draws no focus of its own; without this the user cannot see where Tab went.
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = contentsRect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }

private:
    void (*m_action)();
};

// The program's home is its own documents, installed with it: no address on the web is promised.
void Open_HomePage() { openDocument(helpPagePath(), About::caption); }

void Open_Readme() { openDocument(readmePath(), About::caption); }

QWidget* makeLink(QWidget* parent, void (*action)(), const QString& path)
{
    auto* link = new LinkLabel(parent, action);
    link->setToolTip(QDir::toNativeSeparators(path));
    return link;
}

QWidget* makeHomePageLink(QWidget* parent)
{
    return makeLink(parent, Open_HomePage, helpPagePath());
}

QWidget* makeReadmeLink(QWidget* parent) { return makeLink(parent, Open_Readme, readmePath()); }

} // namespace

FrmVer::FrmVer(QWidget* parent)
    : QDialog(parent)
{
    initPixhoundResources();
    setWindowTitle(About::caption);
    setWindowIcon(QIcon(About::iconResource));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    using K = ControlKind;
    using Row = ControlRow;
    const ControlFont gothicBold { Typeface::Gothic, 11.25, true };
    QLabel* lblURL = nullptr;
    QLabel* lblMail = nullptr;
    QPushButton* cmdOk = nullptr;
    // clang-format off
    buildForm(this, FormDesign { 5040, 3300 }, {
        Row({}, K::Label, "Label5", About::description1, { 240, 240, 4455, 255 })
            .font(gothicBold).textColor(darkBlue).fitsFreely(),
        Row({}, K::Label, "Label4", About::description2, { 240, 480, 4455, 255 })
            .font(gothicBold).textColor(darkBlue).fitsFreely(),
        Row({}, K::Image, "Image1", About::iconResource, { 480, 840, 1395, 915 })
            .accessibleName(About::programName),
        Row({}, K::Label, "Label1", About::programName, { 2040, 960, 1575, 375 })
            .font({ Typeface::Gothic, 18, true }).textColor(darkBlue).fitsFreely(),
        Row({}, K::Label, "Label3", About::version, { 3720, 1080, 975, 255 })
            .font({ Typeface::PGothic, 11.25, true }).fitsFreely(),
        Row({}, K::Label, "Label2", About::creditLine, { 2280, 1440, 2415, 255 })
            .font({ Typeface::PGothic, 12, true }).fitsFreely(),
        Row(keepIn(lblURL), K::Label, "lblURL", About::homePageLink, { 480, 2160, 4095, 255 })
            .font({ Typeface::PGothic, 9, false, true }).textColor(linkBlue).fitsFreely()
            .madeBy(makeHomePageLink),
        Row(keepIn(lblMail), K::Label, "lblMail", About::readmeLink, { 480, 2400, 2775, 255 })
            .textColor(linkBlue).fitsFreely()
            .madeBy(makeReadmeLink),
        Row(keepIn(cmdOk), K::CommandButton, "CmdOk", u"OK"_s, { 3600, 2640, 1215, 495 })
            .font({ Typeface::TimesNewRoman, 12, true }),
    });
    // clang-format on

    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);

    // Enter closes the box at once; Tab then visits the two links.
    setTabOrder(lblURL, lblMail);
    setTabOrder(lblMail, cmdOk);
    cmdOk->setFocus();
}

FrmVer::~FrmVer() = default;

void FrmVer::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    activateWindow();
}
