// The real message boxes: what the user sees and which answer comes back.
#include "main_window/messageboxpresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(MessageIcon)
Q_DECLARE_METATYPE(MessageButtons)
Q_DECLARE_METATYPE(MessageAnswer)

class tst_MessageBoxPresenter : public QObject
{
    Q_OBJECT
private slots:
    void boxShowsTheRequestAndReturnsThePress_data();
    void boxShowsTheRequestAndReturnsThePress();
};

void tst_MessageBoxPresenter::boxShowsTheRequestAndReturnsThePress_data()
{
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<MessageAnswer>("defaultButton");
    QTest::addColumn<int>("press"); // a QMessageBox::StandardButton, or 0 to dismiss the box
    QTest::addColumn<MessageAnswer>("expected");
    QTest::addColumn<QMessageBox::Icon>("shownIcon");

    QTest::newRow("an error is acknowledged with OK")
        << MessageIcon::Critical << MessageButtons::Ok << MessageAnswer::Ok << int(QMessageBox::Ok)
        << MessageAnswer::Ok << QMessageBox::Critical;
    QTest::newRow("a question answered Yes")
        << MessageIcon::Question << MessageButtons::YesNo << MessageAnswer::No
        << int(QMessageBox::Yes) << MessageAnswer::Yes << QMessageBox::Question;
    QTest::newRow("a question dismissed without an answer counts as No")
        << MessageIcon::Question << MessageButtons::YesNo << MessageAnswer::No << 0
        << MessageAnswer::No << QMessageBox::Question;
    QTest::newRow("OK and Cancel dismissed counts as Cancel")
        << MessageIcon::Warning << MessageButtons::OkCancel << MessageAnswer::Ok << 0
        << MessageAnswer::Cancel << QMessageBox::Warning;
    QTest::newRow("information answered OK")
        << MessageIcon::Information << MessageButtons::OkCancel << MessageAnswer::Ok
        << int(QMessageBox::Ok) << MessageAnswer::Ok << QMessageBox::Information;
}

void tst_MessageBoxPresenter::boxShowsTheRequestAndReturnsThePress()
{
    QFETCH(MessageIcon, icon);
    QFETCH(MessageButtons, buttons);
    QFETCH(MessageAnswer, defaultButton);
    QFETCH(int, press);
    QFETCH(MessageAnswer, expected);
    QFETCH(QMessageBox::Icon, shownIcon);

    struct Seen
    {
        bool found = false;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::AutoText;
        int defaultButton = 0;
        int buttons = 0;
        bool modal = false;
    } seen;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen = { true, box->windowTitle(), box->text(), box->icon(), box->textFormat(),
            box->defaultButton() ? int(box->standardButton(box->defaultButton())) : 0,
            int(box->standardButtons()), box->isModal() };
        if (press)
            box->button(QMessageBox::StandardButton(press))->click();
        else
            box->reject();
    });
    poll.start();

    const MessageAnswer answer
        = presentMessageBox(MessageBoxRequest { QStringLiteral("<b>C:\\a&b</b>\r\n2行目"), icon,
            buttons, defaultButton, QStringLiteral("題名") });

    QVERIFY(seen.found);
    QCOMPARE(answer, expected);
    QCOMPARE(seen.title, QStringLiteral("題名"));
    QCOMPARE(seen.text, QStringLiteral("<b>C:\\a&b</b>\n2行目"));
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.icon, shownIcon);
    QVERIFY(seen.modal);
    const int wanted = buttons == MessageButtons::Ok ? int(QMessageBox::Ok)
        : buttons == MessageButtons::OkCancel        ? int(QMessageBox::Ok | QMessageBox::Cancel)
                                                     : int(QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.buttons, wanted);
    const int wantedDefault
        = defaultButton == MessageAnswer::No ? int(QMessageBox::No) : int(QMessageBox::Ok);
    QCOMPARE(seen.defaultButton, wantedDefault);
}

QTEST_MAIN(tst_MessageBoxPresenter)
#include "tst_messageboxpresenter.moc"
