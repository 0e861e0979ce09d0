// A page read as browsers parse it, by libgumbo.
#include "page_analysis/parsedpage.h"

#include "page_analysis/imagecandidates.h"
#include "platform/nameendings.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "web/fetcher.h"
#include "web/getlinkurl.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <gumbo.h>

#include <memory>
#include <vector>

namespace {

constexpr qint64 yieldIntervalMs = 10;
constexpr int nodesBetweenClockLooks = 1024;
// About 2 s of parsing and 450 MB of tree at most, for pages that real sites never come near.
constexpr qsizetype maxParsedBytes = 16 * 1024 * 1024;
// The parser looks through its stack of open elements for nearly every tag, so its time grows
// with the tags times their depth: 1 MB of unclosed <div> takes it a minute. This bounds that
// sum (about 3 * 10^8 steps a second), counting every tag not closed as open, which only
// overestimates.
constexpr qint64 maxNestingCost = 300'000'000;

qint64 nestingCost(const QByteArray& html)
{
    static const QByteArrayList voids { "area", "base", "br", "col", "embed", "hr", "img", "input",
        "link", "meta", "source", "track", "wbr", "param" };
    qint64 depth = 0, cost = 0;
    for (qsizetype at = html.indexOf('<'); at >= 0 && at + 1 < html.size();
         at = html.indexOf('<', at + 1)) {
        const bool closing = html.at(at + 1) == '/';
        const qsizetype start = at + (closing ? 2 : 1);
        qsizetype end = start;
        while (end < html.size() && isalnum(uchar(html.at(end))))
            ++end;
        if (end == start)
            continue;
        if (closing) {
            depth = qMax<qint64>(depth - 1, 0);
        } else if (!voids.contains(html.sliced(start, end - start).toLower())) {
            cost += ++depth;
            if (cost > maxNestingCost)
                break;
        }
    }
    return cost;
}

bool isElement(const GumboNode* node, GumboTag tag)
{
    return node && node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag;
}

// libgumbo 0.10 predates <picture>: it parses it as an element of no known tag, whose name only
// its original text tells.
bool isPicture(const GumboNode* node)
{
    if (!isElement(node, GUMBO_TAG_UNKNOWN))
        return false;
    const GumboStringPiece& text = node->v.element.original_tag;
    static constexpr char name[] = "<picture";
    constexpr size_t length = sizeof name - 1;
    if (!text.data || text.length <= length || qstrnicmp(text.data, name, length) != 0)
        return false;
    const char next = text.data[length];
    return next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\n' || next == '\r'
        || next == '\f';
}

// The attribute's value, character references decoded; null when the element has none.
QString attribute(const GumboNode* node, const char* name)
{
    const GumboAttribute* found = gumbo_get_attribute(&node->v.element.attributes, name);
    return found ? QString::fromUtf8(found->value) : QString();
}

const GumboNode* ancestor(const GumboNode* node, GumboTag tag)
{
    for (const GumboNode* up = node->parent; up; up = up->parent) {
        if (isElement(up, tag))
            return up;
    }
    return nullptr;
}

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// A scheme other than the ones the program fetches names nothing to download or read: data:,
// mailto:, javascript:, tel: would otherwise resolve as relative paths.
bool hasOtherScheme(const QString& value)
{
    const qsizetype colon = value.indexOf(u':');
    if (colon <= 0 || !isAsciiLetter(value.at(0)))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const QChar c = value.at(i);
        if (!isAsciiLetter(c) && !c.isDigit() && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    const QStringView scheme = QStringView(value).first(colon);
    return scheme.compare(u"http", Qt::CaseInsensitive) != 0
        && scheme.compare(u"https", Qt::CaseInsensitive) != 0
        && scheme.compare(u"ftp", Qt::CaseInsensitive) != 0;
}

// The type a <source> gives its renditions: JPEG, another format, or not said.
enum class SourceType { Unsaid, Jpeg, Other };

SourceType sourceType(const GumboNode* source)
{
    QString type = attribute(source, "type").trimmed().toLower();
    type.truncate(type.indexOf(u';') < 0 ? type.size() : type.indexOf(u';'));
    if (type.trimmed().isEmpty())
        return SourceType::Unsaid;
    return type.trimmed() == u"image/jpeg" ? SourceType::Jpeg : SourceType::Other;
}

struct ImageRecord
{
    const GumboNode* img = nullptr;
    const GumboNode* noscript = nullptr; // the <noscript> it stands in, if any
    QList<ImageCandidate> candidates;
    QString linkTarget; // the href of the <a> around it when that names a JPEG
    bool twin = false; // its candidates went to the image it stands in for
};

ImageRecord readImage(const GumboNode* img)
{
    ImageRecord record;
    record.img = img;
    record.noscript = ancestor(img, GUMBO_TAG_NOSCRIPT);
    using Origin = ImageCandidate::Origin;
    for (const char* lazy : { "data-src", "data-lazy-src", "data-original" })
        appendAddress(record.candidates, attribute(img, lazy), Origin::Lazy);
    appendAddress(record.candidates, attribute(img, "src"), Origin::Src);
    for (const char* set : { "srcset", "data-srcset" })
        appendSrcset(record.candidates, attribute(img, set), false);
    if (isPicture(img->parent)) {
        const GumboVector& children = img->parent->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* source = static_cast<const GumboNode*>(children.data[i]);
            if (!isElement(source, GUMBO_TAG_SOURCE))
                continue;
            const SourceType type = sourceType(source);
            for (const char* set : { "srcset", "data-srcset" })
                appendSrcset(record.candidates, attribute(source, set), type == SourceType::Jpeg,
                    type == SourceType::Other);
        }
    }
    if (const GumboNode* link = ancestor(img, GUMBO_TAG_A)) {
        const QString href = attribute(link, "href").trimmed();
        if (isJpegPath(href))
            record.linkTarget = href;
    }
    return record;
}

// The img that a <noscript> copy stands in for: the img or <picture> right before the noscript,
// else right after it, as lazy-loading scripts and site generators place them.
const GumboNode* twinOf(const GumboNode* noscript)
{
    const GumboNode* parent = noscript->parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboVector& siblings = parent->v.element.children;
    const auto elementAt = [&](qsizetype at, int step) -> const GumboNode* {
        for (; at >= 0 && at < qsizetype(siblings.length); at += step) {
            const auto* node = static_cast<const GumboNode*>(siblings.data[at]);
            if (node->type == GUMBO_NODE_ELEMENT)
                return node;
        }
        return nullptr;
    };
    const qsizetype at = qsizetype(noscript->index_within_parent);
    for (const GumboNode* next : { elementAt(at - 1, -1), elementAt(at + 1, 1) }) {
        if (isElement(next, GUMBO_TAG_IMG))
            return next;
        if (isPicture(next)) {
            const GumboVector& children = next->v.element.children;
            for (unsigned i = 0; i < children.length; ++i) {
                if (isElement(static_cast<const GumboNode*>(children.data[i]), GUMBO_TAG_IMG))
                    return static_cast<const GumboNode*>(children.data[i]);
            }
        }
    }
    return nullptr;
}

// Lets the event loop run at the start and then every 10 ms; false once blnCancel is set.
class Pacer
{
public:
    explicit Pacer(RunHost& host)
        : m_host(host)
    { }
    bool goOn()
    {
        if (m_clock.isValid()
            && (++m_count % nodesBetweenClockLooks != 0 || m_clock.elapsed() < yieldIntervalMs))
            return true;
        m_host.yield();
        m_clock.start();
        return !m_host.runState().blnCancel;
    }

private:
    RunHost& m_host;
    QElapsedTimer m_clock;
    int m_count = 0;
};

struct GumboDeleter
{
    const GumboOptions* options;
    void operator()(GumboOutput* output) const { gumbo_destroy_output(options, output); }
};

} // namespace

