#include "DBManager.h"

#include <QCryptographicHash>
#include <QUuid>

QString sha1Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString makeNoteId(int64_t now)
{
    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-')
            + QString::number(now);
    return sha1Hex(key);
}
