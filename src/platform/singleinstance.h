// The single-instance test: one running copy of Pixhound per user, and the knock by which a later
// start asks that copy to come forward.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // Takes the per-user lock "<name>.lock" in the user's runtime folder. The copy that gets it
    // is the first and listens for knocks on "<name>.socket" beside it; a socket left by a copy
    // that crashed is replaced, since holding the lock proves its owner is gone.
    explicit SingleInstance(
        const QString& name = QStringLiteral("pixhound"), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when no other copy holds the lock (this one now holds it until destroyed).
    bool isFirst() const;

    // For a copy that is not first: tells the first one to come forward. True when the knock was
    // delivered; it never waits for the first copy to act, so it cannot hang on a busy one.
    bool knock() const;

signals:
    // The first copy was knocked on by a later start.
    void activationRequested();

private:
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    bool m_first = false;
};
