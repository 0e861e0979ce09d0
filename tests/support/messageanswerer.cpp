// Answers the program's message boxes in tests.
#include "support/messageanswerer.h"

MessageAnswerer::MessageAnswerer()
{
    m_previous = installMessageBoxPresenter([this](const MessageBoxRequest& request) {
        boxes.append(request);
        if (onBox)
            onBox(request);
        if (!answers.isEmpty())
            return answers.takeFirst();
        return request.defaultButton;
    });
}

MessageAnswerer::~MessageAnswerer() { installMessageBoxPresenter(m_previous); }
