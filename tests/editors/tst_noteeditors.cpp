// The two note editors against a real store in a temporary home.
#include "EditorTestSupport.h"
#include "NewItemView.h"
#include "NoteDetailView.h"
#include "TodoListEditor.h"

#include "DBError.h"

#include <QtTest>

namespace {

bool noteExists(const QString &noteId)
{
    try {
        DBManager::shared().fetchNote(noteId);
        return true;
    } catch (const DBError &error) {
        if (error.code() == DBError::Code::noteNotFound)
            return false;
        throw;
    }
}

// An editor handed the shared state with its screen shown, counting onSave.
template <typename Editor>
struct OpenEditor {
    OpenEditor(const QString &noteId, AppState::AppView screen)
    {
        appState.setCurrentView(screen);
        editor.setAppState(&appState);
        editor.setNoteId(noteId);
        editor.setOnSave([this] { ++onSaveCalls; });
    }
    bool onGrid() const { return appState.currentView() == AppState::AppView::main(); }

    AppState appState;
    Editor editor;
    int onSaveCalls = 0;
};

struct NewNote : OpenEditor<NewItemView> {
    NewNote() : OpenEditor(DBManager::shared().createNote(), AppState::AppView::main())
    {
        appState.setCurrentView(AppState::AppView::newNote(editor.noteId()));
    }
};

struct OpenedNote : OpenEditor<NoteDetailView> {
    explicit OpenedNote(const QString &noteId) : OpenEditor(noteId, AppState::AppView::noteDetail(noteId))
    {
        editor.loadNote();
    }
};

} // namespace

class NoteEditorsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_store = std::make_unique<TestHome>(); }
    void cleanupTestCase() { m_store.reset(); }

    void addPressedTwiceGivesOneEmptyItem();
    void leavingANewNoteStoresItsContent_data();
    void leavingANewNoteStoresItsContent();
    void leavingAnEmptyNewNoteRemovesIt();
    void removingTheLastItemThenLeavingRemovesTheNote();
    void savingShowsSavedBriefly();
    void failedSaveOnLeavingKeepsTheNewNoteOpen();
    void failedDiscardKeepsTheEditorOpen();
    void emptyNewNoteWhoseRowWentLeavesQuietly();

    void openingAndLeavingUnchangedWritesNothing_data();
    void openingAndLeavingUnchangedWritesNothing();
    void savingKeepsFavouriteTitleAndFileLink();
    void storedTypeDecidesTheEditor_data();
    void storedTypeDecidesTheEditor();
    void emptiedNoteIsStoredEmpty();
    void noteThatCannotBeLoaded();
    void unreadableContentSurvivesLeaving();
    void failedSaveOnLeavingKeepsTheDetailEditorOpen();
    void leavingStoresOnlyWhatChangedHere_data();
    void leavingStoresOnlyWhatChangedHere();
    void untouchedNoteWhoseRowWentIsNotWrittenBack();
    void quittingStoresWhatLeavingWould_data();
    void quittingStoresWhatLeavingWould();
    void anEditorThatLeftStoresNothingOnQuit();

private:
    std::unique_ptr<TestHome> m_store;
};

void NoteEditorsTest::addPressedTwiceGivesOneEmptyItem()
{
    NewNote open;
    open.editor.setSelectedType(2);

    open.editor.addItem();
    open.editor.addItem();

    QCOMPARE(open.editor.todoItems().size(), 1);
    QCOMPARE(decodeTodoItems(open.editor.content().toUtf8()).size(), 1);
    // With content, the kind can no longer be chosen; white space is text.
    QVERIFY(!open.editor.content().isEmpty());
    QList<TodoItem> items = open.editor.todoItems();
    items[0].text = " ";
    open.editor.setTodoItems(items);
    open.editor.addItem();
    QCOMPARE(open.editor.todoItems().size(), 2);
}

void NoteEditorsTest::leavingANewNoteStoresItsContent_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("type");
    QTest::newRow("text") << QStringLiteral("Groceries: milk") << 1;
    QTest::newRow("only white space") << QStringLiteral("  \n ") << 1;
    QTest::newRow("non-ASCII") << QStringLiteral("Straße ✓") << 1;
    QTest::newRow("to-do list") << QString::fromUtf8(encodeTodoItems({TodoItem{QUuid::createUuid(), "a", false}})) << 2;
}

