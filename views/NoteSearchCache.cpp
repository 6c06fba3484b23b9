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

// Whether `needle` starts somewhere in `text`, where `is(c, k)` tells whether
// the text's byte c stands for the needle's byte k and `restMatches(at)`
// checks a candidate whole. Candidates are the places where both the first
// and the last byte of the needle fit, sixteen places at a time where the
// processor allows it: few places pass both, whatever the text.
template<typename Is, typename RestMatches>
bool containsWith(QByteArrayView text, QByteArrayView needle, char firstOther, char lastOther, Is is,
                  RestMatches restMatches)
{
    const qsizetype n = needle.size();
    if (n == 0)
        return true;
    if (n > text.size())
        return false;
    const char *data = text.data();
    const qsizetype last = text.size() - n;   // last start position
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i firstAlso = _mm_set1_epi8(firstOther);
    const __m128i lastByte = _mm_set1_epi8(needle[n - 1]);
    const __m128i lastAlso = _mm_set1_epi8(lastOther);
    for (; i + 16 <= last + 1; i += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + n - 1));
        const __m128i startFits = _mm_or_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(starts, firstAlso));
        const __m128i endFits = _mm_or_si128(_mm_cmpeq_epi8(ends, lastByte), _mm_cmpeq_epi8(ends, lastAlso));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(startFits, endFits)));
        while (mask) {
            if (restMatches(data + i + __builtin_ctz(mask)))
                return true;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= last; ++i) {
        if (is(data[i], 0) && is(data[i + n - 1], n - 1) && restMatches(data + i))
            return true;
    }
    return false;
}

// The other spelling of an ASCII lower-case letter, for text whose ASCII
// letters are compared without case.
inline char asciiUpperOf(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - ('a' - 'A')) : c;
}

// `needle` in `text` with the ASCII letters of `text` compared as lower case;
// the needle is already folded.
bool containsAsciiFolded(QByteArrayView text, QByteArrayView needle)
{
    const auto is = [&needle](char c, qsizetype k) { return asciiLower(c) == needle[k]; };
    // The first byte too: the candidates' test lets an upper-case letter in
    // the needle through.
    const auto rest = [&needle](const char *at) {
        for (qsizetype k = 0; k < needle.size(); ++k) {
            if (asciiLower(at[k]) != needle[k])
                return false;
        }
        return true;
    };
    return needle.isEmpty()
        || containsWith(text, needle, asciiUpperOf(needle[0]), asciiUpperOf(needle[needle.size() - 1]), is, rest);
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

// `needle` in `text`, byte for byte. The C library's memmem is slow for the
// short needles typed into a search field.
bool containsBytes(QByteArrayView text, QByteArrayView needle)
{
    if (needle.isEmpty())
        return true;
    const auto is = [&needle](char c, qsizetype k) { return c == needle[k]; };
    const auto rest = [&needle](const char *at) {
        return std::memcmp(at + 1, needle.data() + 1, size_t(needle.size() - 1)) == 0;
    };
    return containsWith(text, needle, needle[0], needle[needle.size() - 1], is, rest);
}

// Calls work(run, begin, end) for each run of `size` indices, `length` at a
// time, spread over the thread pool; returns once every run is done. Each
// call may write only what belongs to its own run.
template<typename Work>
void forEachRun(size_t size, size_t length, Work work)
{
    struct Run {
        size_t index, begin, end;
    };
    std::vector<Run> runs;
    for (size_t begin = 0; begin < size; begin += length)
        runs.push_back({runs.size(), begin, std::min(begin + length, size)});
    QtConcurrent::blockingMap(runs, [&work](const Run &run) { work(run.index, run.begin, run.end); });
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
    const QList<Note> &notes = m_notes;
    const std::vector<uint32_t> &pending = m_pending;
    std::vector<Entry> folded(pending.size());
    forEachRun(pending.size(), run, [&notes, &pending, &folded](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
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
    case Kind::InPlace: return containsAsciiFolded(m_notes.at(position).content, needle);
    case Kind::Copied: return containsBytes(m_copies[entry >> kindBits], needle);
    }
    return false;
}

std::vector<uint32_t> NoteSearchCache::matching(const std::vector<uint32_t> &positions, QByteArrayView needle) const
{
    // Long lists are searched in runs over the thread pool, each worker
    // reading the cache and writing only the matches of its own run; the
    // runs are joined in their order.
    constexpr size_t run = 2048;
    const auto search = [this, &positions, needle](size_t begin, size_t end, std::vector<uint32_t> &found) {
        for (size_t i = begin; i < end; ++i) {
            if (matches(positions[i], needle))
                found.push_back(positions[i]);
        }
    };
    std::vector<uint32_t> shown;
    if (positions.size() < 2 * run) {
        search(0, positions.size(), shown);
        return shown;
    }
    std::vector<std::vector<uint32_t>> found((positions.size() + run - 1) / run);
    forEachRun(positions.size(), run, [&found, &search](size_t index, size_t begin, size_t end) {
        search(begin, end, found[index]);
    });
    size_t total = 0;
    for (const auto &part : found)
        total += part.size();
    shown.reserve(total);
    for (const auto &part : found)
        shown.insert(shown.end(), part.begin(), part.end());
    return shown;
}

qsizetype NoteSearchCache::copiedTexts() const
{
    return qsizetype(m_copies.size());
}
