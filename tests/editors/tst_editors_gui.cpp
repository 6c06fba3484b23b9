// The editors' QML views driven with mouse and keys in an offscreen window.
#include "EditorTestSupport.h"
#include "EditorWindow.h"

#include "DBError.h"
#include "TodoItem.h"

#include <QGuiApplication>
#include <QQmlProperty>
#include <QtTest>

namespace {

// Every item below `root` in the visual tree with that object name, in
// tree order.
QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    if (!root)
        return found;
    if (root->objectName() == name && root->isVisible())
        found.append(root);
    for (QQuickItem *child : root->childItems())
        found += itemsNamed(child, name);
    return found;
}

QQuickItem *itemNamed(QQuickItem *root, const QString &name)
{
    const QList<QQuickItem *> found = itemsNamed(root, name);
    return found.isEmpty() ? nullptr : found.first();
}

// Rows as the list shows them, top to bottom.
QList<QQuickItem *> byHeight(QList<QQuickItem *> items)
{
    std::sort(items.begin(), items.end(), [](QQuickItem *a, QQuickItem *b) {
        return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
    });
    return items;
}

void click(QQuickView &view, QQuickItem *item)
{
    QVERIFY2(item, "nothing to click");
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

// QTest types whole strings only into widgets; a window gets key by key.
void typeText(QQuickView &view, const QString &text)
{
    for (const QChar character : text)
        QTest::keyClick(&view, character.toLatin1());
}

QString textOf(QQuickItem *item)
{
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

// An editor's view shown in its window for the given screen.
struct ShownEditor {
    ShownEditor(const QString &viewName, const AppState::AppView &screen)
        : window(viewName, &appState, screen.noteId), view(window.view())
    {
        appState.setCurrentView(screen);
        view.show();
    }
    QQuickItem *named(const QString &name) const { return itemNamed(window.root(), name); }
    QList<QQuickItem *> allNamed(const QString &name) const { return byHeight(itemsNamed(window.root(), name)); }
    bool onGrid() const { return appState.currentView() == AppState::AppView::main(); }

    AppState appState;
    EditorWindow window;
    QQuickView &view;
};

QStringList texts(const QList<TodoItem> &items)
{
    QStringList result;
    for (const TodoItem &entry : items)
        result << entry.text;
    return result;
}

QStringList texts(const QList<QQuickItem *> &items)
{
    QStringList result;
    for (QQuickItem *item : items)
        result << textOf(item);
    return result;
}

} // namespace

class EditorsGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_store = std::make_unique<TestHome>(); }
    void cleanupTestCase() { m_store.reset(); }

    void typeSaveAndLeaveANewNote();
    void buildATodoListAndLeave();
    void returnGoesOnInTheNextRow();
    void openAndLeaveAnExistingNoteUnchanged();
    void existingTodoListOpensAsList();
    void rowsAreDeletedBySwipeOrDeleteKey();
    void awkwardTextSurvivesOpeningAndTyping_data();
    void awkwardTextSurvivesOpeningAndTyping();
    void awkwardTodoListSurvivesOpeningAndTyping_data();
    void awkwardTodoListSurvivesOpeningAndTyping();
    void anUntouchedEditorNeverRevertsASync();
    void typedTextOutlivesASync();
    void leavingANoteWhoseRowWentWritesItAnew_data();
    void leavingANoteWhoseRowWentWritesItAnew();
    void tickingKeepsTheItemsText();
    void addedRowIsScrolledIntoView();
    void keysLeaveTheEditorAndStore_data();
    void keysLeaveTheEditorAndStore();
    void keysTakeTheFocusOutOfTheText_data();
    void keysTakeTheFocusOutOfTheText();

private:
    std::unique_ptr<TestHome> m_store;
};

