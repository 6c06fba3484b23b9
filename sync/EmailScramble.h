#pragma once

#include <QString>
#include <optional>

// The fixed key the e-mail address is scrambled with.
inline constexpr const char *emailXorKey = "KelvaroTideSeedKey199311070945";

// Base64 of the text's UTF-8 bytes XORed with the repeated key bytes.
QString xorEncrypt(const QString &text, const QString &key);

// Strict Base64 in, XOR, UTF-8 out; nothing when either step fails.
std::optional<QString> xorDecrypt(const QString &base64, const QString &key);
