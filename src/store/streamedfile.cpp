// An image body streamed into a temporary file until its turn.
#include "store/streamedfile.h"

#include "store/downloadengine.h" // Is_JpegData
#include "web/fetcher.h" // imageBodyLimit

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

StreamedFile::StreamedFile(const QString& folder)
    : m_folder(folder)
{ }

StreamedFile::~StreamedFile() { discard(); }

bool StreamedFile::write(const char* bytes, std::size_t size)
{
    std::lock_guard lock(m_mutex);
    if (m_ended || m_errno != 0)
        return false;
    if (m_dropping)
        return true;
    if (m_fd < 0) {
        const std::size_t wanted = std::min<std::size_t>(size, 2 - m_head.size());
        m_head.append(bytes, qsizetype(wanted));
        bytes += wanted;
        size -= wanted;
        if (m_head.size() < 2)
            return true;
        if (!Is_JpegData(m_head)) {
            m_dropping = true;
            return true;
        }
        m_fd = openTemporaryFile(m_folder, m_name);
        if (m_fd < 0) {
            m_errno = errno;
            m_name.clear();
            return false;
        }
        // The first bytes go with the rest of their piece: one write, not two, for each file.
        const QByteArray first = m_head + QByteArray::fromRawData(bytes, qsizetype(size));
        if (!writeAll(m_fd, first.constData(), first.size())) {
            m_errno = errno;
            return false;
        }
        return true;
    }
    if (!writeAll(m_fd, bytes, qint64(size))) {
        m_errno = errno;
        return false;
    }
    return true;
}

void StreamedFile::end()
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0 && m_errno == 0)
        m_errno = errno;
}

FileResult StreamedFile::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_errno == 0 ? FileResult {} : runtimeErrorFromErrno(m_errno, false);
}

FileResult StreamedFile::commit(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_ended = true;
    if (m_errno != 0) {
        removeLocked();
        return runtimeErrorFromErrno(m_errno, false);
    }
    if (m_name.isEmpty()) // never made: the body had no FF D8 to begin with
        return runtimeErrorFromErrno(ENOENT, true);
    const QByteArray target = QFile::encodeName(path);
    // Where nothing has the name yet, the common case, the rename alone places the body; it
    // refuses another file system, which the copy below then reaches.
    if (m_fd < 0 && placeWhereFree(m_name, target)) {
        m_name.clear();
        return {};
    }
    struct stat own
    {
    };
    if ((::lstat(target.constData(), &own) == 0 && S_ISLNK(own.st_mode))
        || !onFileSystemOf(target)) {
        // No rename reaches another file system, and a link may lead to one: the body is
        // written there the way every other file is.
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        QByteArray data;
        FileResult result = readFileWhole(QFile::decodeName(m_name), data, imageBodyLimit);
        if (result.number == 0)
            result = writeFileWhole(path, data, false);
        removeLocked();
        return result;
    }
    const FileResult placed = placeTemporaryFile(std::exchange(m_fd, -1), m_name, path);
    m_name.clear();
    return placed;
}

bool StreamedFile::onFileSystemOf(const QByteArray& target) const
{
    // A rename within one folder always reaches.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = target.left(slash + 1);
    if (m_name.startsWith(folder) && m_name.indexOf('/', folder.size()) < 0)
        return true;
    struct stat there
    {
    };
    struct stat here
    {
    };
    return ::stat(folder.isEmpty() ? "." : folder.constData(), &there) != 0
        || ::stat(m_name.constData(), &here) != 0 || there.st_dev == here.st_dev;
}

void StreamedFile::discard()
{
    std::lock_guard lock(m_mutex);
    m_ended = true;
    removeLocked();
}

void StreamedFile::removeLocked()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    if (!m_name.isEmpty())
        ::unlink(std::exchange(m_name, {}).constData());
}
