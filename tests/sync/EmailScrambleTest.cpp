#include "EmailScramble.h"

#include <gtest/gtest.h>

namespace {

const QString key = QString::fromLatin1(emailXorKey);

TEST(EmailScramble, KeyIsThirtyAsciiBytes)
{
    EXPECT_EQ(key.toUtf8().size(), 30);
}

// Fixed outputs: the key XORed with itself is all zero bytes, which shows where
// each key byte lands.
TEST(EmailScramble, EncryptsToKnownBase64)
{
    struct Case {
        const char *name;
        QString text;
        QString expected;
    };
    const QString zeros40 = QString(40, QLatin1Char('A'));
    const Case cases[] = {
        {"empty text", QString(), QString()},
        {"key itself gives 30 zero bytes", key, zeros40},
        // byte 30 meets key byte 0 ('K') again: 'J' ^ 'K' = 0x01
        {"key wraps at byte 30", key + QStringLiteral("J"), zeros40 + QStringLiteral("AQ==")},
        {"byte 31 meets key byte 1", key + QStringLiteral("Ke"), zeros40 + QStringLiteral("AAA=")},
        // U+00E9 is C3 A9; C3^'K' = 88, A9^'e' = CC
        {"each UTF-8 byte on its own", QString::fromUtf8("\xC3\xA9"), QStringLiteral("iMw=")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(xorEncrypt(c.text, key), c.expected);
    }
}

TEST(EmailScramble, RoundTrips)
{
    const QString texts[] = {
        QString(),
        QStringLiteral("a@b.c"),
        QStringLiteral("someone.with.a.rather.long.address@example.org"), // past 30 bytes
        QString::fromUtf8("J\xC3\xBCrgen.M\xC3\xBCller@\xE4\xBE\x8B\xE3\x81\x88.jp"),
        QString::fromUtf8("\xF0\x9F\x98\x80@emoji.example"),
        QString::fromUtf8("\xEF\xBB\xBF" "bom@example.org"), // a leading BOM is a character like any other
    };
    for (const QString &text : texts) {
        SCOPED_TRACE(text.toStdString());
        const QString scrambled = xorEncrypt(text, key);
        EXPECT_FALSE(scrambled.contains(QLatin1Char('\n')));
        const auto back = xorDecrypt(scrambled, key);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, text);
    }
}

TEST(EmailScramble, DecryptRejectsWhatIsNotStrictBase64OrUtf8)
{
    const QString good = xorEncrypt(QStringLiteral("someone.with.a.long.address@example.org"), key);
    ASSERT_TRUE(xorDecrypt(good, key).has_value());

    struct Case {
        const char *name;
        QString input;
    };
    const Case cases[] = {
        {"line break inside", good.left(8) + QStringLiteral("\n") + good.mid(8)},
        {"line break at the end", good + QStringLiteral("\n")},
        {"space inside", good.left(4) + QStringLiteral(" ") + good.mid(4)},
        {"padding missing", QStringLiteral("AQ")},
        {"length not a multiple of four", QStringLiteral("AQ=")},
        {"padding in the middle", QStringLiteral("AQ==AAAA")},
        {"three padding characters", QStringLiteral("A===")},
        {"URL-safe alphabet", QStringLiteral("-_-_")},
        {"non-ASCII character", QString::fromUtf8("\xC3\xA9") + QStringLiteral("AAA")},
        // 0xFF after the XOR: B4 ^ 'K' = FF
        {"result is not UTF-8", QStringLiteral("tA==")},
        // a lone C3 lead byte: 88 ^ 'K' = C3
        {"result ends inside a UTF-8 sequence", QStringLiteral("iA==")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(xorDecrypt(c.input, key).has_value());
    }
}

TEST(EmailScramble, EmptyDecryptsToEmpty)
{
    const auto back = xorDecrypt(QString(), key);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->isEmpty());
}

} // namespace
