#pragma once

#include <QColor>
#include <QHash>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The named colours and icon glyphs every screen looks up, kept in one place so
// that the artwork can change without touching the views.
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor bgColor READ bgColor CONSTANT FINAL)
    Q_PROPERTY(QColor cardBGColor READ cardBGColor CONSTANT FINAL)
    Q_PROPERTY(QColor customizeBlueColor READ customizeBlueColor CONSTANT FINAL)
    Q_PROPERTY(QColor customizeYellowColor READ customizeYellowColor CONSTANT FINAL)
    Q_PROPERTY(QColor favoriteMarkColor READ favoriteMarkColor CONSTANT FINAL)
    Q_PROPERTY(QColor focusRingColor READ focusRingColor CONSTANT FINAL)
    Q_PROPERTY(QString iconFontFamily READ iconFontFamily CONSTANT FINAL)

public:
    explicit Theme(QObject *parent = nullptr);

    // "BGColor", "CardBGColor", "CustomizeBlueColor", "CustomizeYellowColor";
    // an unknown name gives an invalid colour.
    Q_INVOKABLE QColor color(const QString &name) const;

    // The icon font's glyph for a symbol name; an unknown name gives "".
    Q_INVOKABLE QString glyph(const QString &symbol) const;

    QColor bgColor() const { return color(QStringLiteral("BGColor")); }
    QColor cardBGColor() const { return color(QStringLiteral("CardBGColor")); }
    QColor customizeBlueColor() const { return color(QStringLiteral("CustomizeBlueColor")); }
    QColor customizeYellowColor() const { return color(QStringLiteral("CustomizeYellowColor")); }

    // The star on a card's front: dark enough to stand out at 3:1 or more
    // from every card colour.
    static QColor favoriteMarkColor() { return QColor::fromRgb(0xB4, 0x53, 0x09); }

    // The ring round whatever has the keyboard focus: at least 3:1 against
    // the window's background and every card colour.
    static QColor focusRingColor() { return QColor::fromRgb(0x1A, 0x5F, 0xB4); }

    // Family name of the loaded icon font (its own name if loading failed, so
    // the fallback is at least a readable box rather than a wrong letter).
    QString iconFontFamily() const { return m_iconFontFamily; }

    // Every symbol name the views use, for checks that none is missing.
    static QStringList symbolNames();

private:
    QString m_iconFontFamily;
};
