#pragma once

#include "AppState.h"
#include "NoteListModel.h"
#include "SyncManager.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <vector>

// The note grid: loads the notes into the shared state, orders and narrows
// them for display, creates, opens and deletes notes.
class MainView : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_NAMED_ELEMENT(MainViewState)
    Q_PROPERTY(AppState *appState READ appState WRITE setAppState NOTIFY appStateChanged FINAL)
    Q_PROPERTY(SyncManager *syncManager READ syncManager WRITE setSyncManager NOTIFY syncManagerChanged FINAL)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged FINAL)
    Q_PROPERTY(bool isSearchBarFocused READ isSearchBarFocused WRITE setIsSearchBarFocused NOTIFY isSearchBarFocusedChanged FINAL)
    Q_PROPERTY(NoteListModel *filteredNotes READ filteredNotesModel CONSTANT FINAL)

public:
    explicit MainView(QObject *parent = nullptr);

    AppState *appState() const { return m_appState; }
    void setAppState(AppState *state);
    SyncManager *syncManager() const { return m_syncManager; }
    void setSyncManager(SyncManager *manager);
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    bool isSearchBarFocused() const { return m_isSearchBarFocused; }
    void setIsSearchBarFocused(bool focused);

    // The notes shown: the shared notes, ordered by sortNotes, then narrowed
    // by filterNotes while the search text is not empty. Computed from a
    // cache of each note's searchable text, with the same result.
    QList<Note> filteredNotes() const;
    NoteListModel *filteredNotesModel() { return &m_filteredModel; }

    // Reads the notes from the store; they reach the shared state on the next
    // turn of the event loop.
    Q_INVOKABLE void loadNotes();
    Q_INVOKABLE void addNewNote();
    Q_INVOKABLE void deleteNoteAndReload(const QString &noteId);
    // What a card's click does: opens that note's editor.
    Q_INVOKABLE void openNote(const QString &noteId);

    // Favourites first, then the newest change first; a stable sort.
    static void sortNotes(QList<Note> &notes);
    // The notes whose content, read as UTF-8 and lower-cased, holds the
    // lower-cased search text; canonically equivalent forms match.
    static QList<Note> filterNotes(const QList<Note> &notes, const QString &searchText);
    // The form in which content and search text are compared.
    static QString searchForm(const QString &text);

    // Adaptive grid columns: as many of at least `minimum` width as fit.
    Q_INVOKABLE static int adaptiveColumnCount(qreal width, qreal minimum, qreal spacing);

    void classBegin() override {}
    void componentComplete() override;

Q_SIGNALS:
    void appStateChanged();
    void syncManagerChanged();
    void searchTextChanged();
    void isSearchBarFocusedChanged();

private:
    void rebuildCache();
    void refreshModel();

    QPointer<AppState> m_appState;
    QPointer<SyncManager> m_syncManager;
    QMetaObject::Connection m_notesConnection;
    QString m_searchText;
    bool m_isSearchBarFocused = false;

    // The shared list's indices in display order, and for each position the
    // note's searchable text (null when the content is not UTF-8).
    std::vector<qsizetype> m_sortedOrder;
    std::vector<QString> m_searchableText;
    NoteListModel m_filteredModel;
};
