// The addresses one image offers and the choice of the largest JPEG among them.
#include "page_analysis/imagecandidates.h"

#include "platform/nameendings.h"

namespace {

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// The descriptors of one rendition, split as browsers split them: a comma inside parentheses
// does not end them. Moves at past the comma that ends them.
QList<QStringView> readDescriptors(QStringView srcset, qsizetype& at)
{
    QList<QStringView> descriptors;
    qsizetype start = -1;
    int depth = 0;
    for (; at < srcset.size(); ++at) {
        const QChar c = srcset.at(at);
        if (depth == 0 && (isHtmlSpace(c) || c == u',')) {
            if (start >= 0)
                descriptors.append(srcset.sliced(start, at - start));
            start = -1;
            if (c == u',') {
                ++at;
                break;
            }
            continue;
        }
        if (start < 0)
            start = at;
        depth += c == u'(' ? 1 : c == u')' && depth > 0 ? -1 : 0;
    }
    if (start >= 0 && at >= srcset.size())
        descriptors.append(srcset.sliced(start));
    return descriptors;
}

// Fills the candidate's width or density; false when a descriptor is unreadable or repeated,
// which makes browsers drop the rendition.
bool applyDescriptors(ImageCandidate& candidate, const QList<QStringView>& descriptors)
{
    for (const QStringView descriptor : descriptors) {
        const QChar unit = descriptor.back().toLower();
        bool ok = false;
        if (unit == u'w' && candidate.width == 0 && candidate.density == 0) {
            candidate.width = descriptor.chopped(1).toLongLong(&ok);
            ok = ok && candidate.width > 0;
        } else if (unit == u'x' && candidate.width == 0 && candidate.density == 0) {
            candidate.density = descriptor.chopped(1).toDouble(&ok);
            ok = ok && candidate.density > 0;
        } else {
            ok = unit == u'h'; // a height only goes with a width, and says nothing of the size
        }
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

void appendSrcset(
    QList<ImageCandidate>& candidates, QStringView srcset, bool jpegType, bool otherType)
{
    qsizetype at = 0;
    while (at < srcset.size()) {
        while (at < srcset.size() && (isHtmlSpace(srcset.at(at)) || srcset.at(at) == u','))
            ++at;
        const qsizetype start = at;
        while (at < srcset.size() && !isHtmlSpace(srcset.at(at)))
            ++at;
        if (at == start)
            break;
        QStringView address = srcset.sliced(start, at - start);
        QList<QStringView> descriptors;
        // An address that ends in commas has no descriptors: the commas end the rendition.
        if (address.endsWith(u',')) {
            while (address.endsWith(u','))
                address.chop(1);
        } else {
            descriptors = readDescriptors(srcset, at);
        }
        ImageCandidate candidate { address.toString(), ImageCandidate::Origin::Set };
        if (address.isEmpty() || !applyDescriptors(candidate, descriptors))
            continue;
        candidate.jpeg = jpegType || (!otherType && isJpegPath(address));
        candidates.append(candidate);
    }
}

void appendAddress(
    QList<ImageCandidate>& candidates, const QString& value, ImageCandidate::Origin origin)
{
    const QString address = value.trimmed();
    if (!address.isEmpty())
        candidates.append({ address, origin, 0, 0, isJpegPath(address) });
}

qsizetype largestJpeg(const QList<ImageCandidate>& candidates)
{
    qsizetype widest = -1, densest = -1, lazy = -1, src = -1, first = -1;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const ImageCandidate& c = candidates.at(i);
        if (!c.jpeg)
            continue;
        if (c.width > 0 && (widest < 0 || c.width > candidates.at(widest).width))
            widest = i;
        if (c.density > 0 && (densest < 0 || c.density > candidates.at(densest).density))
            densest = i;
        if (c.origin == ImageCandidate::Origin::Lazy && lazy < 0)
            lazy = i;
        if (c.origin == ImageCandidate::Origin::Src && src < 0)
            src = i;
        if (first < 0)
            first = i;
    }
    if (widest >= 0)
        return widest;
    // A plain address stands for 1x: a srcset of "1x" alone does not outrank its lazy address.
    if (densest >= 0 && candidates.at(densest).density > 1)
        return densest;
    for (const qsizetype i : { lazy, src, densest }) {
        if (i >= 0)
            return i;
    }
    return first;
}
