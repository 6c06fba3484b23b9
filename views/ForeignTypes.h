#pragma once

#include "AppState.h"
#include "SyncManager.h"

#include <QtQml/qqml.h>

// The state objects are owned by the application and live in libraries of
// their own; these entries make their types known to the views' QML so that
// a view can declare `required property AppState appState`.
struct AppStateForeign {
    Q_GADGET
    QML_FOREIGN(AppState)
    QML_NAMED_ELEMENT(AppState)
    QML_UNCREATABLE("AppState is owned by the application")
};

struct SyncManagerForeign {
    Q_GADGET
    QML_FOREIGN(SyncManager)
    QML_NAMED_ELEMENT(SyncManager)
    QML_UNCREATABLE("SyncManager is owned by the application")
};
