// The to-do list editor and its rows, working on an embedding editor's state.
#include "NewItemView.h"
#include "TodoListEditor.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

TodoItem item(const QString &text, bool completed = false)
{
    return TodoItem{QUuid::createUuid(), text, completed};
}

// An embedding editor holding a list, with the list editor shown for it.
struct ShownList {
    explicit ShownList(const QList<TodoItem> &items)
    {
        editor.setTodoItems(items);
        editor.setContent(todoContentText(items).value());
        list.setEditor(&editor);
        list.loadTodoItems();
    }

    QList<TodoItem> storedInContent() const { return decodeTodoItems(editor.content().toUtf8()); }

    QStringList shownTexts() const
    {
        QStringList texts;
        for (int i = 0; i < list.rowCount(); ++i)
            texts << list.row(i)->itemText();
        return texts;
    }

    // The open row's editor comes on screen and the user clicks into it.
    TodoItemView *editRow(int position)
    {
        TodoItemView *row = list.row(position);
        row->editorAppeared();
        row->setFocused(true);
        return row;
    }

    NewItemView editor;
    TodoListEditor list;
    QAbstractItemModelTester tester{&list, QAbstractItemModelTester::FailureReportingMode::QtTest};
};

QStringList texts(const QList<TodoItem> &items)
{
    QStringList result;
    for (const TodoItem &entry : items)
        result << entry.text;
    return result;
}

} // namespace

class TodoListEditorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsOpenItemsFirstInStoredOrder_data();
    void showsOpenItemsFirstInStoredOrder();
    void deletesByShownPosition_data();
    void deletesByShownPosition();
    void removingTheLastItemEmptiesTheContent();
    void loadingKeepsTheListWhenContentIsNoList_data();
    void loadingKeepsTheListWhenContentIsNoList();
    void staleRowBindingReadsAsBoundAndDropsWrites();
    void tickingMovesTheSameRowBetweenGroups();
    void tickingNeverChangesTheItemsText();
    void lineBreakAtTheEnd_data();
    void lineBreakAtTheEnd();
    void typingAndErasingALetterRemovesTheItem();
    void typingKeepsWhatTheRowDidNotTouch_data();
    void typingKeepsWhatTheRowDidNotTouch();
    void anAddedRowTakesTheFocus();
};

void TodoListEditorTest::showsOpenItemsFirstInStoredOrder_data()
{
    QTest::addColumn<QList<TodoItem>>("stored");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("open, completed, open") << QList{item("A"), item("B", true), item("C")} << QStringList{"A", "C", "B"};
    QTest::newRow("completed, open") << QList{item("A", true), item("B")} << QStringList{"B", "A"};
    QTest::newRow("all completed") << QList{item("A", true), item("B", true)} << QStringList{"A", "B"};
}

void TodoListEditorTest::showsOpenItemsFirstInStoredOrder()
{
    QFETCH(QList<TodoItem>, stored);
    QFETCH(QStringList, shown);
    ShownList fixture(stored);

    QCOMPARE(texts(fixture.list.sortedItems()), shown);
    QCOMPARE(fixture.shownTexts(), shown);
    // Display order never reaches the stored list or the content.
    QCOMPARE(texts(fixture.editor.todoItems()), texts(stored));
    QCOMPARE(texts(fixture.storedInContent()), texts(stored));
}

void TodoListEditorTest::deletesByShownPosition_data()
{
    QTest::addColumn<QList<TodoItem>>("stored");
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("first row of completed, open") << QList{item("A", true), item("B")} << QList{0} << QStringList{"A"};
    QTest::newRow("two rows across the groups")
        << QList{item("A"), item("B", true), item("C"), item("D")} << QList{1, 3} << QStringList{"A", "D"};
    QTest::newRow("position beyond the rows is ignored")
        << QList{item("A"), item("B")} << QList{1, 7, -1} << QStringList{"A"};
}

void TodoListEditorTest::deletesByShownPosition()
{
    QFETCH(QList<TodoItem>, stored);
    QFETCH(QList<int>, positions);
    QFETCH(QStringList, left);
    ShownList fixture(stored);

    fixture.list.deleteItems(positions);

    QCOMPARE(texts(fixture.editor.todoItems()), left);
    QCOMPARE(texts(fixture.storedInContent()), left);
    QCOMPARE(fixture.list.rowCount(), left.size());
}

void TodoListEditorTest::removingTheLastItemEmptiesTheContent()
{
    const TodoItem only = item("only");
    ShownList fixture({only});
    const QString before = fixture.editor.content();

    fixture.list.deleteItem(QUuid::createUuid());
    QCOMPARE(fixture.editor.content(), before);

    fixture.list.deleteItem(only.id);
    QVERIFY(fixture.editor.todoItems().isEmpty());
    QCOMPARE(fixture.editor.content(), QString());
    QCOMPARE(fixture.list.rowCount(), 0);
}