void EditorsGuiTest::typeSaveAndLeaveANewNote()
{
    const QString noteId = DBManager::shared().createNote();
    ShownEditor shown(QStringLiteral("NewItemView"), AppState::AppView::newNote(noteId));
    QQuickView &view = shown.view;
    QVERIFY2(shown.window.root(), qPrintable(view.errors().isEmpty() ? QString() : view.errors().first().toString()));
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QQuickItem *save = shown.named("saveButton");
    QVERIFY(save);
    QVERIFY(!save->isEnabled());
    QVERIFY(shown.named("typePicker")->isEnabled());

    // The text editor takes the keyboard as soon as the editor is shown.
    QTRY_VERIFY(shown.named("contentEditor")->hasActiveFocus());
    typeText(view, "Milk and bread");
    QTRY_VERIFY(save->isEnabled());
    QVERIFY(!shown.named("typePicker")->isEnabled());

    QTest::keyClick(&view, Qt::Key_S, Qt::ControlModifier);
    QQuickItem *saved = shown.named("savedMessage");
    QVERIFY(saved);
    QCOMPARE(textOf(saved), "Saved");
    QCOMPARE(DBManager::shared().fetchNote(noteId).content, QByteArray("Milk and bread"));
    QTRY_VERIFY(!saved->isVisible());

    typeText(view, "!");
    click(view, shown.named("homeButton"));
    QVERIFY(shown.onGrid());
    const Note stored = DBManager::shared().fetchNote(noteId);
    QCOMPARE(stored.content, QByteArray("Milk and bread!"));
    QCOMPARE(stored.type, 1);
}

void EditorsGuiTest::buildATodoListAndLeave()
{
    const QString noteId = DBManager::shared().createNote();
    ShownEditor shown(QStringLiteral("NewItemView"), AppState::AppView::newNote(noteId));
    QQuickView &view = shown.view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    click(view, shown.named("todoType"));
    QTRY_VERIFY(shown.named("addItemButton"));
    QVERIFY(!shown.named("saveButton"));

    // Two presses, one empty row, which takes the keyboard: typing goes
    // straight into it, and Return goes on in the next one.
    click(view, shown.named("addItemButton"));
    QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 1);
    QQuickItem *first = shown.named("itemEditor");
    QTRY_VERIFY(first->hasActiveFocus());
    QVERIFY(!shown.named("typePicker")->isEnabled());

    typeText(view, "milk");
    QTest::keyClick(&view, Qt::Key_Return);
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 2);
    QTRY_VERIFY(shown.allNamed("itemEditor").at(1)->hasActiveFocus());
    typeText(view, "bread");
    QCOMPARE(texts(shown.allNamed("itemEditor")), (QStringList{"milk", "bread"}));

    // Ticking "milk" moves it below "bread".
    click(view, shown.allNamed("checkBox").at(0));
    QTRY_COMPARE(shown.allNamed("doneText").size(), 1);
    QQuickItem *done = shown.named("doneText");
    QCOMPARE(textOf(done), "milk");
    QCOMPARE(textOf(shown.named("itemEditor")), "bread");
    QTRY_VERIFY(done->mapToScene(QPointF()).y() > shown.named("itemEditor")->mapToScene(QPointF()).y());

    click(view, shown.named("homeButton"));
    QVERIFY(shown.onGrid());
    const Note stored = DBManager::shared().fetchNote(noteId);
    QCOMPARE(stored.type, 2);
    const QList<TodoItem> items = decodeTodoItems(stored.content);
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0).text, "milk");
    QVERIFY(items.at(0).isCompleted);
    QCOMPARE(items.at(1).text, "bread");
    QVERIFY(!items.at(1).isCompleted);
}