void NoteEditorsTest::leavingANewNoteStoresItsContent()
{
    QFETCH(QString, content);
    QFETCH(int, type);
    NewNote open;
    open.editor.setSelectedType(type);
    open.editor.setContent(content);

    open.editor.goHome();

    const Note stored = DBManager::shared().fetchNote(open.editor.noteId());
    QCOMPARE(stored.content, content.toUtf8());
    QCOMPARE(stored.type, type);
    QCOMPARE(stored.isfavorite, 0);
    QVERIFY(open.onGrid());
    QCOMPARE(open.onSaveCalls, 1);
}

void NoteEditorsTest::leavingAnEmptyNewNoteRemovesIt()
{
    NewNote open;
    open.editor.setSelectedType(2);
    open.editor.setSelectedType(1);

    open.editor.goHome();

    QVERIFY(!noteExists(open.editor.noteId()));
    QVERIFY(open.onGrid());
    QCOMPARE(open.onSaveCalls, 0);
}

void NoteEditorsTest::removingTheLastItemThenLeavingRemovesTheNote()
{
    NewNote open;
    open.editor.setSelectedType(2);
    TodoListEditor list;
    list.setEditor(&open.editor);
    list.loadTodoItems();
    open.editor.addItem();
    list.row(0)->editorAppeared();
    list.row(0)->textEdited("milk");

    list.deleteItems({0});
    QCOMPARE(open.editor.content(), QString());

    open.editor.goHome();
    QVERIFY(!noteExists(open.editor.noteId()));
    QVERIFY(open.onGrid());
}

void NoteEditorsTest::savingShowsSavedBriefly()
{
    NewNote open;
    open.editor.setContent("draft");

    open.editor.saveNote();

    QCOMPARE(open.editor.savedMessage(), "Saved");
    QCOMPARE(DBManager::shared().fetchNote(open.editor.noteId()).content, QByteArray("draft"));
    QVERIFY(!open.onGrid());
    QTRY_COMPARE(open.editor.savedMessage(), QString());
}

void NoteEditorsTest::failedSaveOnLeavingKeepsTheNewNoteOpen()
{
    NewNote open;
    open.editor.setContent("typed while syncing");
    const AppState::AppView screen = open.appState.currentView();
    {
        DatabaseLock sync;
        CapturedOutput printed;
        open.editor.goHome();
        QVERIFY2(printed.text().startsWith("Error saving note: "), qPrintable(printed.text()));
        QCOMPARE(open.appState.currentView(), screen);
        QCOMPARE(open.editor.content(), "typed while syncing");
        QCOMPARE(open.editor.savedMessage(), QString());
        QCOMPARE(open.onSaveCalls, 0);
    }
    open.editor.goHome();
    QCOMPARE(DBManager::shared().fetchNote(open.editor.noteId()).content, QByteArray("typed while syncing"));
    QVERIFY(open.onGrid());
    QCOMPARE(open.onSaveCalls, 1);
}

void NoteEditorsTest::failedDiscardKeepsTheEditorOpen()
{
    NewNote open;
    {
        DatabaseLock sync;
        CapturedOutput printed;
        open.editor.goHome();
        QVERIFY2(printed.text().startsWith("Error deleting note: "), qPrintable(printed.text()));
        QVERIFY(!open.onGrid());
    }
    open.editor.goHome();
    QVERIFY(!noteExists(open.editor.noteId()));
    QVERIFY(open.onGrid());
}

void NoteEditorsTest::emptyNewNoteWhoseRowWentLeavesQuietly()
{
    NewNote open;
    DBManager::shared().deleteNotePermanently(open.editor.noteId());
    CapturedOutput printed;

    open.editor.goHome();

    QCOMPARE(printed.text(), QString());
    QVERIFY(open.onGrid());
    QVERIFY(!noteExists(open.editor.noteId()));
    QCOMPARE(open.onSaveCalls, 0);
}

void NoteEditorsTest::openingAndLeavingUnchangedWritesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("type");
    QTest::newRow("text note") << QByteArray("a\nb") << 1;
    QTest::newRow("to-do list") << encodeTodoItems({TodoItem{QUuid::createUuid(), "x", true}, TodoItem{QUuid::createUuid(), "y", false}}) << 2;
}

