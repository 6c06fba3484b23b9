#pragma once

#include "TovikNoteApp.h"

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Builds the application's real window in `engine` and waits until it is
// shown with its content; null when it did not load or did not appear.
inline QQuickWindow *showAppWindow(TovikNoteApp &app, QQmlApplicationEngine &engine)
{
    if (!app.showWindow(engine))
        return nullptr;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window || !QTest::qWaitForWindowExposed(window))
        return nullptr;
    if (!QTest::qWaitFor([&app] { return app.isContentShown(); }, 10'000))
        return nullptr;
    return window;
}

// The whole application in a home folder of its own, its window shown; the
// window is null when it could not be shown.
struct ShownApp {
    ShownApp()
    {
        qputenv("HOME", home.path().toLocal8Bit());
        app = std::make_unique<TovikNoteApp>();
        window = showAppWindow(*app, engine);
    }
    ~ShownApp() = default;

    QTemporaryDir home;
    std::unique_ptr<TovikNoteApp> app;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
};

// The first item under `root`, itself included, named `name`; null if none.
inline QQuickItem *findItemNamed(QQuickItem *root, const QString &name)
{
    if (root->objectName() == name)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItemNamed(child, name))
            return found;
    }
    return nullptr;
}
