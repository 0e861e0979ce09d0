// Path rules of Windows and Linux.
#include "platform/pathrules.h"

PathConventions PathConventions::forWindows()
{
    return PathConventions { u'\\', true, true, QStringLiteral("/:*?\"<>|") };
}

PathConventions PathConventions::forLinux()
{
    return PathConventions { u'/', false, false, QStringLiteral("\\:*?\"<>|") };
}

PathConventions PathConventions::forHost()
{
#ifdef Q_OS_WIN
    return forWindows();
#else
    return forLinux();
#endif
}

QString withTrailingSeparator(const QString& path, const PathConventions& conventions)
{
    if (path.isEmpty() || path.endsWith(conventions.separator))
        return path;
    return path + conventions.separator;
}
