// Small helpers for tests that make and check files.
#include "support/testfiles.h"

#include <QDir>
#include <QFile>

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
