#include "NoteSearchCache.h"

#include "AppState.h"
#include "NoteIdMatcher.h"
#include "Utf8.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

// Whether `text` lower-cased in its ASCII letters alone is `folded`.
bool equalsAsciiLowered(QByteArrayView text, QByteArrayView folded)
{
    if (text.size() != folded.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i]) != folded[i])
            return false;
    }
    return true;
}

bool restMatches(const char *at, QByteArrayView needle)
{
    for (qsizetype k = 1; k < needle.size(); ++k) {
        if (asciiLower(at[k]) != needle[k])
            return false;
    }
    return true;
}

// `needle` in `text` with the ASCII letters of `text` compared as lower case;
// the needle is already folded. Candidates for the first byte are found
// sixteen bytes at a time where the processor allows it.
bool containsAsciiFolded(QByteArrayView text, QByteArrayView needle)
{
    if (needle.size() > text.size())
        return false;
    const char first = needle[0];
    const bool letter = first >= 'a' && first <= 'z';
    const char other = letter ? char(first - ('a' - 'A')) : first;
    const char *data = text.data();
    const qsizetype last = text.size() - needle.size();   // last start position
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i lower = _mm_set1_epi8(first);
    const __m128i upper = _mm_set1_epi8(other);
    for (; i + 16 <= last + 1; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        unsigned mask = unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, lower), _mm_cmpeq_epi8(chunk, upper))));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            if (restMatches(data + i + bit, needle))
                return true;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= last; ++i) {
        if ((data[i] == first || data[i] == other) && restMatches(data + i, needle))
            return true;
    }
    return false;
}

// `text` in the compared form, as UTF-8. A normalisation boundary falls
// before every ASCII character, since none combines with what precedes it,
// and lower-casing looks at no neighbour; so only the runs that hold other
// characters, each with the ASCII character before it that may combine with
// it, go through the slow Unicode steps, and the rest is lowered byte by byte.
QByteArray foldedText(const QString &text)
{
    QByteArray folded;
    folded.reserve(text.size() + text.size() / 8);
    const char16_t *data = reinterpret_cast<const char16_t *>(text.constData());
    const qsizetype size = text.size();
    // An ASCII character that no other character follows: it combines with nothing.
    const auto standsAlone = [data, size](qsizetype i) {
        return data[i] < 0x80 && (i + 1 == size || data[i + 1] < 0x80);
    };
    qsizetype i = 0;
    while (i < size) {
        if (standsAlone(i)) {
            qsizetype end = i + 1;
            while (end < size && standsAlone(end))
                ++end;
            const qsizetype at = folded.size();
            folded.resize(at + (end - i));
            char *out = folded.data() + at;
            for (; i < end; ++i)
                *out++ = asciiLower(char(data[i]));
            continue;
        }
        qsizetype end = i + 1;
        while (end < size && !standsAlone(end))
            ++end;
        folded += NoteSearchCache::foldedNeedle(text.sliced(i, end - i));
        i = end;
    }
    return folded;
}

bool containsBytes(QByteArrayView text, QByteArrayView needle)
{
    return memmem(text.data(), size_t(text.size()), needle.data(), size_t(needle.size())) != nullptr;
}

} // namespace

NoteSearchCache::NoteSearchCache(QObject *parent) : QObject(parent) {}

NoteSearchCache *NoteSearchCache::of(AppState *state)
{
    if (!state)
        return nullptr;
    if (auto *cache = state->findChild<NoteSearchCache *>(QString(), Qt::FindDirectChildrenOnly))
        return cache;
    return new NoteSearchCache(state);
}

QByteArray NoteSearchCache::foldedNeedle(const QString &searchText)
{
    // Lower-case first, then compose: both sides end in the same canonical
    // form, so a precomposed and a decomposed letter compare equal.
    return searchText.toLower().normalized(QString::NormalizationForm_C).toUtf8();
}

NoteSearchCache::Entry NoteSearchCache::entryFor(const QByteArray &content)
{
    Entry entry;
    const std::optional<QString> text = strictUtf8(content);
    if (!text)
        return entry;
    QByteArray folded = foldedText(*text);
    if (equalsAsciiLowered(content, folded)) {
        entry.kind = Kind::InPlace;
    } else {
        entry.kind = Kind::Copied;
        entry.folded = std::move(folded);
    }
    return entry;
}

