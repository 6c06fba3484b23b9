#include "MachineSecret.h"

#include "KeyringItem.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace {

constexpr qsizetype secretLength = 64;

QByteArray addressDigest(const QString &email)
{
    return QCryptographicHash::hash(email.toLower().toUtf8(), QCryptographicHash::Sha256).toHex();
}

// The item's value: the secret, a line break, the digest of its address.
QByteArray storedForm(const QString &secret, const QString &email)
{
    return secret.toLatin1() + '\n' + addressDigest(email);
}

std::optional<QString> secretIn(const QByteArray &value, const QString &email)
{
    const qsizetype split = value.indexOf('\n');
    if (split < 0 || value.mid(split + 1) != addressDigest(email))
        return std::nullopt;
    const QString secret = QString::fromLatin1(value.left(split));
    if (!isMachineSecret(secret))
        return std::nullopt;
    return secret;
}

// Two syncs may ask at once; both must leave with the one secret that stays.
QMutex &secretLock()
{
    static QMutex lock;
    return lock;
}

} // namespace

QString makeMachineSecret()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words.data()), qsizetype(sizeof(words))).toHex());
}

bool isMachineSecret(const QString &text)
{
    if (text.size() != secretLength)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

std::optional<QString> machineSecretFor(const QString &email)
{
    KeyringItem item(KeyringItem::Backend::automatic, KeyringItem::machineSecretItem);
    return machineSecretFor(email, item);
}

std::optional<QString> machineSecretFor(const QString &email, KeyringItem &item)
{
    const QMutexLocker locked(&secretLock());
    QByteArray value;
    if (item.copyMatching(&value) == KeyringItem::success) {
        if (std::optional<QString> kept = secretIn(value, email))
            return kept;
    }
    const QString secret = makeMachineSecret();
    const QByteArray stored = storedForm(secret, email);
    int status = item.add(stored);
    if (status == KeyringItem::duplicateItem)
        status = item.update(stored);
    if (status != KeyringItem::success)
        return std::nullopt;
    return secret;
}