void EditorsGuiTest::returnGoesOnInTheNextRow()
{
    const Note note = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "abc", false}}), 2);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QQuickView &view = shown.view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QQuickItem *editor = shown.named("itemEditor");
    QVERIFY(editor);
    QCOMPARE(textOf(editor), "abc");
    click(view, editor);
    QTRY_VERIFY(editor->hasActiveFocus());
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Return);

    // The next keys go into a new row, none of them into the old one.
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 2);
    typeText(view, "def");
    QCOMPARE(texts(shown.allNamed("itemEditor")), (QStringList{"abc", "def"}));
    QVERIFY(!editor->hasActiveFocus());

    // Return in an empty row removes it and goes back to the row above.
    QTest::keyClick(&view, Qt::Key_Return);
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 3);
    QTest::keyClick(&view, Qt::Key_Return);
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 2);
    QTRY_VERIFY(shown.allNamed("itemEditor").at(1)->hasActiveFocus());

    // Escape leaves as the home button does, storing the list.
    QTest::keyClick(&view, Qt::Key_Escape);
    QVERIFY(shown.onGrid());
    QCOMPARE(texts(decodeTodoItems(DBManager::shared().fetchNote(note.id).content)), (QStringList{"abc", "def"}));
}

void EditorsGuiTest::openAndLeaveAnExistingNoteUnchanged()
{
    const Note note = storedNote("Call the bank\nabout the card", 1, 1, "Bank", "");
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QQuickView &view = shown.view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QCOMPARE(textOf(shown.named("contentEditor")), "Call the bank\nabout the card");
    QVERIFY(shown.named("typeMark"));
    QVERIFY(!shown.named("typePicker"));

    click(view, shown.named("homeButton"));

    QVERIFY(shown.onGrid());
    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.lastModifiedDate, 1000);
    QCOMPARE(stored.title, "Bank");
    QCOMPARE(stored.isfavorite, 1);
}

void EditorsGuiTest::existingTodoListOpensAsList()
{
    const Note note = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "done", true},
                                                  TodoItem{QUuid::createUuid(), "open", false}}),
                                 2);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QQuickView &view = shown.view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QTRY_VERIFY(shown.named("addItemButton"));
    QVERIFY(!shown.named("saveButton"));
    QCOMPARE(textOf(shown.named("itemEditor")), "open");
    QCOMPARE(textOf(shown.named("doneText")), "done");

    click(view, shown.named("homeButton"));
    QCOMPARE(DBManager::shared().fetchNote(note.id).lastModifiedDate, 1000);
}

void EditorsGuiTest::rowsAreDeletedBySwipeOrDeleteKey()
{
    const Note note = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "done", true},
                                                  TodoItem{QUuid::createUuid(), "first", false},
                                                  TodoItem{QUuid::createUuid(), "second", false}}),
                                 2);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QQuickView &view = shown.view;
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 2);

    // A click on the completed row gives the row itself the focus.
    click(view, shown.named("doneText"));
    QTest::keyClick(&view, Qt::Key_Delete);
    QTRY_VERIFY(!shown.named("doneText"));

    // Dragging the first open row aside past its delete action removes it.
    QQuickItem *row = shown.allNamed("itemEditor").at(0)->parentItem();
    while (row && !row->inherits("QQuickSwipeDelegate"))
        row = row->parentItem();
    QVERIFY(row);
    // Pressed in the row's own margin, not in its text editor.
    const QPoint start = row->mapToScene(QPointF(row->width() - 20, 4)).toPoint();
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, start);
    for (int step = 1; step <= 20; ++step)
        QTest::mouseMove(&view, start - QPoint(step * 20, 0));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, start - QPoint(400, 0));
    QTRY_COMPARE(texts(shown.allNamed("itemEditor")), QStringList{"second"});

    click(view, shown.named("homeButton"));
    const QList<TodoItem> stored = decodeTodoItems(DBManager::shared().fetchNote(note.id).content);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().text, "second");
}

