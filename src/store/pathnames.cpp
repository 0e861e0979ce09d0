// The pure naming rules of the store.
#include "store/pathnames.h"

#include "platform/nameendings.h"

#include <QCryptographicHash>
#include <QFile>

namespace {

// The longest name a file system holds: 255 bytes of the local encoding on Linux, 255 UTF-16
// units on Windows.
constexpr qsizetype longestName = 255;

qsizetype nameLength(QStringView name, const PathConventions& conventions)
{
    return conventions.driveLetters ? name.size() : QFile::encodeName(name.toString()).size();
}

// A name too long for the disk: as much of its start as fits, "~" and eight hexadecimal digits of
// a hash of the whole, so that two long addresses with the same start still get folders of their
// own, and a later run on the same address finds the same one.
QString shortenedName(const QString& name, const PathConventions& conventions)
{
    const QString tail = u'~'
        + QString::fromLatin1(
            QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    const qsizetype room = longestName - tail.size();
    qsizetype keep = 0, used = 0;
    while (keep < name.size()) {
        // A character outside the basic plane is never cut in half.
        const qsizetype units = name.at(keep).isHighSurrogate() && keep + 1 < name.size() ? 2 : 1;
        used += nameLength(QStringView(name).sliced(keep, units), conventions);
        if (used > room)
            break;
        keep += units;
    }
    return name.first(keep) + tail;
}

} // namespace

QString pageFolderName(const QString& address)
{
    QString name = address;
    // The cut is by length from the front, wherever the scheme text appears; a later run on the
    // same address must find the same folder, so this is kept exactly as it always was.
    if (name.contains(QLatin1String("http://")))
        name.remove(0, 7);
    if (name.contains(QLatin1String("ftp://")))
        name.remove(0, 6);

    static const QString replaced = QStringLiteral("\\/:,;*?\"<>|");
    for (QChar& c : name) {
        if (replaced.contains(c))
            c = u'_';
    }
    // These would name the base folder or its parent, not a folder of their own.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name.fill(u'_', qMax<qsizetype>(name.size(), 1));
    return name;
}

QString pageFolderPath(
    const QString& base, const QString& address, const PathConventions& conventions)
{
    const QString name = pageFolderName(address);
    return base
        + (nameLength(name, conventions) > longestName ? shortenedName(name, conventions) : name)
        + conventions.separator;
}

QStringList folderPrefixes(const QString& path, const PathConventions& conventions)
{
    const QChar separator = conventions.separator;
    qsizetype start = 0;
    if (conventions.networkPaths && path.startsWith(QString(2, separator))) {
        const qsizetype serverEnd = path.indexOf(separator, 2);
        const qsizetype shareEnd = serverEnd < 0 ? -1 : path.indexOf(separator, serverEnd + 1);
        if (shareEnd < 0)
            return {};
        start = shareEnd;
    }

    QStringList prefixes;
    for (qsizetype i = start; i < path.size(); ++i) {
        if (path.at(i) == separator)
            prefixes.append(path.left(i + 1));
    }
    return prefixes;
}

QString fileNameOfUrl(const QString& url)
{
    const qsizetype slash = url.lastIndexOf(u'/');
    return slash < 0 ? QString() : url.mid(slash + 1);
}

QString fileNameOfAddress(const QString& address)
{
    const QString name = fileNameOfUrl(pathPart(address).toString());
    // Never null: a null FileName is one not yet given (Get_FileList).
    return name.isNull() ? QStringLiteral("") : name;
}

FileNameRefusal fileNameRefusal(const QString& name, const PathConventions& conventions)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return FileNameRefusal::Unsafe;
    if (name.contains(conventions.separator) || name.contains(QChar(0)))
        return FileNameRefusal::Unsafe;
    if (conventions.driveLetters
        && (name.contains(u'\\') || name.contains(u'/') || name.contains(u':')))
        return FileNameRefusal::Unsafe;
    // Caught here, the image is never fetched only for its write to fail and stop the run.
    if (nameLength(name, conventions) > longestName)
        return FileNameRefusal::TooLong;
    return FileNameRefusal::None;
}
