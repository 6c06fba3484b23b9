#pragma once

#include <QByteArray>
#include <QString>

// A note's stored bytes as editable text, and back. Bytes that are not UTF-8
// become stand-ins, the lone code units U+DC80..U+DCFF (one per byte), so the
// text made from any bytes turns back into exactly those bytes. A leading byte
// order mark is text like any other.
QString textFromStoredBytes(const QByteArray &bytes);
QByteArray storedBytesFromText(const QString &text);

// What a text area is given to show for a stored text: stand-ins for bytes
// that are not UTF-8 show as U+FFFD.
QString displayText(const QString &stored);

// One change the user made in a text area, carried over onto the stored text.
struct ShownEdit {
    QString stored;           // the stored text with the change
    QString inserted;         // what the area now holds where it changed
    bool reachesEnd = false;  // the change runs to the end of the area's text
};

// A text area reads some stored texts differently from how they are stored:
// CR LF, a lone CR, U+2028 and U+2029 as LF, a no-break space as a space.
// This carries the change between two readings of the area (`before`, the
// area's reading of `stored`, and `after`) over onto `stored`: only the span
// that changed is replaced, so everything the user did not touch keeps its
// stored form.
ShownEdit spliceShownEdit(const QString &stored, const QString &before, const QString &after);

// A stored text while a text area shows it: the stored form, and the area's
// reading of it.
class ShownText {
public:
    const QString &stored() const { return m_stored; }
    const QString &shown() const { return m_shown; }

    // The stored text was replaced. Until the area reports how it reads the
    // new text, it is taken to show it as displayText() gives it.
    void replace(const QString &stored);
    // The area shows the stored text as `reading`; nothing changed.
    void setReading(const QString &reading) { m_shown = reading; }
    // The user changed the area's text into `reading`.
    ShownEdit edit(const QString &reading);

private:
    QString m_stored;
    QString m_shown;
};
