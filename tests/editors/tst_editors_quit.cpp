// Quitting the application with an editor open keeps what was typed: the
// whole program runs in a child process and is quit from the menu, by
// Ctrl+Q, by quit(), by closing its window, or by SIGTERM or SIGINT.
#include "EditorTestSupport.h"

#include "TodoItem.h"

#include <QProcess>
#include <QtTest>
#include <csignal>

namespace {

const QByteArray typed(" typed before quitting");
constexpr int generousMs = 120000;

} // namespace

class EditorsQuitTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quittingStoresTheOpenEditorsText_data();
    void quittingStoresTheOpenEditorsText();
};

void EditorsQuitTest::quittingStoresTheOpenEditorsText_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("way");
    for (const char *editor : {"new-note", "new-todo", "detail", "detail-todo"}) {
        for (const char *way : {"menu", "ctrl-q", "quit", "close", "SIGTERM", "SIGINT"})
            QTest::addRow("%s, %s", editor, way) << QString(editor) << QString(way);
    }
}

void EditorsQuitTest::quittingStoresTheOpenEditorsText()
{
    QFETCH(QString, editor);
    QFETCH(QString, way);
    TestHome home;
    const TodoItem open{QUuid::createUuid(), "milk", false};
    const TodoItem done{QUuid::createUuid(), "bread", true};
    QString noteId;
    if (editor == "detail")
        noteId = storedNote("first line\r\nsecond line", 1).id;
    else if (editor == "detail-todo")
        noteId = storedNote(encodeTodoItems({open, done}), 2).id;

    const bool bySignal = way.startsWith("SIG");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(EDITORS_QUIT_DRIVER), {editor, bySignal ? QStringLiteral("signal") : way, noteId});
    QVERIFY(child.waitForStarted(generousMs));
    QByteArray printed;
    while (!printed.contains("typed\n") && child.waitForReadyRead(generousMs))
        printed += child.readAllStandardOutput();
    QVERIFY2(printed.contains("typed\n"), printed.constData());
    if (bySignal)
        QCOMPARE(::kill(pid_t(child.processId()), way == "SIGTERM" ? SIGTERM : SIGINT), 0);
    QVERIFY(child.waitForFinished(generousMs));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);

    const QList<Note> notes = DBManager::shared().fetchAllNotes();
    QCOMPARE(notes.size(), 1);
    const Note stored = notes.first();
    if (editor == "new-note") {
        QCOMPARE(stored.content, typed);
    } else if (editor == "detail") {
        QCOMPARE(stored.content, "first line\r\nsecond line" + typed);
    } else {
        QList<TodoItem> items;
        try {
            items = decodeTodoItems(stored.content);
        } catch (const TodoDecodeError &error) {
            QFAIL(error.what());
        }
        const QString openText = editor == "new-todo" ? QString::fromUtf8(typed) : "milk" + QString::fromUtf8(typed);
        QCOMPARE(items.size(), editor == "new-todo" ? 1 : 2);
        QCOMPARE(items.first().text, openText);
        QVERIFY(!items.first().isCompleted);
        if (editor == "detail-todo") {
            QCOMPARE(items.at(1).text, "bread");
            QVERIFY(items.at(1).isCompleted);
        }
    }
}

QTEST_GUILESS_MAIN(EditorsQuitTest)
#include "tst_editors_quit.moc"