void EditorsGuiTest::awkwardTextSurvivesOpeningAndTyping_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("CR LF") << QByteArray("first\r\nsecond\r\n");
    QTest::newRow("lone CR") << QByteArray("first\rsecond");
    QTest::newRow("no-break space") << QByteArray("10\xC2\xA0kg");
    QTest::newRow("line separator") << QByteArray("one\xE2\x80\xA8two");
    QTest::newRow("paragraph separator") << QByteArray("one\xE2\x80\xA9two");
    QTest::newRow("leading byte order mark") << QByteArray("\xEF\xBB\xBFnote");
    QTest::newRow("tabs") << QByteArray("a\tb\t\tc");
    QTest::newRow("NUL") << QByteArray("a\0b", 3);
    QTest::newRow("not UTF-8") << QByteArray("caf\xE9 \xFF\xFE");
    QTest::newRow("all of them") << QByteArray("\xEF\xBB\xBF" "a\r\nb\rc\xC2\xA0" "d\xE2\x80\xA8" "e\xE2\x80\xA9" "f\t\xFF");
}

void EditorsGuiTest::awkwardTextSurvivesOpeningAndTyping()
{
    QFETCH(QByteArray, content);
    const Note note = storedNote(content, 1);
    {
        ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
        QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
        QVERIFY(shown.named("contentEditor"));
        click(shown.view, shown.named("homeButton"));
        QVERIFY(shown.onGrid());
    }
    Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, content);
    QCOMPARE(stored.lastModifiedDate, 1000);

    // The editor opens with the cursor at the end, ready for typing.
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("contentEditor")->hasActiveFocus());
    typeText(shown.view, "x");
    click(shown.view, shown.named("homeButton"));
    QVERIFY(shown.onGrid());
    stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, content + "x");
    QCOMPARE(stored.type, 1);
}

void EditorsGuiTest::awkwardTodoListSurvivesOpeningAndTyping_data()
{
    QTest::addColumn<QList<TodoItem>>("items");
    const QString separator(QChar(0x2028));
    QTest::newRow("U+2028 in an open item")
        << QList{TodoItem{QUuid::createUuid(), "buy" + separator + "milk", false},
                 TodoItem{QUuid::createUuid(), "done", true}};
    QTest::newRow("U+2028 in a completed item")
        << QList{TodoItem{QUuid::createUuid(), "done" + separator + "twice", true},
                 TodoItem{QUuid::createUuid(), "open", false}};
    QTest::newRow("U+2028 ending an open item, CR LF in a completed one")
        << QList{TodoItem{QUuid::createUuid(), "milk" + separator, false},
                 TodoItem{QUuid::createUuid(), "a\r\nb\u00A0c", true}};
}

void EditorsGuiTest::awkwardTodoListSurvivesOpeningAndTyping()
{
    QFETCH(QList<TodoItem>, items);
    const QByteArray content = encodeTodoItems(items);
    const Note note = storedNote(content, 2);
    {
        ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
        QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
        QTRY_COMPARE(shown.allNamed("itemEditor").size(), 1);
        QCOMPARE(shown.allNamed("doneText").size(), 1);
        QVERIFY(!shown.named("contentEditor"));
        click(shown.view, shown.named("homeButton"));
    }
    Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, content);
    QCOMPARE(stored.lastModifiedDate, 1000);

    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_COMPARE(shown.allNamed("itemEditor").size(), 1);
    QQuickItem *editor = shown.named("itemEditor");
    click(shown.view, editor);
    QTRY_VERIFY(editor->hasActiveFocus());
    QTest::keyClick(&shown.view, Qt::Key_End, Qt::ControlModifier);
    typeText(shown.view, "x");
    click(shown.view, shown.named("homeButton"));

    QList<TodoItem> expected = items;
    for (TodoItem &entry : expected) {
        if (!entry.isCompleted)
            entry.text += "x";
    }
    stored = DBManager::shared().fetchNote(note.id);
    const QList<TodoItem> storedItems = decodeTodoItems(stored.content);
    QCOMPARE(storedItems.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(storedItems.at(i).id, expected.at(i).id);
        QCOMPARE(storedItems.at(i).text, expected.at(i).text);
        QCOMPARE(storedItems.at(i).isCompleted, expected.at(i).isCompleted);
    }
}

