#pragma once

#include "AppState.h"

#include <QFile>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QUrl>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TovikNote_ViewsPlugin)

// One of the editors' QML views shown in a window of its own, handed the
// shared state and the note identifier as the window's root content does.
class EditorWindow {
public:
    EditorWindow(const QString &viewName, AppState *appState, const QString &noteId)
    {
        m_view.engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
        m_view.engine()->addImportPath(QStringLiteral("qrc:/"));
        m_view.setInitialProperties({{QStringLiteral("appState"), QVariant::fromValue<QObject *>(appState)},
                                     {QStringLiteral("noteId"), noteId}});
        m_view.setResizeMode(QQuickView::SizeRootObjectToView);
        m_view.resize(900, 720);
        m_view.setColor(Qt::white);
        m_view.setSource(moduleFile(viewName + QStringLiteral(".qml")));
    }

    // Where the views module keeps a file among the application's resources.
    static QUrl moduleFile(const QString &name)
    {
        for (const QString &prefix : {QStringLiteral("/qt/qml/TovikNote/Views/"), QStringLiteral("/TovikNote/Views/")}) {
            if (QFile::exists(QLatin1Char(':') + prefix + name))
                return QUrl(QStringLiteral("qrc:") + prefix + name);
        }
        return {};
    }

    QQuickView &view() { return m_view; }
    QQuickItem *root() const { return m_view.rootObject(); }

private:
    QQuickView m_view;
};
