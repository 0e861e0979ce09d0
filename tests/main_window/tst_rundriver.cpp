// Runs through the real window against a web server on 127.0.0.1: the input checks, the three
// reading methods, Cancel, a second start inside a run, and closing the window in the middle.
#include "main_window/frmmain.h"
#include "resources/messages.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "web/connectioncache.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace {

const QByteArray jpegBytes = QByteArray::fromHex("FFD8FFE000104A464946") + QByteArray(300, 'x');

// Holds back an answer of the server until the test lets it go.
class Gate
{
public:
    void open()
    {
        if (server)
            server->release();
    }
    LoopbackServer* server = nullptr;
};

QStringList rows(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_RunDriver : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void invalidAddressIsRefused_data();
    void invalidAddressIsRefused();
    void cancelledDialogsLeaveThePreviousRun();
    void jpgListIsPickedRememberedAndDownloaded();
    void pageWithoutImages_data();
    void pageWithoutImages();
    void listOnlyRunWritesAndReportsBothFiles();
    void downloadFillsThePageFolder();
    void chosenSaveFolder_data();
    void chosenSaveFolder();
    void cancelQuestion_data();
    void cancelQuestion();
    void secondStartInsideARunIsIgnored();
    void closingInTheMiddleEndsTheProgram_data();
    void closingInTheMiddleEndsTheProgram();

private:
    QAbstractButton* button(const QString& name) const
    {
        return m_window->findChild<QAbstractButton*>(name);
    }
    QLineEdit* address() const { return m_window->findChild<QLineEdit*>(QStringLiteral("txtURL")); }
    QListWidget* list(const QString& name) const { return m_window->findChild<QListWidget*>(name); }
    QString info() const { return m_window->findChild<QLabel*>(QStringLiteral("lblInfo"))->text(); }
    bool idle() const
    {
        return button(QStringLiteral("cmdDownload"))->isEnabled()
            && !button(QStringLiteral("cmdCancel"))->isEnabled()
            && !button(QStringLiteral("cmdSkip"))->isEnabled();
    }
    void chooseMethod(int method, bool chooseSaveFolder);
    // Runs action once, from inside the run's event processing, as soon as ready() holds.
    void during(std::function<bool()> ready, std::function<void()> action);
    // Runs action on the next modal dialog that opens.
    void onModal(std::function<void(QWidget*)> action);
    // A page at /g/index.htm linking to the given files; the files answer with JPEG data unless
    // their name starts with "bad".
    QString servePage(const QStringList& links, const std::shared_ptr<Gate>& pageGate = nullptr,
        const std::shared_ptr<Gate>& imageGate = nullptr);
    QString listFile() const { return m_folder->file(QStringLiteral("DownloadList.txt")); }

    std::unique_ptr<TempProgramFolder> m_folder;
    std::unique_ptr<MessageAnswerer> m_answerer;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<frmMain> m_window;
    QList<std::shared_ptr<Gate>> m_gates;
    QList<QTimer*> m_timers;
};

void tst_RunDriver::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    initialiseCurlOnce();
}

