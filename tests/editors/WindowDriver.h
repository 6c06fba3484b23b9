#pragma once

#include <QList>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <QTest>
#include <algorithm>

// Works the application's real window as a user would: finds its shown items
// by object name, clicks them and types.
class WindowDriver {
public:
    explicit WindowDriver(QQuickWindow *window) : m_window(window) {}

    QQuickWindow *window() const { return m_window; }

    // Every shown item of that name, top to bottom.
    QList<QQuickItem *> named(const QString &name) const
    {
        QList<QQuickItem *> found = shownNamed(m_window->contentItem(), name);
        std::sort(found.begin(), found.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
        });
        return found;
    }

    // The one item of that name once any screen change has faded out, or
    // null when there is none.
    QQuickItem *only(const QString &name) const
    {
        if (!QTest::qWaitFor([&] { return named(name).size() == 1; }))
            return nullptr;
        return named(name).first();
    }

    // False when there was nothing to click.
    bool click(QQuickItem *item) const
    {
        if (!item)
            return false;
        const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        return true;
    }
    bool clickNamed(const QString &name) const { return click(only(name)); }

    // A window takes typing key by key.
    void type(const QString &text) const
    {
        for (const QChar character : text)
            QTest::keyClick(m_window, character.toLatin1());
    }

    static QStringList texts(const QList<QQuickItem *> &items)
    {
        QStringList result;
        for (QQuickItem *item : items)
            result << item->property("text").toString();
        return result;
    }

private:
    static QList<QQuickItem *> shownNamed(QQuickItem *root, const QString &name)
    {
        QList<QQuickItem *> found;
        if (!root || !root->isVisible())
            return found;
        if (root->objectName() == name)
            found.append(root);
        for (QQuickItem *child : root->childItems())
            found += shownNamed(child, name);
        return found;
    }

    QQuickWindow *m_window;
};
