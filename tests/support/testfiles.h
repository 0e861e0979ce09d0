// Small helpers for tests that make and check files: bytes that show any shift or loss, whole
// files read and written, what a folder holds, and writes that fail as they do for users.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// size bytes of noise made from seed, NUL bytes included, so that any shift or loss shows.
QByteArray noiseBytes(qsizetype size, quint32 seed = 1);
// The same noise beginning with the JPEG start-of-image bytes FF D8.
QByteArray jpegBytes(qsizetype size, quint32 seed = 1);

// The whole file; empty when it cannot be read.
QByteArray readFileBytes(const QString& path);
// Replaces the file by bytes; false when that failed.
bool writeFileBytes(const QString& path, const QByteArray& bytes);
// Every entry of folder, hidden ones too, sorted by name.
QStringList folderEntries(const QString& folder);

// Runs as an ordinary user while it lives when the test runs as root, so that read-only files and
// folders refuse writes as they do for users.
class Unprivileged
{
public:
    Unprivileged();
    ~Unprivileged();
    bool active() const; // false: permissions cannot apply here
    // The ordinary user keeps root's groups, so the group bits are set like the others.
    static void setMode(const QString& path, bool writable);

private:
    bool m_dropped = false;
};

// Writes past the given size fail with "file too large", as on a full disk, while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();

private:
    quint64 m_previous[2];
    void (*m_handler)(int);
};

// While it lives, the process may open only `more` files beside those open now.
class OpenFileLimit
{
public:
    explicit OpenFileLimit(int more);
    ~OpenFileLimit();

private:
    quint64 m_previous = 0;
};
