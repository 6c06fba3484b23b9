#include "Theme.h"

#include <QFontDatabase>

namespace {

const char *const iconFontPath =
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";

struct NamedColor {
    const char *name;
    QRgb value;
};

// Soft, light tones: the cards must stay readable with black text.
constexpr NamedColor namedColors[] = {
    {"BGColor", 0xFFF6F4EF},
    {"CardBGColor", 0xFFE9E6DF},
    {"CustomizeBlueColor", 0xFFCFE3F7},
    {"CustomizeYellowColor", 0xFFFBEBB5},
};

struct SymbolGlyph {
    const char *symbol;
    char16_t codepoint;     // Material Icons private-use code point
};

constexpr SymbolGlyph symbolGlyphs[] = {
    {"arrow.triangle.2.circlepath", 0xe627}, // sync
    {"plus", 0xe145},                        // add
    {"checkmark", 0xe5ca},                   // check
    {"checklist", 0xe6b1},                   // checklist
    {"house.fill", 0xe88a},                  // home
    {"drop.fill", 0xe798},                   // water_drop
    {"star.fill", 0xe838},                   // star
    {"star", 0xe83a},                        // star_border
    {"trash", 0xe872},                       // delete
    {"arrow.uturn.backward", 0xe166},        // undo
    {"checkmark.square", 0xe834},            // check_box
    {"square", 0xe835},                      // check_box_outline_blank
};

QString loadIconFont()
{
    // Loaded once per process: every Theme instance shares the font.
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(iconFontPath));
        const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        return families.isEmpty() ? QStringLiteral("Material Icons") : families.first();
    }();
    return family;
}

} // namespace

Theme::Theme(QObject *parent) : QObject(parent), m_iconFontFamily(loadIconFont()) {}

QColor Theme::color(const QString &name) const
{
    for (const NamedColor &entry : namedColors) {
        if (name == QLatin1String(entry.name))
            return QColor::fromRgba(entry.value);
    }
    return QColor();
}

QString Theme::glyph(const QString &symbol) const
{
    for (const SymbolGlyph &entry : symbolGlyphs) {
        if (symbol == QLatin1String(entry.symbol))
            return QString(QChar(entry.codepoint));
    }
    return QString();
}

QStringList Theme::symbolNames()
{
    QStringList names;
    for (const SymbolGlyph &entry : symbolGlyphs)
        names << QString::fromLatin1(entry.symbol);
    return names;
}
