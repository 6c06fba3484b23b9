#include "NoteDetailView.h"

#include "Console.h"
#include "DBManager.h"

#include <QStringDecoder>

namespace {
std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
}

NoteDetailView::NoteDetailView(QObject *parent) : NoteEditor(parent) {}

void NoteDetailView::loadNote()
{
    Note loaded;
    try {
        loaded = DBManager::shared().fetchNote(noteId());
    } catch (const std::exception &error) {
        printLine(QStringLiteral("Error loading note: ") + errorDescription(error));
        return;
    }
    m_note = loaded;
    const std::optional<QString> text = strictUtf8(loaded.content);
    m_contentUnreadable = !text;
    setContent(text.value_or(QString()));
    // Any kind other than a text note opens as a to-do list.
    setItemType(loaded.type == rawValue(ItemType::note) ? ItemType::note : ItemType::todo);
}

void NoteDetailView::saveNote()
{
    save();
}

bool NoteDetailView::save()
{
    if (!m_note) {
        printLine(QStringLiteral("Error: No current note available"));
        return false;
    }
    // Content that could not be read as text is shown empty; until the user
    // types something, the stored bytes are handed back rather than erased.
    const bool untouched = m_contentUnreadable && content().isEmpty();
    const QByteArray bytes = untouched ? m_note->content : content().toUtf8();
    // Title and file link come from the sync service; the editor does not
    // show them, so it hands them back as loaded instead of erasing them.
    return storeContent(bytes, m_note->title, m_note->isfavorite, m_note->filelink);
}

void NoteDetailView::goHome()
{
    // Without a loaded note there is nothing a retry could store into, so
    // only a failing store keeps the editor open.
    if (!save() && m_note)
        return;
    showGrid();
    callOnSave();
}
