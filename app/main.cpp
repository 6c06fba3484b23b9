#include "TovikNoteApp.h"

#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("TovikNote"));
    TovikNoteApp app;
    return app.run();
}
