// The About box.
#include "dialogs/frmver.h"

#include "dialogs/dialoglayout.h"
#include "resources/aboutinfo.h"
#include "resources/resourceinit.h"

#include <QDesktopServices>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QUrl>
#include <functional>

namespace {

const QColor darkBlue(0, 0, 128);
const QColor linkBlue(0, 0, 255);

// A label that runs an action when the left button is released over it; other buttons do nothing.
// Tab reaches it too, and Space or Enter then runs the action, as on a link in a browser.
class LinkLabel : public QLabel
{
public:
    LinkLabel(const QString& text, QWidget* parent, std::function<void()> action)
        : QLabel(text, parent)
        , m_action(std::move(action))
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
    std::function<void()> m_action;
};

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// Opening an address is a courtesy: when no browser or mail program answers, nothing happens.
void Open_HomePage() { QDesktopServices::openUrl(QUrl(About::homePage)); }

void Open_MailTo() { QDesktopServices::openUrl(QUrl(u"mailto:" + About::mailAddress)); }

} // namespace

FrmVer::FrmVer(QWidget* parent)
    : QDialog(parent)
{
    initPixhoundResources();
    setWindowTitle(About::caption);
    setWindowIcon(QIcon(About::iconResource));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
        | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowsFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));
    setFixedSize(twipsToPixels(5040, this), twipsToPixels(3300, this));

    const QString gothic = QStringLiteral("ＭＳ ゴシック");
    const QString pGothic = QStringLiteral("ＭＳ Ｐゴシック");
    const auto addLabel
        = [this](const char* name, const QString& text, const QFont& font, const QRect& geometry) {
              auto* label = new QLabel(text, this);
              label->setObjectName(QLatin1String(name));
              label->setFont(font);
              label->setGeometry(geometry);
              fitLabelToText(label);
              return label;
          };

    setTextColor(addLabel("Label5", About::description1, windowsFont(gothic, 11.25, true),
                     twipsRect(this, 240, 240, 4455, 255)),
        darkBlue);
    setTextColor(addLabel("Label4", About::description2, windowsFont(gothic, 11.25, true),
                     twipsRect(this, 240, 480, 4455, 255)),
        darkBlue);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(twipsRect(this, 480, 840, 1395, 915));
    image->setAlignment(Qt::AlignCenter);
    const int side = qMin(image->width(), image->height());
    image->setPixmap(QIcon(About::iconResource).pixmap(QSize(side, side), devicePixelRatioF()));
    image->setAccessibleName(About::programName);

    setTextColor(addLabel("Label1", About::programName, windowsFont(gothic, 18, true),
                     twipsRect(this, 2040, 960, 1575, 375)),
        darkBlue);
    addLabel("Label3", About::version, windowsFont(pGothic, 11.25, true),
        twipsRect(this, 3720, 1080, 975, 255));
    addLabel("Label2", About::creditLine, windowsFont(pGothic, 12, true),
        twipsRect(this, 2280, 1440, 2415, 255));

    auto* lblURL = new LinkLabel(About::homePage, this, Open_HomePage);
    lblURL->setObjectName(QStringLiteral("lblURL"));
    QFont urlFont = windowsFont(pGothic, 9);
    urlFont.setUnderline(true);
    lblURL->setFont(urlFont);
    setTextColor(lblURL, linkBlue);
    lblURL->setGeometry(twipsRect(this, 480, 2160, 4095, 255));
    fitLabelToText(lblURL);

    auto* lblMail = new LinkLabel(About::mailAddress, this, Open_MailTo);
    lblMail->setObjectName(QStringLiteral("lblMail"));
    setTextColor(lblMail, linkBlue);
    lblMail->setGeometry(twipsRect(this, 480, 2400, 2775, 255));
    fitLabelToText(lblMail);

    auto* cmdOk = new QPushButton(QStringLiteral("OK"), this);
    cmdOk->setObjectName(QStringLiteral("CmdOk"));
    cmdOk->setFont(windowsFont(QStringLiteral("Times New Roman"), 12, true));
    cmdOk->setGeometry(twipsRect(this, 3600, 2640, 1215, 495));
    cmdOk->setDefault(true);
    connect(cmdOk, &QPushButton::clicked, this, &QDialog::accept);

    // Enter closes the box at once; Tab then visits the two links.
    setTabOrder(lblURL, lblMail);
    setTabOrder(lblMail, cmdOk);
    cmdOk->setFocus();
    separateSiblings(this);
}

FrmVer::~FrmVer() = default;

void FrmVer::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    activateWindow();
}