void NoteEditorsTest::openingAndLeavingUnchangedWritesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(int, type);
    const Note note = storedNote(content, type);
    OpenedNote open(note.id);
    // The to-do list editor comes on screen for a list.
    TodoListEditor list;
    list.setEditor(&open.editor);
    list.loadTodoItems();

    open.editor.goHome();

    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.lastModifiedDate, 1000);
    QCOMPARE(stored.content, content);
    QVERIFY(open.onGrid());
    QCOMPARE(open.onSaveCalls, 1);
}

void NoteEditorsTest::savingKeepsFavouriteTitleAndFileLink()
{
    const Note note = storedNote("old", 1, 1, "From the server", "https://files.example/a");
    OpenedNote open(note.id);
    open.editor.setContent("new");

    open.editor.saveNote();

    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, QByteArray("new"));
    QCOMPARE(stored.isfavorite, 1);
    QCOMPARE(stored.title, "From the server");
    QCOMPARE(stored.filelink, "https://files.example/a");
    QVERIFY(stored.lastModifiedDate > 1000);
    QCOMPARE(open.editor.savedMessage(), "Saved");
}

void NoteEditorsTest::storedTypeDecidesTheEditor_data()
{
    QTest::addColumn<int>("storedType");
    QTest::addColumn<int>("shownType");
    QTest::newRow("text note") << 1 << 1;
    QTest::newRow("to-do list") << 2 << 2;
    QTest::newRow("unknown kind") << 7 << 2;
    QTest::newRow("zero") << 0 << 2;
}

void NoteEditorsTest::storedTypeDecidesTheEditor()
{
    QFETCH(int, storedType);
    QFETCH(int, shownType);
    const Note note = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "x", false}}), storedType);
    OpenedNote open(note.id);
    QCOMPARE(open.editor.selectedType(), shownType);

    open.editor.addItem();
    open.editor.goHome();

    QCOMPARE(DBManager::shared().fetchNote(note.id).type, shownType);
}

void NoteEditorsTest::emptiedNoteIsStoredEmpty()
{
    const Note note = storedNote("something", 1);
    OpenedNote open(note.id);
    open.editor.setContent(QString());

    open.editor.goHome();

    QCOMPARE(DBManager::shared().fetchNote(note.id).content, QByteArray());
    QVERIFY(open.onGrid());
}

void NoteEditorsTest::noteThatCannotBeLoaded()
{
    const QString missing = makeNoteId(5);
    std::optional<OpenedNote> open;
    {
        CapturedOutput printed;
        open.emplace(missing);
        QCOMPARE(printed.text(), "Error loading note: noteNotFound\n");
    }
    QCOMPARE(open->editor.content(), QString());
    QCOMPARE(open->editor.selectedType(), 1);

    open->editor.setContent("typed");
    CapturedOutput printed;
    open->editor.saveNote();
    QCOMPARE(printed.text(), "Error: No current note available\n");
    QCOMPARE(open->editor.savedMessage(), QString());
    // Nothing could ever be stored, so leaving is not held up.
    open->editor.goHome();
    QVERIFY(open->onGrid());
    QVERIFY(!noteExists(missing));
}

void NoteEditorsTest::unreadableContentSurvivesLeaving()
{
    const QByteArray unreadable("caf\xe9 \xff", 6);
    const Note note = storedNote(unreadable, 1);
    OpenedNote open(note.id);
    // The bytes that are not UTF-8 show as replacement characters.
    QCOMPARE(open.editor.shownText(), QString::fromUtf8("caf\uFFFD \uFFFD"));

    open.editor.goHome();
    Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, unreadable);
    QCOMPARE(stored.lastModifiedDate, 1000);

    // What the user types in its place is stored as usual.
    OpenedNote again(note.id);
    again.editor.setContent("retyped");
    again.editor.goHome();
    QCOMPARE(DBManager::shared().fetchNote(note.id).content, QByteArray("retyped"));
}

