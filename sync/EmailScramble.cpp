#include "EmailScramble.h"
#include "Utf8.h"

#include <QByteArray>

namespace {

// XOR with the key repeated from its first byte at every multiple of its length,
// without regard to character boundaries; the operation is its own inverse.
QByteArray xorWithKey(QByteArray bytes, const QByteArray &key)
{
    if (key.isEmpty())
        return bytes;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

bool isBase64AlphabetChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Qt's decoder forgives missing padding and stray characters in places; the stored
// value must be exactly what xorEncrypt wrote, so the form is checked first.
bool isStrictBase64(const QByteArray &text)
{
    if (text.size() % 4 != 0)
        return false;
    qsizetype padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    for (qsizetype i = 0; i < text.size() - padding; ++i) {
        if (!isBase64AlphabetChar(text[i]))
            return false;
    }
    return true;
}

} // namespace

QString xorEncrypt(const QString &text, const QString &key)
{
    const QByteArray scrambled = xorWithKey(text.toUtf8(), key.toUtf8());
    return QString::fromLatin1(scrambled.toBase64());
}

std::optional<QString> xorDecrypt(const QString &base64, const QString &key)
{
    // A non-Latin-1 character cannot be Base64; toLatin1 would turn it into '?'.
    for (QChar c : base64) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
    }
    const QByteArray encoded = base64.toLatin1();
    if (!isStrictBase64(encoded))
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;

    const QByteArray plain = xorWithKey(*decoded, key.toUtf8());
    return strictUtf8(plain);
}