// What a sync reply does to a row: the other machine's newer copy replaces it.
Note syncedCopy(const Note &note, const QByteArray &content)
{
    Note newer = note;
    newer.content = content;
    newer.lastModifiedDate = 2000;
    DBManager::shared().upsertNote(newer);
    return newer;
}

void EditorsGuiTest::anUntouchedEditorNeverRevertsASync()
{
    const Note note = storedNote("written here", 1);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QCOMPARE(textOf(shown.named("contentEditor")), "written here");

    syncedCopy(note, "written on the other machine");
    click(shown.view, shown.named("homeButton"));

    QVERIFY(shown.onGrid());
    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(stored.content, QByteArray("written on the other machine"));
    QCOMPARE(stored.lastModifiedDate, 2000);
}

void EditorsGuiTest::typedTextOutlivesASync()
{
    const Note note = storedNote("written here", 1);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("contentEditor")->hasActiveFocus());
    typeText(shown.view, " and typed");

    syncedCopy(note, "written on the other machine");
    click(shown.view, shown.named("homeButton"));

    QCOMPARE(DBManager::shared().fetchNote(note.id).content, QByteArray("written here and typed"));
}

void EditorsGuiTest::leavingANoteWhoseRowWentWritesItAnew_data()
{
    QTest::addColumn<QString>("viewName");
    QTest::newRow("new note") << QStringLiteral("NewItemView");
    QTest::newRow("existing note") << QStringLiteral("NoteDetailView");
}

void EditorsGuiTest::leavingANoteWhoseRowWentWritesItAnew()
{
    QFETCH(QString, viewName);
    const bool isNew = viewName == QLatin1String("NewItemView");
    const QString noteId = isNew ? DBManager::shared().createNote() : storedNote("kept", 1, 1).id;
    ShownEditor shown(viewName, isNew ? AppState::AppView::newNote(noteId) : AppState::AppView::noteDetail(noteId));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("contentEditor")->hasActiveFocus());
    typeText(shown.view, " typed");
    // Purged by a sync, or removed some other way, while the editor is open.
    DBManager::shared().deleteNotePermanently(noteId);

    CapturedOutput printed;
    click(shown.view, shown.named("homeButton"));

    QVERIFY(shown.onGrid());
    QCOMPARE(printed.text(), QString());
    const Note stored = DBManager::shared().fetchNote(noteId);
    QCOMPARE(stored.content, isNew ? QByteArray(" typed") : QByteArray("kept typed"));
    QCOMPARE(stored.type, 1);
    QCOMPARE(stored.isdeleted, false);
    QCOMPARE(stored.isfavorite, isNew ? 0 : 1);
    QVERIFY(stored.lastModifiedDate > 1000);
    const QList<Note> listed = DBManager::shared().fetchAllNotes();
    QVERIFY(std::any_of(listed.begin(), listed.end(), [&](const Note &n) { return n.id == noteId; }));
}

void EditorsGuiTest::tickingKeepsTheItemsText()
{
    const Note note = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "abc", false}}), 2);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("itemEditor"));

    for (int cycle = 0; cycle < 3; ++cycle) {
        click(shown.view, shown.named("checkBox"));
        QTRY_VERIFY(shown.named("doneText"));
        click(shown.view, shown.named("checkBox"));
        QTRY_VERIFY(shown.named("itemEditor"));
        QTRY_COMPARE(textOf(shown.named("itemEditor")), "abc");
    }
    click(shown.view, shown.named("homeButton"));
    const Note stored = DBManager::shared().fetchNote(note.id);
    QCOMPARE(decodeTodoItems(stored.content).at(0).text, "abc");
    // Ticking and unticking leaves the same list: nothing was written.
    QCOMPARE(stored.lastModifiedDate, 1000);
}