void NoteEditorsTest::failedSaveOnLeavingKeepsTheDetailEditorOpen()
{
    const Note note = storedNote("before", 1);
    OpenedNote open(note.id);
    open.editor.setContent("after");
    {
        DatabaseLock sync;
        CapturedOutput printed;
        open.editor.goHome();
        QVERIFY2(printed.text().startsWith("Error saving note: "), qPrintable(printed.text()));
        QVERIFY(!open.onGrid());
        QCOMPARE(open.editor.content(), "after");
        QCOMPARE(open.onSaveCalls, 0);
    }
    open.editor.goHome();
    QCOMPARE(DBManager::shared().fetchNote(note.id).content, QByteArray("after"));
    QVERIFY(open.onGrid());
    QCOMPARE(open.onSaveCalls, 1);
}

void NoteEditorsTest::leavingStoresOnlyWhatChangedHere_data()
{
    // What happens in the editor before a sync reply replaces the row with
    // another machine's newer copy, and what the row holds after leaving.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("savedBeforeTheSync");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("untouched") << QString() << false << QByteArray("from the other machine");
    QTest::newRow("typed and saved") << QStringLiteral("mine") << true << QByteArray("from the other machine");
    QTest::newRow("typed, not saved") << QStringLiteral("mine") << false << QByteArray("mine");
    QTest::newRow("typed and typed back") << QStringLiteral("loaded") << false << QByteArray("from the other machine");
}

void NoteEditorsTest::leavingStoresOnlyWhatChangedHere()
{
    QFETCH(QString, typed);
    QFETCH(bool, savedBeforeTheSync);
    QFETCH(QByteArray, expected);
    const Note note = storedNote("loaded", 1);
    OpenedNote open(note.id);
    if (!typed.isEmpty()) {
        open.editor.setContent("something else");
        open.editor.setContent(typed);
    }
    if (savedBeforeTheSync)
        open.editor.saveNote();
    Note newer = DBManager::shared().fetchNote(note.id);
    newer.content = "from the other machine";
    newer.lastModifiedDate = 5000;
    DBManager::shared().upsertNote(newer);

    open.editor.goHome();

    QVERIFY(open.onGrid());
    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, expected);
    if (expected == newer.content)
        QCOMPARE(stored.lastModifiedDate, 5000);
}

void NoteEditorsTest::untouchedNoteWhoseRowWentIsNotWrittenBack()
{
    const Note note = storedNote("purged elsewhere", 1);
    OpenedNote open(note.id);
    DBManager::shared().deleteNotePermanently(note.id);

    open.editor.goHome();

    QVERIFY(open.onGrid());
    QVERIFY(!noteExists(note.id));
}

void NoteEditorsTest::quittingStoresWhatLeavingWould_data()
{
    QTest::addColumn<bool>("isNew");
    QTest::addColumn<QString>("typed");
    QTest::newRow("new note with text") << true << QStringLiteral("draft");
    QTest::newRow("empty new note") << true << QString();
    QTest::newRow("edited note") << false << QStringLiteral("edited");
}

void NoteEditorsTest::quittingStoresWhatLeavingWould()
{
    QFETCH(bool, isNew);
    QFETCH(QString, typed);
    std::optional<NewNote> created;
    std::optional<OpenedNote> opened;
    NoteEditor *editor = nullptr;
    if (isNew) {
        created.emplace();
        editor = &created->editor;
    } else {
        opened.emplace(storedNote("before", 1).id);
        editor = &opened->editor;
    }
    editor->setContent(typed);

    editor->storeOnQuit();

    if (typed.isEmpty())
        QVERIFY(!noteExists(editor->noteId()));
    else
        QCOMPARE(DBManager::shared().fetchNote(editor->noteId()).content, typed.toUtf8());
}

void NoteEditorsTest::anEditorThatLeftStoresNothingOnQuit()
{
    // The editor fades out for a moment after leaving; quitting then must
    // not store its copy over what came since.
    const Note note = storedNote("before", 1);
    OpenedNote open(note.id);
    open.editor.setContent("edited");
    open.editor.goHome();
    Note newer = DBManager::shared().fetchNote(note.id);
    newer.content = "from the other machine";
    DBManager::shared().upsertNote(newer);

    open.editor.storeOnQuit();
    open.editor.goHome();

    QCOMPARE(DBManager::shared().fetchNote(note.id).content, QByteArray("from the other machine"));
    QCOMPARE(open.onSaveCalls, 1);
}

QTEST_GUILESS_MAIN(NoteEditorsTest)
#include "tst_noteeditors.moc"
