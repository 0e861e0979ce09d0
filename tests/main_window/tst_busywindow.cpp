// The main window while a run keeps it busy: painting held back and list changes made in batches
// must still leave on screen exactly what the run did last.
#include "main_window/frmmain.h"
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Records the text a label had each time it was painted.
class PaintedText : public QObject
{
public:
    explicit PaintedText(QLabel* label)
        : m_label(label)
    {
        label->installEventFilter(this);
    }
    QString last() const { return m_painted.isEmpty() ? QString() : m_painted.last(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint)
            m_painted.append(m_label->text());
        return false;
    }

private:
    QLabel* m_label;
    QStringList m_painted;
};

QListWidget* list(const frmMain& window, const QString& name)
{
    return window.findChild<QListWidget*>(name);
}

QStringList rows(const QListWidget* box)
{
    QStringList texts;
    for (int row = 0; row < box->count(); ++row)
        texts.append(box->item(row)->text());
    return texts;
}

QList<int> selectedRows(const QListWidget* box)
{
    QList<int> selected;
    for (int row = 0; row < box->count(); ++row) {
        if (box->item(row)->isSelected())
            selected.append(row);
    }
    return selected;
}

// One step of a run on the lists: "d:name" files name as Done, "a:" Already, "x:" Denied,
// "D" / "A" / "X" select the last row of that list, "r:k" selects row k of lstDownload.
void apply(RunHost& host, const QString& step)
{
    static const QHash<QChar, ResultList> lists { { u'd', ResultList::Done },
        { u'a', ResultList::Already }, { u'x', ResultList::Denied } };
    if (step.startsWith(u"r:"))
        host.selectDownloadRow(step.mid(2).toInt());
    else if (step.size() == 1)
        host.selectLastResultRow(lists.value(step.at(0).toLower()));
    else
        host.appendResultRow(lists.value(step.at(0)), step.mid(2));
}

struct ListsSeen
{
    QList<QStringList> rows;
    QList<QList<int>> selected;
    bool operator==(const ListsSeen&) const = default;
};

ListsSeen seen(const frmMain& window)
{
    ListsSeen lists;
    for (const QString& name : { u"lstDownload"_s, u"lstDownloadDone"_s, u"lstDownloadAlready"_s,
             u"lstDownloadDenied"_s }) {
        lists.rows.append(rows(list(window, name)));
        lists.selected.append(selectedRows(list(window, name)));
    }
    return lists;
}

} // namespace

class tst_BusyWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void latestTextsArePainted_data();
    void latestTextsArePainted();
    void listsEndAsIfChangedAtOnce_data();
    void listsEndAsIfChangedAtOnce();
    void rowsShowWhileTheRunIsBusy();
    void growingDownloadListKeepsRowKAsEntryK_data();
    void growingDownloadListKeepsRowKAsEntryK();
    void completionBoxHasTheFinalCountUnderIt();

private:
    std::unique_ptr<TempProgramFolder> m_programFolder;
};

void tst_BusyWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_programFolder = std::make_unique<TempProgramFolder>();
}

void tst_BusyWindow::cleanup()
{
    for (const QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
}

void tst_BusyWindow::latestTextsArePainted_data()
{
    QTest::addColumn<QString>("label");
    QTest::newRow("the status line shows the last text of a burst") << u"lblInfo"_s;
    QTest::newRow("the file counter shows the last count of a burst") << u"lblDLFileNum"_s;
}

void tst_BusyWindow::latestTextsArePainted()
{
    QFETCH(QString, label);
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    RunHost& host = window;
    host.setControls(false);
    PaintedText painted(window.findChild<QLabel*>(label));
    QString last;
    for (int i = 0; i < 300; ++i) {
        last = QString::number(i) + u"/300"_s + Msg::filesSuffix;
        if (label == u"lblInfo")
            host.showInfo(last);
        else
            host.setFileCounter(last);
        if (i % 7 == 0)
            host.yield();
    }
    QTRY_COMPARE(painted.last(), last);
    host.setControls(true);
}

void tst_BusyWindow::listsEndAsIfChangedAtOnce_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("each outcome selects the last row of its own list")
        << QStringList { u"r:0"_s, u"a:1.jpg"_s, u"A"_s, u"D"_s, u"r:1"_s, u"d:2.jpg"_s, u"D"_s,
               u"r:2"_s, u"x:3.jpg"_s, u"X"_s, u"D"_s };
    QTest::newRow("a row selected before more rows are filed stays the selected one")
        << QStringList { u"d:1.jpg"_s, u"D"_s, u"d:2.jpg"_s, u"d:3.jpg"_s, u"r:1"_s, u"r:3"_s };
    QTest::newRow("a skipped file leaves the selection of its list alone")
        << QStringList { u"x:1.jpg"_s, u"X"_s, u"x:2.jpg"_s, u"d:3.jpg"_s, u"D"_s };
    QTest::newRow("selecting in an empty list or past its end selects nothing")
        << QStringList { u"D"_s, u"r:9"_s, u"r:-1"_s, u"a:1.jpg"_s };
    QTest::newRow("the same name twice gives two rows")
        << QStringList { u"d:1.jpg"_s, u"a:1.jpg"_s, u"A"_s, u"d:1.jpg"_s, u"D"_s };
}

