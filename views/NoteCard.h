#pragma once

#include "Note.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <cstdint>

// One note's tile in the grid: a front face with the preview and the time of
// the last change, a back face with turn-back, favourite and delete buttons.
// What opening, deleting and reloading mean is left to the grid, which listens
// to tap(), deleteConfirmed() and flipBack().
class NoteCard : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(NoteCardState)
    Q_PROPERTY(Note note READ note WRITE setNote NOTIFY noteChanged FINAL)
    Q_PROPERTY(bool isFlipped READ isFlipped WRITE setIsFlipped NOTIFY isFlippedChanged FINAL)
    Q_PROPERTY(bool showDeleteConfirmation READ showDeleteConfirmation WRITE setShowDeleteConfirmation NOTIFY showDeleteConfirmationChanged FINAL)
    Q_PROPERTY(bool localIsFavorite READ localIsFavorite NOTIFY localIsFavoriteChanged FINAL)
    Q_PROPERTY(QString previewText READ previewText NOTIFY noteChanged FINAL)
    Q_PROPERTY(QString timeText READ timeText NOTIFY noteChanged FINAL)
    Q_PROPERTY(QString dateText READ dateText NOTIFY noteChanged FINAL)
    Q_PROPERTY(QString fillColorName READ fillColorName NOTIFY noteChanged FINAL)

public:
    explicit NoteCard(QObject *parent = nullptr);

    const Note &note() const { return m_note; }
    // The first note sets the favourite mark; a later version of the note
    // sets it only when its isfavorite differs from the version before.
    void setNote(const Note &note);

    bool isFlipped() const { return m_isFlipped; }
    void setIsFlipped(bool flipped);
    bool showDeleteConfirmation() const { return m_showDeleteConfirmation; }
    void setShowDeleteConfirmation(bool shown);
    bool localIsFavorite() const { return m_localIsFavorite; }

    QString previewText() const { return previewText(m_note.content, m_note.type); }
    QString timeText() const;
    QString dateText() const;
    // "CustomizeBlueColor", "CustomizeYellowColor" or "CardBGColor".
    QString fillColorName() const;

    // The one text the front face shows for a note's stored content.
    static QString previewText(const QByteArray &content, int64_t type);

    Q_INVOKABLE void flip();
    Q_INVOKABLE void toggleFavorite();
    // A single click on the card: opens the note only from the front.
    Q_INVOKABLE void click();
    // The delete confirmation's two answers.
    Q_INVOKABLE void confirmDelete();
    Q_INVOKABLE void cancelDelete();

Q_SIGNALS:
    void noteChanged();
    void isFlippedChanged();
    void showDeleteConfirmationChanged();
    void localIsFavoriteChanged();
    // The front face was clicked.
    void tap();
    // The card has just come back to its front face.
    void flipBack();
    // The user confirmed the deletion.
    void deleteConfirmed();

private:
    void setLocalIsFavorite(bool favorite);

    Note m_note;
    bool m_hasNote = false;
    bool m_isFlipped = false;
    bool m_showDeleteConfirmation = false;
    bool m_localIsFavorite = false;
};
