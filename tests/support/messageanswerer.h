// Answers the program's message boxes in tests and records each one for assertions.
#pragma once

#include "platform/messagebox.h"

#include <QList>
#include <QStringList>
#include <functional>

// A box as the answerer shows it in a comparison: title, icon and text on one line.
QString expectBox(const QString& title, MessageIcon icon, const QString& text);

class MessageAnswerer
{
public:
    // Installs itself; every box is answered with its default button unless told otherwise.
    MessageAnswerer();
    ~MessageAnswerer();
    MessageAnswerer(const MessageAnswerer&) = delete;
    MessageAnswerer& operator=(const MessageAnswerer&) = delete;

    // The answers to give, in order; once used up, the default button answers.
    QList<MessageAnswer> answers;
    // Called for each box before it is answered (a test may look at the window from here).
    std::function<void(const MessageBoxRequest&)> onBox;

    QList<MessageBoxRequest> boxes;
    const MessageBoxRequest& last() const { return boxes.last(); }
    // Every box so far, each as expectBox() writes it.
    QStringList shown() const;

private:
    MessageBoxPresenter m_previous;
};