void tst_BusyWindow::listsEndAsIfChangedAtOnce()
{
    QFETCH(QStringList, steps);
    const QStringList entries { u"1.jpg"_s, u"2.jpg"_s, u"3.jpg"_s, u"4.jpg"_s };

    frmMain idle;
    idle.appendDownloadRows(entries);
    for (const QString& step : steps)
        apply(idle, step);

    frmMain busy;
    busy.show();
    RunHost& host = busy;
    busy.appendDownloadRows(entries);
    host.setControls(false);
    for (const QString& step : steps) {
        apply(host, step);
        host.yield();
    }
    host.setControls(true);
    QCOMPARE(seen(busy).rows, seen(idle).rows);
    QCOMPARE(seen(busy).selected, seen(idle).selected);
}

void tst_BusyWindow::rowsShowWhileTheRunIsBusy()
{
    frmMain window;
    window.show();
    RunHost& host = window;
    window.appendDownloadRows({ u"1.jpg"_s, u"2.jpg"_s });
    host.setControls(false);
    host.selectDownloadRow(1);
    host.appendResultRow(ResultList::Denied, u"2.jpg"_s);
    host.selectLastResultRow(ResultList::Denied);
    // No yield of the loop: the thread waits elsewhere, as in a message box.
    QTRY_COMPARE(rows(list(window, u"lstDownloadDenied"_s)), QStringList { u"2.jpg"_s });
    QTRY_COMPARE(selectedRows(list(window, u"lstDownloadDenied"_s)), QList<int> { 0 });
    QTRY_COMPARE(selectedRows(list(window, u"lstDownload"_s)), QList<int> { 1 });
    host.setControls(true);
}

void tst_BusyWindow::growingDownloadListKeepsRowKAsEntryK_data()
{
    QTest::addColumn<QList<QStringList>>("batches");
    QTest::newRow("a crawl that appends page by page")
        << QList<QStringList> { { u"a.jpg"_s }, { u"b.jpg"_s }, { u"c.jpg"_s, u"d.jpg"_s } };
    QTest::newRow("repeated names")
        << QList<QStringList> { { u"a.jpg"_s, u"a.jpg"_s }, { u"a.jpg"_s } };
}

void tst_BusyWindow::growingDownloadListKeepsRowKAsEntryK()
{
    QFETCH(QList<QStringList>, batches);
    frmMain window;
    QListWidget* box = list(window, u"lstDownload"_s);
    QStringList all;
    for (const QStringList& batch : batches) {
        // A row the user picked goes, as it does when the list is filled anew.
        if (box->count() > 0)
            box->setCurrentRow(0);
        window.appendDownloadRows(batch);
        all += batch;
        QCOMPARE(rows(box), all);
        QCOMPARE(selectedRows(box), QList<int> {});
        QCOMPARE(box->currentRow(), -1);
    }
}

void tst_BusyWindow::completionBoxHasTheFinalCountUnderIt()
{
    QTemporaryDir folder;
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    RunHost& host = window;
    RunState& state = host.runState();
    const int total = 40;
    QStringList names;
    for (int i = 0; i < total; ++i) {
        const QString name = u"present%1.jpg"_s.arg(i);
        names.append(name);
        state.udtDownload.append(DownloadItem { u"http://127.0.0.1:9/"_s + name, name });
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xD8");
    }
    window.appendDownloadRows(names);
    PaintedText counter(window.findChild<QLabel*>(u"lblDLFileNum"_s));
    const QString finalCount = u"40/40"_s + Msg::filesSuffix;

    MessageAnswerer answerer;
    bool shownUnderBox = false;
    QStringList alreadyUnderBox;
    answerer.onBox = [&](const MessageBoxRequest&) {
        // The box's own event loop runs while it is up.
        shownUnderBox = QTest::qWaitFor([&] { return counter.last() == finalCount; });
        alreadyUnderBox = rows(list(window, u"lstDownloadAlready"_s));
    };
    host.setControls(false);
    QVERIFY(Download_ByInet(host, folder.path() + u'/'));
    QCOMPARE(answerer.boxes.size(), 1);
    QVERIFY(shownUnderBox);
    QCOMPARE(alreadyUnderBox, names);
    QCOMPARE(selectedRows(list(window, u"lstDownloadAlready"_s)), QList<int> { total - 1 });
    QCOMPARE(selectedRows(list(window, u"lstDownload"_s)), QList<int> { total - 1 });
}

QTEST_MAIN(tst_BusyWindow)
#include "tst_busywindow.moc"