std::optional<ParsedPage> parsePage(RunHost& host, const QString& text, const QString& page)
{
    Pacer pacer(host);
    if (host.runState().blnCancel || !pacer.goOn())
        return std::nullopt;
    GumboOptions options = kGumboDefaultOptions;
    // A broken page could otherwise fill memory with the parser's notes on what is wrong with it.
    options.max_errors = 0;
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > maxParsedBytes || nestingCost(utf8) > maxNestingCost) {
        ParsedPage plain;
        plain.tooComplex = true;
        return plain;
    }
    const std::unique_ptr<GumboOutput, GumboDeleter> tree(
        gumbo_parse_with_options(&options, utf8.constData(), size_t(utf8.size())),
        GumboDeleter { &options });
    if (!tree)
        return ParsedPage {};

    // Collected as written first: the <base href> that all of them resolve against may come last.
    QString baseHref;
    std::vector<ImageRecord> images;
    QHash<const GumboNode*, qsizetype> imageAt;
    QStringList jpegLinks, pageLinks;
    std::vector<const GumboNode*> stack { tree->root };
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (!pacer.goOn())
            return std::nullopt;
        // Template contents are never shown; script and style texts hold no elements anyway.
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement& element = node->v.element;
        for (unsigned i = element.children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(element.children.data[i]));
        switch (element.tag) {
        case GUMBO_TAG_BASE:
            if (baseHref.isNull())
                baseHref = attribute(node, "href").trimmed();
            break;
        case GUMBO_TAG_IMG:
            imageAt.insert(node, qsizetype(images.size()));
            images.push_back(readImage(node));
            break;
        case GUMBO_TAG_A:
        case GUMBO_TAG_AREA:
            jpegLinks.append(attribute(node, "href").trimmed());
            pageLinks.append(jpegLinks.last());
            break;
        case GUMBO_TAG_FRAME:
        case GUMBO_TAG_IFRAME:
            pageLinks.append(attribute(node, "src").trimmed());
            break;
        default:
            break;
        }
    }

    for (ImageRecord& record : images) {
        const GumboNode* shown = record.noscript ? twinOf(record.noscript) : nullptr;
        const auto partner = shown ? imageAt.constFind(shown) : imageAt.constEnd();
        if (partner == imageAt.constEnd() || images[*partner].noscript)
            continue;
        ImageRecord& visible = images[*partner];
        visible.candidates += record.candidates;
        if (visible.linkTarget.isEmpty())
            visible.linkTarget = record.linkTarget;
        record.twin = true;
    }

    QString base = page;
    if (QString resolved; !baseHref.isEmpty() && !hasOtherScheme(baseHref)
        && Get_LinkAbsURL(page, baseHref, resolved))
        base = resolved;
    const auto resolve = [&base](const QString& value) {
        QString absolute;
        if (value.isEmpty() || hasOtherScheme(value) || !Get_LinkAbsURL(base, value, absolute))
            return QString();
        return Cut_URLTail(absolute);
    };
    ParsedPage parsed;
    QSet<QString> seen;
    for (const ImageRecord& record : images) {
        if (record.twin)
            continue;
        const qsizetype chosen = largestJpeg(record.candidates);
        const QString address = resolve(!record.linkTarget.isEmpty() ? record.linkTarget
                : chosen >= 0 ? record.candidates.at(chosen).value
                              : QString());
        if (!address.isEmpty() && !seen.contains(address)) {
            seen.insert(address);
            parsed.images.append(address);
        }
    }
    seen.clear();
    for (const QString& link : std::as_const(jpegLinks)) {
        const QString address = isJpegPath(link) ? resolve(link) : QString();
        if (!address.isEmpty() && !seen.contains(address)) {
            seen.insert(address);
            parsed.jpegLinks.append(address);
        }
    }
    for (const QString& link : std::as_const(pageLinks)) {
        const QString address = resolve(link);
        if (!address.isEmpty() && isPagePath(address))
            parsed.pageLinks.append(address);
    }
    return parsed;
}