void tst_RunDriver::init()
{
    m_folder = std::make_unique<TempProgramFolder>();
    m_answerer = std::make_unique<MessageAnswerer>();
    m_server = std::make_unique<LoopbackServer>();
    m_window = std::make_unique<frmMain>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_RunDriver::cleanup()
{
    for (const auto& gate : m_gates)
        gate->open();
    m_gates.clear();
    qDeleteAll(m_timers);
    m_timers.clear();
    // The window's connections are closed first, so the server need not wait for them to idle out.
    m_window.reset();
    m_server.reset();
    m_answerer.reset();
    m_folder.reset();
    QVERIFY(!QApplication::activeModalWidget());
}

void tst_RunDriver::chooseMethod(int method, bool chooseSaveFolder)
{
    button(QStringLiteral("optLinkMethod(%1)").arg(method))->click();
    auto* saveFolder = m_window->findChild<QCheckBox*>(QStringLiteral("chkSetSaveFolder"));
    saveFolder->setChecked(chooseSaveFolder);
}

void tst_RunDriver::during(std::function<bool()> ready, std::function<void()> action)
{
    auto* timer = new QTimer;
    m_timers.append(timer);
    timer->setInterval(5);
    connect(timer, &QTimer::timeout, this,
        [timer, ready = std::move(ready), action = std::move(action)] {
            if (!ready())
                return;
            timer->stop();
            action();
        });
    timer->start();
}

void tst_RunDriver::onModal(std::function<void(QWidget*)> action)
{
    during([] { return QApplication::activeModalWidget() != nullptr; },
        [action = std::move(action)] { action(QApplication::activeModalWidget()); });
}

QString tst_RunDriver::servePage(const QStringList& links, const std::shared_ptr<Gate>& pageGate,
    const std::shared_ptr<Gate>& imageGate)
{
    QByteArray page = "<html><body>\r\n";
    for (const QString& link : links)
        page += "<a href=\"" + link.toUtf8() + "\">" + link.toUtf8() + "</a>\r\n";
    page += "</body></html>\r\n";
    for (const auto& gate : { pageGate, imageGate }) {
        if (gate) {
            gate->server = m_server.get();
            m_gates.append(gate);
        }
    }
    const auto answer = [](const QByteArray& body, bool held) {
        const QByteArray length = "Content-Length: " + QByteArray::number(body.size());
        return LoopbackServer::Conversation { { LoopbackServer::head(200, length) + body, 0, 1,
            held, true } };
    };
    m_server->answer(QStringLiteral("/g/index.htm"), answer(page, pageGate != nullptr));
    m_server->answer(QStringLiteral("/g/bad*"), answer("<html>no</html>", imageGate != nullptr));
    m_server->answer(QStringLiteral("/g/*"), answer(jpegBytes, imageGate != nullptr));
    return m_server->url(QStringLiteral("/g/index.htm"));
}

void tst_RunDriver::invalidAddressIsRefused_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("a relative name with links then download")
        << 0 << QStringLiteral("index.htm") << false;
    QTest::newRow("a host without scheme with list only")
        << 2 << QStringLiteral("host/page.htm") << false;
    QTest::newRow("an empty box, started with Enter") << 0 << QString() << true;
    QTest::newRow("a drive path, started with Enter") << 2 << QStringLiteral("C:\\x.htm") << true;
}

void tst_RunDriver::invalidAddressIsRefused()
{
    QFETCH(int, method);
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);

    chooseMethod(method, true);
    m_window->appendDownloadRows({ QStringLiteral("previous.jpg") });
    address()->setText(typed);
    button(QStringLiteral("cmdDownload"))->setFocus();
    onModal([](QWidget* dialog) { dialog->close(); }); // no dialog may open; fail fast if one does
    if (byEnter)
        QTest::keyClick(address(), Qt::Key_Return);
    else
        button(QStringLiteral("cmdDownload"))->click();

    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().text, QStringLiteral("URLの指定が不正です"));
    QCOMPARE(m_answerer->last().title, QStringLiteral("URL指定エラー"));
    QCOMPARE(m_answerer->last().icon, MessageIcon::Critical);
    QCOMPARE(m_answerer->last().buttons, MessageButtons::Ok);
    QCOMPARE(m_window->focusWidget(), address());
    QVERIFY(idle());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pixhound"));
    QCOMPARE(
        rows(list(QStringLiteral("lstDownload"))), QStringList { QStringLiteral("previous.jpg") });
    QCOMPARE(address()->text(), typed);
    QVERIFY(!QFile::exists(listFile()));
}

void tst_RunDriver::cancelledDialogsLeaveThePreviousRun()
{
    const QString page = servePage({ QStringLiteral("a.jpg") });
    m_window->appendDownloadRows({ QStringLiteral("previous.jpg") });
    m_window->appendResultRow(ResultList::Done, QStringLiteral("previous.jpg"));
    const QString saveFolder = m_window->runState().strSaveFolder;

    // Links then download: the save-folder dialog is closed without a choice.
    chooseMethod(0, true);
    address()->setText(page);
    QString opened;
    onModal([&opened](QWidget* dialog) {
        opened = QString::fromLatin1(dialog->metaObject()->className());
        dialog->close();
    });
    m_window->cmdDownload_Click();
    QCOMPARE(opened, QStringLiteral("frmSetSaveFolder"));

    // From a JPG list, with an address box that holds no address: the open dialog is cancelled.
    chooseMethod(1, true);
    address()->setText(QStringLiteral("not an address"));
    onModal([&opened](QWidget* dialog) {
        opened = QString::fromLatin1(dialog->metaObject()->className());
        dialog->close();
    });
    m_window->cmdDownload_Click();
    QCOMPARE(opened, QStringLiteral("QFileDialog"));

    QVERIFY(m_answerer->boxes.isEmpty());
    QVERIFY(idle());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pixhound"));
    QCOMPARE(
        rows(list(QStringLiteral("lstDownload"))), QStringList { QStringLiteral("previous.jpg") });
    QCOMPARE(rows(list(QStringLiteral("lstDownloadDone"))),
        QStringList { QStringLiteral("previous.jpg") });
    QCOMPARE(m_window->runState().strSaveFolder, saveFolder);
    QVERIFY(!m_window->runState().blnSaveFolderOK);
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(!QFile::exists(listFile()));
}

