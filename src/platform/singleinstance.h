// The single-instance test: one running copy of Pixhound per user.
#pragma once

#include <QString>
#include <memory>

class QLockFile;

class SingleInstance
{
public:
    // Takes the per-user lock named lockName in the user's runtime folder.
    explicit SingleInstance(const QString& lockName = QStringLiteral("pixhound.lock"));
    ~SingleInstance();

    // True when no other copy holds the lock (this one now holds it until destroyed).
    bool isFirst() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_first = false;
};
