// The About box (its texts, the left-click-only links, the ways it closes) and the help page.
#include "dialogs/dialogtesting.h"
#include "dialogs/frmver.h"
#include "dialogs/help.h"
#include "resources/aboutinfo.h"

#include <QDesktopServices>
#include <QLabel>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

// Stands in for the browser and the mail program: records every address handed to them.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class tst_FrmVer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_opened.urls.clear(); }
    void cleanup() { QVERIFY(noWindowOpen()); }
    void showsItsTextsWhole();
    void clicks_data();
    void clicks();
    void helpOpensTheShippedPageFreshEachTime();

private:
    OpenedUrls m_opened;
};

void tst_FrmVer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    for (const QString& scheme : { u"https"_s, u"mailto"_s, u"file"_s })
        QDesktopServices::setUrlHandler(scheme, &m_opened, "open");
}

void tst_FrmVer::cleanupTestCase()
{
    for (const QString& scheme : { u"https"_s, u"mailto"_s, u"file"_s })
        QDesktopServices::unsetUrlHandler(scheme);
}

void tst_FrmVer::showsItsTextsWhole()
{
    FrmVer box;
    QCOMPARE(box.windowTitle(), u"バージョン情報"_s);
    QVERIFY(!box.windowIcon().isNull());
    QVERIFY(!box.findChild<QLabel*>(u"Image1"_s)->pixmap().isNull());
    const QList<QPair<QString, QString>> texts {
        { u"Label5"_s, u"インターネットＪＰＧ／ＪＰＥＧ画像"_s },
        { u"Label4"_s, u"自動収集ソフト"_s },
        { u"Label1"_s, u"Pixhound"_s },
        { u"Label3"_s, u"Ver.3.1"_s },
        { u"Label2"_s, About::creditLine },
        { u"lblURL"_s, About::homePage },
        { u"lblMail"_s, About::mailAddress },
        { u"CmdOk"_s, u"OK"_s },
    };
    QStringList names;
    for (const auto& [name, text] : texts) {
        QCOMPARE(box.findChild<QWidget*>(name)->property("text").toString(), text);
        names.append(name);
    }
    QCOMPARE(firstMangledText(&box, names), QString());
}

void tst_FrmVer::clicks_data()
{
    QTest::addColumn<QString>("control"); // empty: the close box
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<QUrl>>("opened");

    const QList<QUrl> none;
    QTest::newRow("a left click on the address opens the home page")
        << u"lblURL"_s << Qt::LeftButton
        << QList<QUrl> { QUrl(u"https://pixhound.example.org/"_s) };
    QTest::newRow("a right click on the address does nothing")
        << u"lblURL"_s << Qt::RightButton << none;
    QTest::newRow("a left click on the mail address starts a mail")
        << u"lblMail"_s << Qt::LeftButton << QList<QUrl> { QUrl(u"mailto:pixhound@example.org"_s) };
    QTest::newRow("a middle click on the mail address does nothing")
        << u"lblMail"_s << Qt::MiddleButton << none;
    QTest::newRow("OK closes the box") << u"CmdOk"_s << Qt::LeftButton << none;
    QTest::newRow("the close box closes it like OK") << QString() << Qt::NoButton << none;
}

void tst_FrmVer::clicks()
{
    QFETCH(QString, control);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<QUrl>, opened);

    bool stayedOpen = false;
    FrmVer box;
    whenModal([&](QWidget* modal) {
        if (control.isEmpty())
            modal->close();
        else
            QTest::mouseClick(modal->findChild<QWidget*>(control), button);
        stayedOpen = modal->isVisible();
        modal->hide();
    });
    box.exec();
    QCOMPARE(m_opened.urls, opened);
    QCOMPARE(stayedOpen, control.startsWith(u"lbl"));
}

void tst_FrmVer::helpOpensTheShippedPageFreshEachTime()
{
    openHelp();
    QCOMPARE(m_opened.urls.size(), 1);
    QFile page(m_opened.urls.first().toLocalFile());
    QFile shipped(About::helpResource);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray content = shipped.readAll();
    for (const char* topic : { "<meta charset=\"utf-8\">", "DownloadList.txt", "HTMLSource.txt" })
        QVERIFY2(content.contains(topic), topic);

    // A page left by an older copy of the program is replaced, not shown.
    QVERIFY(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
    page.write("old page");
    page.close();
    openHelp();
    QCOMPARE(m_opened.urls, QList<QUrl>({ m_opened.urls.first(), m_opened.urls.first() }));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QCOMPARE(page.readAll(), content);
    page.remove();
}

QTEST_MAIN(tst_FrmVer)
#include "tst_frmver.moc"