void tst_RunDriver::jpgListIsPickedRememberedAndDownloaded()
{
    servePage({});
    QDir(m_folder->path()).mkdir(QStringLiteral("lists"));
    const QString listPath = m_folder->file(QStringLiteral("lists/mine.csv"));
    QFile listFile(listPath);
    QVERIFY(listFile.open(QIODevice::WriteOnly));
    listFile.write((m_server->url(QStringLiteral("/g/one.jpg")) + QStringLiteral("\r\n\r\n  ")
        + m_server->url(QStringLiteral("/g/bad.JPG")) + QStringLiteral("  \r\n"))
                       .toUtf8());
    listFile.close();
    chooseMethod(1, false);

    // The first dialog opens in the program's folder on DownloadList.txt.
    QString firstFolder;
    QStringList firstChoice;
    onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        firstFolder = dialog->directory().absolutePath();
        firstChoice = dialog->selectedFiles();
        dialog->selectFile(listPath);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    m_window->cmdDownload_Click();
    QCOMPARE(firstFolder + u'/', QDir(m_folder->path()).absolutePath() + u'/');
    QCOMPARE(firstChoice, QStringList { m_folder->file(QStringLiteral("DownloadList.txt")) });

    // Named after the list's first address, inside the program's folder.
    const QString pageFolder
        = m_folder->path() + QStringLiteral("127.0.0.1_%1_g_one.jpg/").arg(m_server->port());
    QCOMPARE(fileBytes(pageFolder + QStringLiteral("one.jpg")), jpegBytes);
    QVERIFY(!QFile::exists(pageFolder + QStringLiteral("bad.JPG")));
    QCOMPARE(
        rows(list(QStringLiteral("lstDownloadDone"))), QStringList { QStringLiteral("one.jpg") });
    QCOMPARE(
        rows(list(QStringLiteral("lstDownloadDenied"))), QStringList { QStringLiteral("bad.JPG") });
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, QStringLiteral("ダウンロード完了"));
    // No list file is written before a download from a JPG list.
    QVERIFY(!QFile::exists(this->listFile()));

    // The next dialog opens where the last choice was, on it, with every file shown.
    QString nextFolder;
    QStringList nextChoice;
    QString nextFilter;
    onModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        nextFolder = dialog->directory().absolutePath();
        nextChoice = dialog->selectedFiles();
        nextFilter = dialog->selectedNameFilter();
        dialog->reject();
    });
    m_window->cmdDownload_Click();
    QCOMPARE(nextFolder, QFileInfo(listPath).absolutePath());
    QCOMPARE(nextChoice, QStringList { listPath });
    QVERIFY2(nextFilter.startsWith(QStringLiteral("すべて")), qPrintable(nextFilter));
    QCOMPARE(m_answerer->boxes.size(), 1);
}

void tst_RunDriver::pageWithoutImages_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("embedded");
    QTest::addColumn<QString>("missing"); // a given page that answers 404 instead
    QTest::newRow("links then download tells only on the status line") << 0 << false << QString();
    QTest::newRow("list only also reports where the source is") << 2 << false << QString();
    QTest::newRow("the crawl of linked pages finds nothing either") << 2 << true << QString();
    QTest::newRow("a page that could not be read says so and names the host")
        << 2 << false << QStringLiteral("/missing.htm");
}

