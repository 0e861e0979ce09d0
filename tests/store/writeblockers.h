// Ways for a test to make writes fail as they do for users: read-only files and folders (the
// test runs as an ordinary user for a while when it runs as root) and a disk that fills up.
#pragma once

#include <QFile>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

class Unprivileged
{
public:
    Unprivileged() { m_dropped = ::geteuid() == 0 && ::seteuid(65534) == 0; }
    ~Unprivileged()
    {
        if (m_dropped && ::seteuid(0) != 0)
            qFatal("could not return to the test's own user");
    }
    bool active() const { return ::geteuid() != 0; } // false: permissions cannot apply here

    // The ordinary user keeps root's groups, so the group bits are set like the others.
    static void setMode(const QString& path, bool writable)
    {
        const auto all = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner
            | QFile::ExeGroup | QFile::ExeOther;
        QFile::setPermissions(
            path, writable ? all | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther : all);
    }

private:
    bool m_dropped = false;
};

// Writes past the given size fail with "file too large", as on a full disk, while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        const rlimit limit { bytes, m_previous.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    void (*m_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit m_previous {};
};