void NoteSearchCache::append(std::vector<uint32_t> &entries, std::vector<QByteArray> &copies, Entry entry)
{
    if (entry.kind == Kind::Copied) {
        entries.push_back(uint32_t(copies.size()) << kindBits | uint32_t(Kind::Copied));
        copies.push_back(std::move(entry.folded));
    } else {
        entries.push_back(uint32_t(entry.kind));
    }
}

void NoteSearchCache::store(uint32_t position, Entry entry)
{
    if (entry.kind == Kind::Copied) {
        m_entries[position] = uint32_t(m_copies.size()) << kindBits | uint32_t(Kind::Copied);
        m_copies.push_back(std::move(entry.folded));
    } else {
        m_entries[position] = uint32_t(entry.kind);
    }
}

void NoteSearchCache::update(const QList<Note> &notes)
{
    if (describes(notes))
        return;
    std::vector<uint32_t> entries;
    std::vector<QByteArray> copies;
    entries.reserve(size_t(notes.size()));
    NoteIdMatcher matcher(m_notes.size(), [this](qsizetype position) -> const QString & {
        return m_notes.at(position).id;
    });
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const Note &note = notes.at(i);
        const qsizetype old = matcher.find(note.id);
        Entry entry;
        if (old >= 0 && m_notes.at(old).content == note.content) {
            entry.kind = kindAt(size_t(old));
            if (entry.kind == Kind::Copied)
                entry.folded = m_copies[m_entries[size_t(old)] >> kindBits];   // shares the folded text
        } else {
            entry.kind = isAscii(note.content) ? Kind::InPlace : Kind::Pending;
        }
        append(entries, copies, std::move(entry));
    }
    m_entries = std::move(entries);
    m_copies = std::move(copies);
    m_notes = notes;
    m_pending.clear();
    for (size_t i = m_entries.size(); i > 0; --i) {
        if (kindAt(i - 1) == Kind::Pending)
            m_pending.push_back(uint32_t(i - 1));
    }
    schedule();
}

void NoteSearchCache::schedule()
{
    if (m_pending.empty() || m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        foldSome();
        schedule();
    });
}

void NoteSearchCache::foldSome()
{
    // A few milliseconds at a time, so a frame or a key is never held up long.
    QElapsedTimer elapsed;
    elapsed.start();
    while (!m_pending.empty() && elapsed.nsecsElapsed() < 4'000'000) {
        for (int i = 0; i < 64 && !m_pending.empty(); ++i)
            foldNext();
    }
}

void NoteSearchCache::foldNext()
{
    const uint32_t position = m_pending.back();
    m_pending.pop_back();
    store(position, entryFor(m_notes.at(position).content));
}

void NoteSearchCache::foldPending()
{
    // A search is waiting: the folding is spread over the thread pool in
    // runs of positions, each worker reading the notes and writing only the
    // results of its own run while this thread waits, so nothing changes the
    // notes meanwhile; the results are stored here afterwards.
    constexpr size_t run = 512;
    if (m_pending.size() < 2 * run) {
        while (!m_pending.empty())
            foldNext();
        return;
    }
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t begin = 0; begin < m_pending.size(); begin += run)
        runs.emplace_back(begin, std::min(begin + run, m_pending.size()));
    const QList<Note> &notes = m_notes;
    const std::vector<uint32_t> &pending = m_pending;
    std::vector<Entry> folded(pending.size());
    QtConcurrent::blockingMap(runs, [&notes, &pending, &folded](const std::pair<size_t, size_t> &range) {
        for (size_t i = range.first; i < range.second; ++i)
            folded[i] = entryFor(notes.at(pending[i]).content);
    });
    for (size_t i = 0; i < pending.size(); ++i)
        store(pending[i], std::move(folded[i]));
    m_pending.clear();
}

bool NoteSearchCache::matches(qsizetype position, QByteArrayView needle) const
{
    const uint32_t entry = m_entries[size_t(position)];
    switch (Kind(entry & kindMask)) {
    case Kind::NotUtf8:
    case Kind::Pending: return false;
    case Kind::InPlace:
        return needle.isEmpty() || containsAsciiFolded(m_notes.at(position).content, needle);
    case Kind::Copied: return needle.isEmpty() || containsBytes(m_copies[entry >> kindBits], needle);
    }
    return false;
}

qsizetype NoteSearchCache::copiedTexts() const
{
    return qsizetype(m_copies.size());
}
