// The one way the program shows a message box.
#include "platform/messagebox.h"

#include <utility>

namespace {
MessageBoxPresenter& presenter()
{
    static MessageBoxPresenter installed;
    return installed;
}
} // namespace

MessageAnswer showMessageBox(const MessageBoxRequest& request)
{
    if (!presenter())
        return request.defaultButton;
    return presenter()(request);
}

void showMessage(const QString& text, MessageIcon icon, const QString& title)
{
    showMessageBox(MessageBoxRequest { text, icon, MessageButtons::Ok, MessageAnswer::Ok, title });
}

MessageBoxPresenter installMessageBoxPresenter(MessageBoxPresenter newPresenter)
{
    return std::exchange(presenter(), std::move(newPresenter));
}
