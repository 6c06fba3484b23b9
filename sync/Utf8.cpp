#include "Utf8.h"

#include <QStringDecoder>

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    // Stateless makes a sequence cut off at the end an error instead of a state
    // carried over to a next call that never comes.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}