void tst_RunDriver::pageWithoutImages()
{
    QFETCH(int, method);
    QFETCH(bool, embedded);
    QFETCH(QString, missing);

    // The crawl's second page is held back until the test has seen the window during the crawl.
    const auto gate = embedded ? std::make_shared<Gate>() : nullptr;
    const QString page
        = servePage({ QStringLiteral("picture.png"), QStringLiteral("other.htm") }, nullptr, gate);
    bool busyMidCrawl = !embedded;
    if (gate) {
        during([this] { return m_server->requestCount(QStringLiteral("/g/other.htm")) > 0; },
            [&] { busyMidCrawl = !idle(), gate->open(); });
    }
    chooseMethod(method, false);
    button(QStringLiteral("optLinkJpg(%1)").arg(embedded ? 1 : 0))->click();
    m_window->appendDownloadRows({ QStringLiteral("previous.jpg") });
    address()->setText(missing.isEmpty() ? page : m_server->url(missing));
    m_window->cmdDownload_Click();

    if (missing.isEmpty())
        QCOMPARE(info(), QStringLiteral("ダウンロードできるファイルはありません"));
    else
        QVERIFY2(info().contains(QStringLiteral("127.0.0.1")), qPrintable(info()));
    QVERIFY(busyMidCrawl);
    QVERIFY(idle());
    QCOMPARE(list(QStringLiteral("lstDownload"))->count(), 0);
    QVERIFY(!QFile::exists(listFile()));
    if (method == 0) {
        QVERIFY(m_answerer->boxes.isEmpty());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Pixhound"));
        return;
    }
    const QString source = m_folder->file(QStringLiteral("HTMLSource.txt"));
    QVERIFY(QFile::exists(source));
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, QStringLiteral("リスト一覧作成完了"));
    QCOMPARE(m_answerer->last().icon, MessageIcon::Information);
    QCOMPARE(m_answerer->last().text,
        QStringLiteral("ダウンロードできるファイルはありません\r\n\r\n指定したHTMLのソースは\r\n")
            + source + QStringLiteral("\r\nにあります"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("完了 - Pixhound"));
}

void tst_RunDriver::listOnlyRunWritesAndReportsBothFiles()
{
    const QString page = servePage(
        { QStringLiteral("a.jpg"), QStringLiteral("sub/b.JPEG"), QStringLiteral("c.png") });
    chooseMethod(2, true);
    onModal([](QWidget* dialog) { dialog->close(); }); // no dialog may open; fail fast if one does
    // The line break of a pasted address and the fragment do not reach the page's address.
    address()->setText(page + QStringLiteral("#top\r\n"));
    m_window->cmdDownload_Click();

    QCOMPARE(address()->text(), page + QStringLiteral("#top"));
    const QString a = m_server->url(QStringLiteral("/g/a.jpg"));
    const QString b = m_server->url(QStringLiteral("/g/sub/b.JPEG"));
    QCOMPARE(fileBytes(listFile()),
        (a + QStringLiteral("\r\n") + b + QStringLiteral("\r\n")).toLatin1());
    const QString source = m_folder->file(QStringLiteral("HTMLSource.txt"));
    QVERIFY(QFile::exists(source));
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, QStringLiteral("リスト一覧作成完了"));
    QCOMPARE(m_answerer->last().text,
        QStringLiteral("ダウンロードリスト一覧を\r\n") + listFile()
            + QStringLiteral("\r\nに作成しました\r\n\r\n指定したHTMLのソースは\r\n") + source
            + QStringLiteral("\r\nにあります"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("完了 - Pixhound"));
    QVERIFY(idle());
    QCOMPARE(rows(list(QStringLiteral("lstDownload"))),
        (QStringList { QStringLiteral("a.jpg"), QStringLiteral("b.JPEG") }));
    QCOMPARE(m_server->requestCount(QStringLiteral("/g/a.jpg")), 0);
}

