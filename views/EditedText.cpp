#include "EditedText.h"

#include <algorithm>
#include <optional>

namespace {

constexpr char16_t standInBase = 0xDC00;
constexpr char16_t firstStandIn = 0xDC80;
constexpr char16_t lastStandIn = 0xDCFF;
constexpr char16_t replacementCharacter = 0xFFFD;

// A stand-in for a byte is a lone low surrogate in its range; the low half of
// a real surrogate pair can fall into that range too.
bool isStandIn(const QString &text, qsizetype at)
{
    const char16_t unit = text.at(at).unicode();
    if (unit < firstStandIn || unit > lastStandIn)
        return false;
    return at == 0 || !QChar::isHighSurrogate(text.at(at - 1).unicode());
}

// Length of the well-formed UTF-8 sequence at `at` and its code point, or
// nothing: overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
std::optional<std::pair<int, char32_t>> utf8Sequence(const QByteArray &bytes, qsizetype at)
{
    const auto lead = static_cast<unsigned char>(bytes.at(at));
    int length = 0;
    char32_t point = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, point = lead & 0x07, smallest = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + length > bytes.size())
        return std::nullopt;
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes.at(at + k));
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return std::nullopt;
    return std::pair{length, point};
}

void appendUtf8(QByteArray &bytes, char32_t point)
{
    if (point < 0x80) {
        bytes.append(char(point));
    } else if (point < 0x800) {
        bytes.append(char(0xC0 | (point >> 6)));
        bytes.append(char(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        bytes.append(char(0xE0 | (point >> 12)));
        bytes.append(char(0x80 | ((point >> 6) & 0x3F)));
        bytes.append(char(0x80 | (point & 0x3F)));
    } else {
        bytes.append(char(0xF0 | (point >> 18)));
        bytes.append(char(0x80 | ((point >> 12) & 0x3F)));
        bytes.append(char(0x80 | ((point >> 6) & 0x3F)));
        bytes.append(char(0x80 | (point & 0x3F)));
    }
}

bool readsAsLineFeed(char16_t unit)
{
    return unit == u'\r' || unit == 0x2028 || unit == 0x2029;
}

// How the area's reading of one stored character looks: true when the stored
// unit at `storedAt` reads as the shown unit `shown`.
bool readsAs(const QString &stored, qsizetype storedAt, char16_t shown)
{
    const char16_t unit = stored.at(storedAt).unicode();
    if (unit == shown)
        return true;
    if (shown == u'\n')
        return readsAsLineFeed(unit);
    if (shown == u' ')
        return unit == 0x00A0;
    if (shown == replacementCharacter)
        return isStandIn(stored, storedAt);
    return false;
}

bool isCrLf(const QString &text, qsizetype at)
{
    return at >= 0 && at + 1 < text.size() && text.at(at) == u'\r' && text.at(at + 1) == u'\n';
}

// Stored units that one shown unit at this place stands for, walking from the
// front (or from the back), or 0 where the two do not match: the walk stops
// there and what lies beyond counts as changed.
qsizetype stepForward(const QString &stored, qsizetype storedAt, char16_t shown)
{
    if (storedAt >= stored.size())
        return 0;
    if (shown == u'\n' && isCrLf(stored, storedAt))
        return 2;
    return readsAs(stored, storedAt, shown) ? 1 : 0;
}

qsizetype stepBackward(const QString &stored, qsizetype storedEnd, char16_t shown)
{
    if (storedEnd <= 0)
        return 0;
    if (shown == u'\n' && isCrLf(stored, storedEnd - 2))
        return 2;
    return readsAs(stored, storedEnd - 1, shown) ? 1 : 0;
}

} // namespace

QString textFromStoredBytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes.at(at));
        if (byte < 0x80) {
            text.append(QChar(char16_t(byte)));
            ++at;
            continue;
        }
        const auto sequence = utf8Sequence(bytes, at);
        if (!sequence) {
            text.append(QChar(char16_t(standInBase + byte)));
            ++at;
            continue;
        }
        const auto [length, point] = *sequence;
        if (QChar::requiresSurrogates(point)) {
            text.append(QChar(QChar::highSurrogate(point)));
            text.append(QChar(QChar::lowSurrogate(point)));
        } else {
            text.append(QChar(char16_t(point)));
        }
        at += length;
    }
    return text;
}

QByteArray storedBytesFromText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text.at(at).unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < text.size() && QChar::isLowSurrogate(text.at(at + 1).unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, text.at(at + 1).unicode()));
            ++at;
        } else if (isStandIn(text, at)) {
            bytes.append(char(unit - standInBase));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, replacementCharacter);
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

QString displayText(const QString &stored)
{
    QString shown = stored;
    for (qsizetype at = 0; at < shown.size(); ++at) {
        if (isStandIn(stored, at))
            shown[at] = QChar(replacementCharacter);
    }
    return shown;
}

ShownEdit spliceShownEdit(const QString &stored, const QString &before, const QString &after)
{
    const qsizetype beforeSize = before.size();
    const qsizetype afterSize = after.size();
    const qsizetype common = std::min(beforeSize, afterSize);
    qsizetype prefix = 0;
    while (prefix < common && before.at(prefix) == after.at(prefix))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix && before.at(beforeSize - 1 - suffix) == after.at(afterSize - 1 - suffix))
        ++suffix;

    // The untouched readings on either side of the change, matched back to
    // the stored text as far as their readings are known.
    qsizetype storedFrom = 0;
    qsizetype shownFrom = 0;
    while (shownFrom < prefix) {
        const qsizetype step = stepForward(stored, storedFrom, before.at(shownFrom).unicode());
        if (step == 0)
            break;
        storedFrom += step;
        ++shownFrom;
    }
    qsizetype storedTo = stored.size();
    qsizetype shownTo = beforeSize;
    while (shownTo > beforeSize - suffix && storedTo > storedFrom) {
        const qsizetype step = stepBackward(stored, storedTo, before.at(shownTo - 1).unicode());
        if (step == 0 || storedTo - step < storedFrom)
            break;
        storedTo -= step;
        --shownTo;
    }

    const qsizetype keptAtEnd = beforeSize - shownTo;
    ShownEdit edit;
    edit.stored = stored.left(storedFrom) + after.mid(shownFrom, afterSize - keptAtEnd - shownFrom)
            + stored.mid(storedTo);
    edit.inserted = after.mid(prefix, afterSize - suffix - prefix);
    edit.reachesEnd = suffix == 0;
    return edit;
}

void ShownText::replace(const QString &stored)
{
    m_stored = stored;
    m_shown = displayText(stored);
}

ShownEdit ShownText::edit(const QString &reading)
{
    ShownEdit change = spliceShownEdit(m_stored, m_shown, reading);
    m_stored = change.stored;
    m_shown = reading;
    return change;
}
