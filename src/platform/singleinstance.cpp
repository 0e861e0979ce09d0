// The single-instance test and the knock.
#include "platform/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {
// Long enough for a first copy that is busy with a run; its listen queue takes the knock
// without its event loop.
constexpr int knockTimeoutMs = 2000;
} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    // A path in the user's own runtime folder keeps the socket per user, and on Windows it is
    // as good a pipe name as any.
    m_socketPath = folder + u'/' + name + u".socket";
    m_lock = std::make_unique<QLockFile>(folder + u'/' + name + u".lock");
    // A lock left by a crashed copy is stale once its process is gone; QLockFile checks that.
    m_lock->setStaleLockTime(0);
    m_first = m_lock->tryLock(0);
    if (!m_first)
        return;

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock proves that a socket found here belongs to a copy that is gone.
    QLocalServer::removeServer(m_socketPath);
    // Without the socket this copy still runs; later starts then end without bringing it up.
    m_server->listen(m_socketPath);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* knocker = m_server->nextPendingConnection()) {
            knocker->abort();
            knocker->deleteLater();
            emit activationRequested();
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::isFirst() const { return m_first; }

bool SingleInstance::knock() const
{
    if (m_first)
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(knockTimeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}
