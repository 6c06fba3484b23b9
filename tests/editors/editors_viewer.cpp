// Shows one editor on sample notes in a throw-away home, to look at it:
//   editors_viewer new|new-todo|detail|detail-todo
#include "EditorTestSupport.h"
#include "EditorWindow.h"

#include "TodoItem.h"

#include <QGuiApplication>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("new");
    TestHome store;
    AppState appState;

    QString view = QStringLiteral("NoteDetailView");
    QString noteId;
    if (which.startsWith(QLatin1String("new"))) {
        view = QStringLiteral("NewItemView");
        noteId = DBManager::shared().createNote();
    } else if (which == QLatin1String("detail-todo")) {
        noteId = storedNote(encodeTodoItems({TodoItem{QUuid::createUuid(), "Buy milk", false},
                                             TodoItem{QUuid::createUuid(), "Post the letter", true},
                                             TodoItem{QUuid::createUuid(), "Call the plumber about the kitchen tap, "
                                                                           "which has been dripping since Sunday", false}}),
                            2)
                     .id;
    } else {
        noteId = storedNote("Meeting notes\n\n- budget for next year\n- who takes the minutes", 1).id;
    }
    EditorWindow window(view, &appState, noteId);
    if (!window.root())
        return 1;
    if (which == QLatin1String("new-todo")) {
        QObject *editor = window.root()->property("editor").value<QObject *>();
        editor->setProperty("selectedType", 2);
        QMetaObject::invokeMethod(editor, "addItem");
    }
    QObject::connect(&appState, &AppState::currentViewChanged, &app, &QCoreApplication::quit);
    window.view().show();
    return app.exec();
}
