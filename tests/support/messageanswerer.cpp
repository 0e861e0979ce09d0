// Answers the program's message boxes in tests.
#include "support/messageanswerer.h"

QString expectBox(const QString& title, MessageIcon icon, const QString& text)
{
    static const char* const icons[] = { "critical", "warning", "information", "question" };
    return title + u" [" + QLatin1String(icons[int(icon)]) + u"] " + text;
}

MessageAnswerer::MessageAnswerer()
{
    m_previous = installMessageBoxPresenter([this](const MessageBoxRequest& request) {
        boxes.append(request);
        if (onBox)
            onBox(request);
        return answers.isEmpty() ? request.defaultButton : answers.takeFirst();
    });
}

MessageAnswerer::~MessageAnswerer() { installMessageBoxPresenter(m_previous); }

QStringList MessageAnswerer::shown() const
{
    QStringList all;
    for (const MessageBoxRequest& box : boxes)
        all.append(expectBox(box.title, box.icon, box.text));
    return all;
}
