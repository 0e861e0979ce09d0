// The real message boxes.
#include "main_window/messageboxpresenter.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        break;
    }
    return QMessageBox::Question;
}

QMessageBox::StandardButtons boxButtons(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        break;
    }
    return QMessageBox::Yes | QMessageBox::No;
}

QMessageBox::StandardButton boxButton(MessageAnswer answer)
{
    switch (answer) {
    case MessageAnswer::Ok:
        return QMessageBox::Ok;
    case MessageAnswer::Cancel:
        return QMessageBox::Cancel;
    case MessageAnswer::Yes:
        return QMessageBox::Yes;
    case MessageAnswer::No:
        break;
    }
    return QMessageBox::No;
}

// Closing the box by its title bar or Escape must never count as agreement.
MessageAnswer declined(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        break;
    }
    return MessageAnswer::No;
}

} // namespace

MessageAnswer presentMessageBox(const MessageBoxRequest& request)
{
    QString text = request.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(boxIcon(request.icon), request.title, text, boxButtons(request.buttons), owner);
    // Paths and addresses may hold "<" or "&"; they are shown as written.
    box.setTextFormat(Qt::PlainText);
    const QMessageBox::StandardButton defaultButton = boxButton(request.defaultButton);
    if (box.standardButtons().testFlag(defaultButton))
        box.setDefaultButton(defaultButton);
    box.setWindowModality(Qt::ApplicationModal);
    // A short text makes a narrow box whose title bar cuts the title ("ダウ… 完了"): keep room for
    // the whole title beside the window manager's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleWidth = box.fontMetrics().horizontalAdvance(request.title) + 160;
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
            grid->rowCount(), 0, 1, grid->columnCount());
    }

    switch (box.exec()) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        return declined(request.buttons);
    }
}
