#pragma once

#include "TovikNoteApp.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>

// Builds the application's real window in `engine` and waits until it is
// shown; null when it did not load or did not appear.
inline QQuickWindow *showAppWindow(TovikNoteApp &app, QQmlApplicationEngine &engine)
{
    if (!app.showWindow(engine))
        return nullptr;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window || !QTest::qWaitForWindowExposed(window))
        return nullptr;
    return window;
}
