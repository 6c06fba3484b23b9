#pragma once

#include <QString>
#include <optional>

// Stores the scrambled address in the keyring item of account "toviknotekey"
// (added, or updated when it exists). The outcome is not reported.
void saveEmailToKeychain(const QString &scrambled);

// The stored scrambled address, or nothing.
std::optional<QString> loadEmailFromKeychain();
