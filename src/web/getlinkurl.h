// Turns the links found in a page into absolute addresses, by the program's own rules (not those
// of a URL standard): no normalising of "." or ".." inside a path, query strings kept.
#pragma once

#include <QString>
#include <QStringList>

// Resolves link against the page address. True with the absolute address in result, or False
// with result empty. "http://", "https://" and "ftp://" links (any letter case) come back as
// written; a "//" link takes the page's scheme.
bool Get_LinkAbsURL(const QString& page, const QString& link, QString& result);

// The directory part of an address, up to and including its last "/" ("http://host" gives
// "http://host/"). False with path empty when there is none.
bool Get_UrlPath(const QString& address, QString& path);

// The root: scheme, host and the "/" after it ("https://host/x" gives "https://host/"). False with
// root empty when no root can be formed.
bool Get_UrlRoot(const QString& address, QString& root);

// Strips the leading "../" steps of link into rest and returns how many there were.
int Cut_ParentDirs(const QString& link, QString& rest);
