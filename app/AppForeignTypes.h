#pragma once

#include "MainMenuModel.h"
#include "ProblemNotice.h"

#include <QtQml/qqml.h>

// The main menu's model belongs to the application library; the window's
// menu bar refers to it by type.
struct MainMenuModelForeign {
    Q_GADGET
    QML_FOREIGN(MainMenuModel)
    QML_NAMED_ELEMENT(MainMenuModel)
    QML_UNCREATABLE("The main menu is owned by the application")
};

// The one notice of the process, shown by the window.
struct ProblemNoticeForeign {
    Q_GADGET
    QML_FOREIGN(ProblemNotice)
    QML_NAMED_ELEMENT(ProblemNotice)
    QML_UNCREATABLE("The problem notice is owned by the application")
};
