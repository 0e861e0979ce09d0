// Small helpers for tests that make and check files.
#include "support/testfiles.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

QByteArray noiseBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u ^ (seed * 2654435761u) ^ quint32(size);
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

QByteArray jpegBytes(qsizetype size, quint32 seed)
{
    return noiseBytes(qMax<qsizetype>(size, 2), seed).replace(0, 2, "\xFF\xD8").left(size);
}

QByteArray readFileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

Unprivileged::Unprivileged() { m_dropped = ::geteuid() == 0 && ::seteuid(65534) == 0; }

Unprivileged::~Unprivileged()
{
    if (m_dropped && ::seteuid(0) != 0)
        qFatal("could not return to the test's own user");
}

bool Unprivileged::active() const { return ::geteuid() != 0; }

void Unprivileged::setMode(const QString& path, bool writable)
{
    const auto all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner
        | QFile::ExeGroup | QFile::ExeOther;
    QFile::setPermissions(
        path, writable ? all | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther : all);
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
    : m_handler(std::signal(SIGXFSZ, SIG_IGN))
{
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_previous[0] = limit.rlim_cur;
    m_previous[1] = limit.rlim_max;
    limit.rlim_cur = rlim_t(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

OpenFileLimit::OpenFileLimit(int more)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    m_previous = limit.rlim_cur;
    // New files take the lowest numbers free, below the limit; those open above it stay open.
    const qsizetype open
        = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
    limit.rlim_cur = rlim_t(qMin<quint64>(open + more, limit.rlim_cur));
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

OpenFileLimit::~OpenFileLimit()
{
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = rlim_t(m_previous);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    const rlimit previous { rlim_t(m_previous[0]), rlim_t(m_previous[1]) };
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, m_handler);
}
