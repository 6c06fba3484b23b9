#pragma once

#include <QString>
#include <optional>

class KeyringItem;

// Stores the scrambled address in the keyring item of account "toviknotekey"
// (added, or updated when it exists). The outcome is not reported.
void saveEmailToKeychain(const QString &scrambled);
void saveEmailToKeychain(const QString &scrambled, KeyringItem &item);

// The stored scrambled address, or nothing.
std::optional<QString> loadEmailFromKeychain();
std::optional<QString> loadEmailFromKeychain(KeyringItem &item);