void tst_RunDriver::downloadFillsThePageFolder()
{
    const QString page = servePage(
        { QStringLiteral("a.jpg"), QStringLiteral("bad.jpg"), QStringLiteral("c.jpg") });
    const QString pageFolder
        = m_folder->path() + QStringLiteral("127.0.0.1_%1_g_index.htm/").arg(m_server->port());
    QVERIFY(QDir().mkpath(pageFolder));
    QFile present(pageFolder + QStringLiteral("c.jpg"));
    QVERIFY(present.open(QIODevice::WriteOnly) && present.write("kept") == 4);
    present.close();
    chooseMethod(0, false);
    address()->setText(page);
    m_window->cmdDownload_Click();

    QCOMPARE(fileBytes(pageFolder + QStringLiteral("a.jpg")), jpegBytes);
    QVERIFY(!QFile::exists(pageFolder + QStringLiteral("bad.jpg")));
    QCOMPARE(fileBytes(pageFolder + QStringLiteral("c.jpg")), QByteArray("kept"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/g/c.jpg")), 0);
    QCOMPARE(
        rows(list(QStringLiteral("lstDownloadDone"))), QStringList { QStringLiteral("a.jpg") });
    QCOMPARE(
        rows(list(QStringLiteral("lstDownloadAlready"))), QStringList { QStringLiteral("c.jpg") });
    QCOMPARE(
        rows(list(QStringLiteral("lstDownloadDenied"))), QStringList { QStringLiteral("bad.jpg") });
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().text, QStringLiteral("ダウンロード完了"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("完了 - Pixhound"));
    QCOMPARE(m_window->findChild<QLabel*>(QStringLiteral("lblDLFileNum"))->text(),
        QStringLiteral("3/3Files"));
    QCOMPARE(info(), QString());
    QVERIFY(idle());
    QVERIFY(QFile::exists(listFile()));
}

void tst_RunDriver::chosenSaveFolder_data()
{
    QTest::addColumn<QString>("folder"); // relative to the program's folder
    QTest::addColumn<bool>("usable");
    QTest::newRow("a missing folder is made and filled") << QStringLiteral("new/photos") << true;
    QTest::newRow("a folder under a file cannot be made")
        << QStringLiteral("plain.txt/photos") << false;
}

void tst_RunDriver::chosenSaveFolder()
{
    QFETCH(QString, folder);
    QFETCH(bool, usable);

    QFile plain(m_folder->file(QStringLiteral("plain.txt")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString page = servePage({ QStringLiteral("a.jpg") });
    chooseMethod(0, true);
    address()->setText(page);
    const QString target = m_folder->file(folder);
    onModal([target](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("txtFolder"))->setText(target);
        dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    m_window->cmdDownload_Click();

    QVERIFY(m_window->runState().blnSaveFolderOK);
    QCOMPARE(m_window->runState().strSaveFolder, target + u'/');
    QVERIFY(QFile::exists(listFile()));
    QVERIFY(idle());
    const MessageBoxRequest& last = m_answerer->last();
    if (usable) {
        QCOMPARE(fileBytes(target + QStringLiteral("/a.jpg")), jpegBytes);
        QCOMPARE(last.title, QStringLiteral("ダウンロード完了"));
        return;
    }
    QCOMPARE(last.text, QStringLiteral("フォルダが作成できません"));
    QCOMPARE(last.title, QStringLiteral("エラー"));
    QCOMPARE(last.icon, MessageIcon::Critical);
    QCOMPARE(info(), QStringLiteral("ダウンロードできません"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pixhound"));
    QCOMPARE(m_server->requestCount(QStringLiteral("/g/a.jpg")), 0);
}

void tst_RunDriver::cancelQuestion_data()
{
    QTest::addColumn<bool>("duringImage");
    QTest::addColumn<bool>("yes");
    QTest::newRow("No during the page fetch lets the run go on") << false << false;
    QTest::newRow("Yes during the page fetch writes no list") << false << true;
    QTest::newRow("Yes during an image download writes the list") << true << true;
}

void tst_RunDriver::cancelQuestion()
{
    QFETCH(bool, duringImage);
    QFETCH(bool, yes);

    auto gate = std::make_shared<Gate>();
    const QString page = servePage({ QStringLiteral("a.jpg"), QStringLiteral("b.jpg") },
        duringImage ? nullptr : gate, duringImage ? gate : nullptr);
    const QString waitedPath
        = duringImage ? QStringLiteral("/g/a.jpg") : QStringLiteral("/g/index.htm");
    chooseMethod(duringImage ? 0 : 2, false);
    address()->setText(page);
    m_answerer->answers = { yes ? MessageAnswer::Yes : MessageAnswer::No };

    bool asked = false;
    bool stateAfterAnswer = false;
    during([this, waitedPath] { return m_server->requestCount(waitedPath) > 0; },
        [&, this] {
            QFile::remove(listFile());
            button(QStringLiteral("cmdCancel"))->click();
            asked = m_answerer->boxes.size() == 1;
            stateAfterAnswer = yes ? idle() && m_window->runState().blnCancel
                    && info() == Msg::interrupted && m_window->windowTitle() == Msg::appName
                                   : !idle() && !m_window->runState().blnCancel
                    && m_window->windowTitle() != Msg::appName;
            gate->open();
        });
    m_window->cmdDownload_Click();

    QVERIFY(asked);
    QVERIFY(stateAfterAnswer);
    const MessageBoxRequest question = m_answerer->boxes.first();
    QCOMPARE(question.text, QStringLiteral("ダウンロードを中止しますか？"));
    QCOMPARE(question.title, QStringLiteral("キャンセル確認"));
    QCOMPARE(question.icon, MessageIcon::Question);
    QCOMPARE(question.buttons, MessageButtons::YesNo);
    QCOMPARE(question.defaultButton, MessageAnswer::No);
    QVERIFY(idle());
    if (!yes) {
        // The run went on to its report.
        QCOMPARE(m_answerer->boxes.size(), 2);
        QCOMPARE(m_answerer->last().title, QStringLiteral("リスト一覧作成完了"));
        return;
    }
    // Nothing is added after the cancel: no box, no other status, no image written.
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(info(), QStringLiteral("処理を中断しました"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Pixhound"));
    QCOMPARE(QFile::exists(listFile()), duringImage);
    QCOMPARE(list(QStringLiteral("lstDownloadDone"))->count(), 0);
}

void tst_RunDriver::secondStartInsideARunIsIgnored()
{
    auto gate = std::make_shared<Gate>();
    const QString page = servePage({ QStringLiteral("a.jpg") }, gate);
    chooseMethod(2, false);
    address()->setText(page);
    m_answerer->answers = { MessageAnswer::Yes };

    during([this] { return m_server->requestCount(QStringLiteral("/g/index.htm")) > 0; },
        [&, this] {
            QTest::keyClick(address(), Qt::Key_Return);
            QTest::keyClick(address(), Qt::Key_Enter);
            button(QStringLiteral("cmdDownload"))->click();
            m_window->txtURL_KeyPress(13);
            // Cancel makes the window idle while the run below still unwinds: Download is
            // available again, yet no run may start inside the old one.
            button(QStringLiteral("cmdCancel"))->click();
            QTest::keyClick(address(), Qt::Key_Return);
            button(QStringLiteral("cmdDownload"))->click();
            gate->open();
        });
    m_window->cmdDownload_Click();

    QCOMPARE(m_server->requestCount(QStringLiteral("/g/index.htm")), 1);
    QCOMPARE(m_answerer->boxes.size(), 1); // the cancel question, nothing else
    QCOMPARE(info(), QStringLiteral("処理を中断しました"));

    // Once the run is over, Enter starts the next one.
    QTest::keyClick(address(), Qt::Key_Return);
    QTRY_COMPARE(m_server->requestCount(QStringLiteral("/g/index.htm")), 2);
    QVERIFY(idle());
}

void tst_RunDriver::closingInTheMiddleEndsTheProgram_data()
{
    QTest::addColumn<bool>("duringImage");
    QTest::newRow("during the page fetch, with an empty list") << false;
    QTest::newRow("during an image download, with a list") << true;
}

void tst_RunDriver::closingInTheMiddleEndsTheProgram()
{
    QFETCH(bool, duringImage);

    auto gate = std::make_shared<Gate>();
    const QString page = servePage({ QStringLiteral("a.jpg"), QStringLiteral("b.jpg") },
        duringImage ? nullptr : gate, duringImage ? gate : nullptr);
    const QString waitedPath
        = duringImage ? QStringLiteral("/g/a.jpg") : QStringLiteral("/g/index.htm");
    chooseMethod(0, false);
    address()->setText(page);

    bool runReturned = false;
    QTimer::singleShot(0, m_window.get(), [&, this] {
        m_window->cmdDownload_Click();
        runReturned = true;
    });
    during([this, waitedPath] { return m_server->requestCount(waitedPath) > 0; },
        [this] {
            QFile::remove(listFile());
            m_window->close();
        });
    // The program's own event loop, as main() runs it; the guard only ends a hanging test.
    QTimer guard;
    guard.callOnTimeout(qApp, [] { QCoreApplication::exit(99); });
    guard.start(20000);
    QCOMPARE(QApplication::exec(), 0);
    gate->open();

    QVERIFY(runReturned);
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_window->runState().blnCancel);
    QVERIFY(m_answerer->boxes.isEmpty());
    QCOMPARE(QFile::exists(listFile()), duringImage);
}

QTEST_MAIN(tst_RunDriver)
#include "tst_rundriver.moc"