void EditorsGuiTest::addedRowIsScrolledIntoView()
{
    QList<TodoItem> items;
    for (int i = 0; i < 40; ++i)
        items.append(TodoItem{QUuid::createUuid(), QStringLiteral("item %1").arg(i), false});
    const Note note = storedNote(encodeTodoItems(items), 2);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("todoList"));
    QQuickItem *list = shown.named("todoList");
    const QRectF visible = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));

    const auto newRowShown = [&] {
        for (QQuickItem *editor : shown.allNamed("itemEditor")) {
            const QRectF place = editor->mapRectToScene(QRectF(0, 0, editor->width(), editor->height()));
            if (textOf(editor).isEmpty() && visible.contains(place))
                return true;
        }
        return false;
    };
    QVERIFY(!newRowShown());
    click(shown.view, shown.named("addItemButton"));
    QTRY_VERIFY(newRowShown());

    // Back at the top, Ctrl+G brings the same empty row back into view.
    QMetaObject::invokeMethod(list, "positionViewAtBeginning");
    QTRY_VERIFY(!newRowShown());
    QTest::keyClick(&shown.view, Qt::Key_G, Qt::ControlModifier);
    QTRY_VERIFY(newRowShown());
}

void EditorsGuiTest::keysLeaveTheEditorAndStore_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    for (const char *view : {"NewItemView", "NoteDetailView"}) {
        QTest::addRow("%s, Escape", view) << view << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::addRow("%s, Ctrl+W", view) << view << int(Qt::Key_W) << int(Qt::ControlModifier);
        QTest::addRow("%s, Alt+Left", view) << view << int(Qt::Key_Left) << int(Qt::AltModifier);
    }
}

void EditorsGuiTest::keysLeaveTheEditorAndStore()
{
    QFETCH(QString, view);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    const bool isNew = view == QLatin1String("NewItemView");
    const QString noteId = isNew ? DBManager::shared().createNote() : storedNote("draft", 1).id;
    ShownEditor shown(view, isNew ? AppState::AppView::newNote(noteId) : AppState::AppView::noteDetail(noteId));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QTRY_VERIFY(shown.named("contentEditor") && shown.named("contentEditor")->hasActiveFocus());
    QTest::keyClick(&shown.view, Qt::Key_End, Qt::ControlModifier);
    typeText(shown.view, " kept");

    QTest::keyClick(&shown.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QVERIFY(shown.onGrid());
    QCOMPARE(DBManager::shared().fetchNote(noteId).content, isNew ? QByteArray(" kept") : QByteArray("draft kept"));
}

void EditorsGuiTest::keysTakeTheFocusOutOfTheText_data()
{
    // The keys, and whether they leave the text rather than type into it.
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("leaves");
    QTest::newRow("Tab types a tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << false;
    QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier) << true;
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Ctrl+Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
}

void EditorsGuiTest::keysTakeTheFocusOutOfTheText()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, leaves);
    const Note note = storedNote("text", 1);
    ShownEditor shown(QStringLiteral("NoteDetailView"), AppState::AppView::noteDetail(note.id));
    QVERIFY(QTest::qWaitForWindowExposed(&shown.view));
    QQuickItem *text = shown.named("contentEditor");
    QTRY_VERIFY(text && text->hasActiveFocus());

    QTest::keyClick(&shown.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(text->hasActiveFocus(), !leaves);
    QCOMPARE(textOf(text), leaves ? "text" : "text\t");
    if (leaves) {
        // The keyboard went to a control the user can see it on.
        QQuickItem *focused = shown.view.activeFocusItem();
        QVERIFY(focused);
        QVERIFY2(focused->property("visualFocus").toBool(), qPrintable(focused->objectName()));
    }
}

QTEST_MAIN(EditorsGuiTest)
#include "tst_editors_gui.moc"
