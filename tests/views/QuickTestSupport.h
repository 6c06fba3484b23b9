#pragma once

#include <QList>
#include <QPoint>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickItem>
#include <QString>
#include <QTest>
#include <QWindow>

inline QPoint centreOf(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

// Items by object name in the visual tree: the grid's cards and a popup's
// contents have no QObject parent to find them through.
inline void collectItems(QQuickItem *root, const QString &name, QList<QQuickItem *> &found)
{
    if (root->objectName() == name)
        found << root;
    for (QQuickItem *child : root->childItems())
        collectItems(child, name, found);
}

inline QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    collectItems(root, name, found);
    return found;
}

// QTest types into widgets only; a window gets one key at a time.
inline void typeText(QWindow *window, const QString &text)
{
    for (QChar c : text)
        QTest::keyClick(window, c.toLatin1());
}

// The main screen's QML in its own view, shown; the first load error, or an
// empty text once it is shown.
inline QString showMainScreen(QQuickView &view, QObject *appState, QObject *syncManager)
{
    view.engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
    view.setInitialProperties({{QStringLiteral("appState"), QVariant::fromValue(appState)},
                               {QStringLiteral("syncManager"), QVariant::fromValue(syncManager)}});
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.resize(900, 720);
    view.setSource(QUrl(QStringLiteral("qrc:/qt/qml/TovikNote/Views/MainView.qml")));
    if (view.status() != QQuickView::Ready)
        return view.errors().isEmpty() ? QStringLiteral("not ready") : view.errors().first().toString();
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return QStringLiteral("not exposed");
    return QString();
}
