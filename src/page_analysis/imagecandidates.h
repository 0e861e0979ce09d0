// The addresses one image offers (its own, its lazy-loading ones, its srcset renditions and those
// of its picture's sources) and the choice of the one to download: the largest JPEG.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

struct ImageCandidate
{
    enum class Origin {
        Lazy, // data-src, data-lazy-src, data-original: the address a script puts in place of src
        Src, // the src attribute
        Set, // one rendition of a srcset or data-srcset
    };

    QString value; // as the page wrote it, character references decoded, blanks trimmed
    Origin origin = Origin::Src;
    qint64 width = 0; // the w descriptor; 0 when it has none
    double density = 0; // the x descriptor; 0 when it has none
    bool jpeg = false;
};

// Appends the renditions of a srcset value, each with its descriptors, in the order written. An
// address is its text up to the next blank; a rendition whose descriptors cannot be read is
// dropped, as browsers drop it. jpegType: the element says its renditions are JPEGs
// (type="image/jpeg"); when false they are JPEGs by their path, unless otherType says they are
// of another format.
void appendSrcset(
    QList<ImageCandidate>& candidates, QStringView srcset, bool jpegType, bool otherType = false);

// Appends one address of an img element (src or a lazy-loading attribute); nothing when blank.
void appendAddress(
    QList<ImageCandidate>& candidates, const QString& value, ImageCandidate::Origin origin);

// The index of the candidate to download: of the JPEGs, the one with the largest w descriptor;
// else, when any has an x descriptor, the largest density (an address without one counts as 1x);
// else the lazy-loading address, then src, then the first. The first wins a tie. -1: no JPEG.
qsizetype largestJpeg(const QList<ImageCandidate>& candidates);