void TodoListEditorTest::loadingKeepsTheListWhenContentIsNoList_data()
{
    QTest::addColumn<QString>("content");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain text") << QStringLiteral("shopping");
    QTest::newRow("an object") << QStringLiteral(R"({"id":"x"})");
    QTest::newRow("no isCompleted")
        << QStringLiteral(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":"a"}])");
    QTest::newRow("text of the wrong type")
        << QStringLiteral(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","text":1,"isCompleted":false}])");
}

void TodoListEditorTest::loadingKeepsTheListWhenContentIsNoList()
{
    QFETCH(QString, content);
    NewItemView editor;
    editor.setTodoItems({item("kept")});
    editor.setContent(content);
    TodoListEditor list;
    list.setEditor(&editor);

    list.loadTodoItems();

    QCOMPARE(texts(editor.todoItems()), QStringList{"kept"});
    QCOMPARE(editor.content(), content);

    editor.setContent(QString::fromUtf8(encodeTodoItems({item("loaded")})));
    list.loadTodoItems();
    QCOMPARE(texts(editor.todoItems()), QStringList{"loaded"});
    QCOMPARE(list.rowCount(), 1);
}

void TodoListEditorTest::staleRowBindingReadsAsBoundAndDropsWrites()
{
    const TodoItem a = item("A"), b = item("B");
    ShownList fixture({a, b});
    QVERIFY(!fixture.list.binding(item("stranger")));

    const auto boundB = fixture.list.binding(b);
    QVERIFY(boundB);
    QCOMPARE(boundB->get().text, "B");

    // A is removed behind the binding's back: position 1 no longer holds B.
    fixture.list.deleteItem(a.id);
    QVERIFY(!boundB->isLive());
    QCOMPARE(boundB->get().text, "B");
    boundB->set(TodoItem{b.id, "written late", false});
    QCOMPARE(texts(fixture.editor.todoItems()), QStringList{"B"});

    // A fresh binding reaches B at its new position.
    const auto rebound = fixture.list.binding(b);
    rebound->set(TodoItem{b.id, "B2", false});
    QCOMPARE(texts(fixture.editor.todoItems()), QStringList{"B2"});
}

void TodoListEditorTest::tickingMovesTheSameRowBetweenGroups()
{
    ShownList fixture({item("A"), item("B")});
    TodoItemView *rowA = fixture.editRow(0);
    rowA->textEdited("A edited");
    QSignalSpy moves(&fixture.list, &QAbstractItemModel::rowsMoved);

    rowA->toggleCompleted();
    QCOMPARE(fixture.shownTexts(), (QStringList{"B", "A edited"}));
    QCOMPARE(fixture.list.row(1), rowA);
    QVERIFY(rowA->isCompleted());
    QCOMPARE(rowA->text(), "A edited");
    QVERIFY(fixture.storedInContent().at(0).isCompleted);
    QCOMPARE(moves.count(), 1);

    rowA->toggleCompleted();
    QCOMPARE(fixture.list.row(0), rowA);
    QVERIFY(!rowA->isCompleted());
    QVERIFY(!fixture.storedInContent().at(0).isCompleted);
}

void TodoListEditorTest::tickingNeverChangesTheItemsText()
{
    ShownList fixture({item("abc")});
    TodoItemView *row = fixture.editRow(0);
    const QString contentBefore = fixture.editor.content();
    QSignalSpy reshown(row, &TodoItemView::shownTextReplaced);

    // Three times ticked and unticked, the reopened editor on screen each
    // time before the deferred refresh runs.
    for (int cycle = 0; cycle < 3; ++cycle) {
        row->toggleCompleted();
        const int before = reshown.count();
        QVERIFY(QTest::qWaitFor([&] { return reshown.count() > before; }));
        row->toggleCompleted();
        row->editorAppeared();
        const int reopened = reshown.count();
        QVERIFY(QTest::qWaitFor([&] { return reshown.count() > reopened; }));
        QCOMPARE(row->text(), "abc");
    }
    QCOMPARE(fixture.editor.todoItems().at(0).text, "abc");
    QCOMPARE(fixture.editor.content(), contentBefore);

    // A refresh that finds its item gone does nothing.
    row->toggleCompleted();
    fixture.list.deleteItems({0});
    QCoreApplication::processEvents();
    QVERIFY(fixture.editor.todoItems().isEmpty());
    QCOMPARE(fixture.editor.content(), QString());
}

