#include "Keychain.h"

#include "KeyringItem.h"
#include "Utf8.h"

void saveEmailToKeychain(const QString &scrambled)
{
    KeyringItem item;
    saveEmailToKeychain(scrambled, item);
}

void saveEmailToKeychain(const QString &scrambled, KeyringItem &item)
{
    const QByteArray value = scrambled.toUtf8();
    // Callers go on whatever happens here, so neither status is passed back.
    if (item.add(value) == KeyringItem::duplicateItem)
        item.update(value);
}

std::optional<QString> loadEmailFromKeychain()
{
    KeyringItem item;
    return loadEmailFromKeychain(item);
}

std::optional<QString> loadEmailFromKeychain(KeyringItem &item)
{
    QByteArray value;
    if (item.copyMatching(&value) != KeyringItem::success)
        return std::nullopt;
    return strictUtf8(value);
}
