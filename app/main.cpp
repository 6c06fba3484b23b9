#include "HomeFolder.h"
#include "SceneGraphBackend.h"
#include "SingleInstance.h"
#include "TovikNoteApp.h"

#include <QDir>
#include <QGuiApplication>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(TovikNote_AppPlugin)

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("TovikNote"));
    TovikNoteApp::setUpApplicationIdentity();

    SingleInstance instance(QDir(homeFolder()).filePath(QStringLiteral(".tovik")));
    switch (instance.start()) {
    case SingleInstance::Start::handedOver:
        return 0;
    case SingleInstance::Start::noAnswer:
        std::fputs("TovikNote is running already but does not answer\n", stderr);
        return 1;
    case SingleInstance::Start::first:
    case SingleInstance::Start::unavailable:
        break;
    }
    sceneGraphBackend::applyToApplication();
    TovikNoteApp app;
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &TovikNoteApp::raiseWindow);
    return app.run();
}