void TodoListEditorTest::lineBreakAtTheEnd_data()
{
    // The list's texts (the first row is edited), what the user made of the
    // first row's text, the texts afterwards in stored order, and the row
    // (as shown) that has the keyboard then; -1 for none.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("focusedRow");
    const QStringList abc{"abc"};
    // A break at the end finishes the entry and goes on in a new item.
    QTest::newRow("Return after abc") << abc << "abc\n" << QStringList{"abc", ""} << 1;
    QTest::newRow("Return inside abc") << abc << "a\nbc" << QStringList{"a\nbc"} << 0;
    QTest::newRow("Return into an empty item") << QStringList{""} << "\n" << QStringList{} << -1;
    QTest::newRow("Return into an empty item above another") << QStringList{"", "keep"} << "\n"
                                                              << QStringList{"keep"} << 0;
    // The empty item already there is the next one; no second one is made.
    QTest::newRow("Return with an empty item below") << QStringList{"abc", "next", ""} << "abc\n"
                                                     << QStringList{"abc", "next", ""} << 2;
    QTest::newRow("CR LF is one break") << abc << "abc\r\n" << QStringList{"abc", ""} << 1;
    QTest::newRow("carriage return") << abc << "abc\r" << QStringList{"abc", ""} << 1;
    QTest::newRow("vertical tab") << abc << "abc\v" << QStringList{"abc", ""} << 1;
    QTest::newRow("form feed") << abc << "abc\f" << QStringList{"abc", ""} << 1;
    QTest::newRow("next line") << abc << QString("abc") + QChar(0x0085) << QStringList{"abc", ""} << 1;
    QTest::newRow("line separator") << abc << QString("abc") + QChar(0x2028) << QStringList{"abc", ""} << 1;
    QTest::newRow("paragraph separator") << abc << QString("abc") + QChar(0x2029) << QStringList{"abc", ""} << 1;
    QTest::newRow("tab is no break") << abc << "abc\t" << QStringList{"abc\t"} << 0;
}

void TodoListEditorTest::lineBreakAtTheEnd()
{
    QFETCH(QStringList, before);
    QFETCH(QString, typed);
    QFETCH(QStringList, stored);
    QFETCH(int, focusedRow);
    QList<TodoItem> items;
    for (const QString &text : before)
        items << item(text);
    ShownList fixture(items);
    TodoItemView *row = fixture.editRow(0);
    QSignalSpy offered(&fixture.list, &TodoListEditor::rowOffered);

    row->textEdited(typed);

    QCOMPARE(texts(fixture.editor.todoItems()), stored);
    QCOMPARE(stored.isEmpty() ? QString() : texts(fixture.storedInContent()).join('|'), stored.join('|'));
    QList<int> focused;
    for (int i = 0; i < fixture.list.rowCount(); ++i) {
        if (fixture.list.row(i)->isFocused())
            focused << i;
    }
    QCOMPARE(focused, focusedRow < 0 ? QList<int>() : QList<int>{focusedRow});
    // The view is told to bring the row it is to focus into sight.
    if (focusedRow > 0)
        QCOMPARE(offered.value(0).value(0).toInt(), focusedRow);
    if (!stored.isEmpty() && fixture.list.row(0) == row)
        QCOMPARE(row->text(), texts(fixture.editor.todoItems()).first());
}

void TodoListEditorTest::typingAndErasingALetterRemovesTheItem()
{
    ShownList fixture({item("keep"), item("")});
    TodoItemView *row = fixture.editRow(1);

    row->textEdited("x");
    QCOMPARE(texts(fixture.storedInContent()), (QStringList{"keep", "x"}));
    row->textEdited("");
    QCOMPARE(texts(fixture.editor.todoItems()), QStringList{"keep"});
    QCOMPARE(texts(fixture.storedInContent()), QStringList{"keep"});
    QCOMPARE(fixture.list.rowCount(), 1);
}

void TodoListEditorTest::typingKeepsWhatTheRowDidNotTouch_data()
{
    // The item's text, how the row's editor reads it, what the user made of
    // that, and the item's text afterwards.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("focused");
    const QString separator(QChar(0x2028));
    const QString noBreak(QChar(0x00A0));
    QTest::newRow("CR LF and no-break space") << "a\r\nb" + noBreak + "c" << "a\nb c" << "a\nb cd"
                                              << "a\r\nb" + noBreak + "cd" << true;
    // Only a break the user types at the end ends the editing.
    QTest::newRow("stored separator at the end") << "milk" + separator << "milk\n" << "mil k\n"
                                                 << "mil k" + separator << true;
    QTest::newRow("Return after a stored separator") << "milk" + separator << "milk\n" << "milk\n\n"
                                                     << "milk" + separator << false;
}

void TodoListEditorTest::typingKeepsWhatTheRowDidNotTouch()
{
    QFETCH(QString, stored);
    QFETCH(QString, reading);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(bool, focused);
    ShownList fixture({item(stored)});
    TodoItemView *row = fixture.editRow(0);
    row->textShown(reading);
    QCOMPARE(fixture.editor.todoItems().at(0).text, stored);

    row->textEdited(typed);

    QCOMPARE(fixture.editor.todoItems().at(0).text, expected);
    QCOMPARE(fixture.storedInContent().at(0).text, expected);
    QCOMPARE(row->isFocused(), focused);
}

void TodoListEditorTest::anAddedRowTakesTheFocus()
{
    NewItemView editor;
    TodoListEditor list;
    list.setEditor(&editor);
    QSignalSpy offered(&list, &TodoListEditor::rowOffered);

    editor.addItem();

    QCOMPARE(list.rowCount(), 1);
    QVERIFY(list.row(0)->isFocused());
    QCOMPARE(offered.count(), 1);
    QCOMPARE(list.row(0)->itemText(), QString());
    // An untouched empty item stays in the list.
    list.row(0)->editorAppeared();
    QCOMPARE(editor.todoItems().size(), 1);
}

QTEST_GUILESS_MAIN(TodoListEditorTest)
#include "tst_todolisteditor.moc"
