// File operations of the store with the runtime error of the real failure.
#include "store/fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const FileResult success {};

FileResult failure(int errnoValue, bool missingMeansFile = false)
{
    return runtimeErrorFromErrno(errnoValue, missingMeansFile);
}

// A NUL would cut the name short on its way to the system and so name another file.
bool holdsNul(const QString& path) { return path.contains(QChar(0)); }

const QString temporaryPrefix = QStringLiteral(".pixhound-");
const QString temporarySuffix = QStringLiteral(".part");

// Where a write of path lands: a link is followed, so that the file it names gets the new content
// and the link stays.
QString writeTarget(const QString& path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

} // namespace

FileResult makeFolder(const QString& path)
{
    if (holdsNul(path))
        return runtimeError(ErrorNumber::BadFileName);
    if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0)
        return failure(errno);
    return success;
}

FileResult checkFolder(const QString& path)
{
    if (holdsNul(path))
        return runtimeError(ErrorNumber::BadFileName);
    const QByteArray name = QFile::encodeName(path);
    struct stat status
    {
    };
    if (::stat(name.constData(), &status) != 0)
        return failure(errno);
    if (!S_ISDIR(status.st_mode))
        return failure(ENOTDIR);
    if (::access(name.constData(), X_OK) != 0)
        return failure(errno);
    return success;
}

bool writeAll(int fd, const char* bytes, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

int openTemporaryFile(const QString& folder, QByteArray& name)
{
    // Shared by the window's thread and the transfer thread.
    static std::atomic<unsigned> counter { 0 };
    // The name does not depend on the final name, so that a final name close to the length limit
    // fails where the system would fail it: at the rename.
    static const pid_t process = ::getpid();
    const QString prefix = folder + temporaryPrefix + QString::number(process) + u'-';
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name = QFile::encodeName(prefix + QString::number(++counter) + temporarySuffix);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

FileResult placeTemporaryFile(int fd, const QByteArray& name, const QString& path)
{
    const auto abandon = [&](int errnoValue) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(name.constData());
        return failure(errnoValue);
    };
    if (holdsNul(path)) {
        abandon(0);
        return runtimeError(ErrorNumber::BadFileName);
    }
    // A failure to close (the last write reaching a full disk) is the write's failure.
    if (fd >= 0 && ::close(std::exchange(fd, -1)) != 0)
        return abandon(errno);
    QByteArray targetName = QFile::encodeName(path);
    if (placeWhereFree(name, targetName))
        return success;
    // Something has the name: a file to replace, or a link to follow.
    struct stat existing
    {
    };
    bool exists = ::lstat(targetName.constData(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode)) {
        targetName = QFile::encodeName(writeTarget(path));
        exists = ::stat(targetName.constData(), &existing) == 0;
    }
    // A file the user cannot write is refused as opening it for writing would refuse it; the
    // rename alone would replace it regardless.
    if (exists && ::faccessat(AT_FDCWD, targetName.constData(), W_OK, AT_EACCESS) != 0)
        return abandon(errno);
    if (exists && S_ISREG(existing.st_mode))
        ::chmod(name.constData(), existing.st_mode & 07777);
    if (::rename(name.constData(), targetName.constData()) != 0)
        return abandon(errno);
    return success;
}

bool placeWhereFree(const QByteArray& name, const QByteArray& target)
{
#ifdef RENAME_NOREPLACE
    return ::renameat2(AT_FDCWD, name.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE)
        == 0;
#else
    (void)name;
    (void)target;
    return false;
#endif
}

FileResult writeFileWhole(const QString& path, const QByteArray& data, bool durable)
{
    if (holdsNul(path))
        return runtimeError(ErrorNumber::BadFileName);
    // A file the user cannot write is refused before anything is written.
    const QString target = writeTarget(path);
    const QByteArray targetName = QFile::encodeName(target);
    if (::access(targetName.constData(), F_OK) == 0
        && ::faccessat(AT_FDCWD, targetName.constData(), W_OK, AT_EACCESS) != 0)
        return failure(errno);

    QByteArray temporaryName;
    const int fd = openTemporaryFile(target.left(target.lastIndexOf(u'/') + 1), temporaryName);
    if (fd < 0)
        return failure(errno);
    if (!writeAll(fd, data.constData(), data.size()) || (durable && ::fdatasync(fd) != 0)) {
        const int writeError = errno;
        ::close(fd);
        ::unlink(temporaryName.constData());
        return failure(writeError);
    }
    return placeTemporaryFile(fd, temporaryName, path);
}

void sweepKilledWrites(const QString& folder)
{
    static const QRegularExpression temporaryName(
        QRegularExpression::anchoredPattern(QRegularExpression::escape(temporaryPrefix)
            + QStringLiteral("([0-9]{1,9})-[0-9]+") + QRegularExpression::escape(temporarySuffix)));
    const QStringList candidates = QDir(folder).entryList(
        { temporaryPrefix + u'*' + temporarySuffix }, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : candidates) {
        const QRegularExpressionMatch match = temporaryName.match(name);
        if (!match.hasMatch())
            continue;
        // EPERM means a process of another user holds the number: it is running.
        const pid_t writer = static_cast<pid_t>(match.captured(1).toLong());
        if (writer <= 0 || ::kill(writer, 0) == 0 || errno != ESRCH)
            continue;
        ::unlink(QFile::encodeName(folder + name).constData());
    }
}

FileResult readFileWhole(const QString& path, QByteArray& data, qint64 maxBytes)
{
    data.clear();
    if (holdsNul(path))
        return runtimeError(ErrorNumber::BadFileName);
    // Not blocking: opening a named pipe would otherwise wait for a writer that never comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failure(errno, true);

    FileResult result = success;
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0) {
        result = failure(errno, true);
    } else if (!S_ISREG(status.st_mode)) {
        result = runtimeError(ErrorNumber::PathFileAccess);
    } else if (status.st_size > maxBytes) {
        result = runtimeError(ErrorNumber::OutOfMemory);
    } else {
        // The size is only a hint: the file may grow while it is read, or report none at all.
        data.reserve(static_cast<qsizetype>(status.st_size) + 1);
        constexpr qsizetype chunk = 1 << 20;
        for (;;) {
            if (data.size() > maxBytes) {
                result = runtimeError(ErrorNumber::OutOfMemory);
                break;
            }
            const qsizetype before = data.size();
            data.resize(before + chunk);
            const ssize_t got = ::read(fd, data.data() + before, chunk);
            if (got < 0 && errno == EINTR) {
                data.resize(before);
                continue;
            }
            if (got < 0) {
                result = failure(errno, true);
                data.resize(before);
                break;
            }
            data.resize(before + got);
            if (got == 0)
                break;
        }
    }
    ::close(fd);
    if (result.number != 0)
        data.clear();
    return result;
}
