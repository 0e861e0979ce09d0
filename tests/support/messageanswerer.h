// Answers the program's message boxes in tests and records each one for assertions.
#pragma once

#include "platform/messagebox.h"

#include <QList>
#include <functional>

class MessageAnswerer {
public:
    // Installs itself; every box is answered with its default button unless told otherwise.
    MessageAnswerer();
    ~MessageAnswerer();
    MessageAnswerer(const MessageAnswerer&) = delete;
    MessageAnswerer& operator=(const MessageAnswerer&) = delete;

    // The answers to give, in order; once used up, the default button answers.
    QList<MessageAnswer> answers;
    // Called for each box before it is answered (a test may press buttons from here).
    std::function<void(const MessageBoxRequest&)> onBox;

    QList<MessageBoxRequest> boxes;

    const MessageBoxRequest& last() const { return boxes.last(); }

private:
    MessageBoxPresenter m_previous;
};
