// The one way the program shows a message box. The window layer installs the real box; tests
// install an answerer that records every box and answers it.
#pragma once

#include <QString>
#include <functional>

enum class MessageIcon { Critical, Warning, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageBoxRequest
{
    QString text; // line breaks are CR LF, as the program writes them
    MessageIcon icon = MessageIcon::Critical;
    MessageButtons buttons = MessageButtons::Ok;
    MessageAnswer defaultButton = MessageAnswer::Ok;
    QString title;
};

using MessageBoxPresenter = std::function<MessageAnswer(const MessageBoxRequest&)>;

// Shows the box through the installed presenter and returns the button pressed. With no presenter
// installed it answers the default button without showing anything.
MessageAnswer showMessageBox(const MessageBoxRequest& request);

// Shorthand for the common box with an OK button only.
void showMessage(const QString& text, MessageIcon icon, const QString& title);

// Installs the presenter and returns the one it replaces.
MessageBoxPresenter installMessageBoxPresenter(MessageBoxPresenter presenter);
