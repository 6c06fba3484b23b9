#pragma once

#include "MainMenuModel.h"

#include <QtQml/qqml.h>

// The main menu's model belongs to the application library; the window's
// menu bar refers to it by type.
struct MainMenuModelForeign {
    Q_GADGET
    QML_FOREIGN(MainMenuModel)
    QML_NAMED_ELEMENT(MainMenuModel)
    QML_UNCREATABLE("The main menu is owned by the application")
};
