#pragma once

#include <QFuture>
#include <QString>
#include <optional>

// Keyring calls may wait on an unlock prompt for as long as the user takes.
// They run one after another on a thread of their own, never on the GUI
// thread and never on the shared pool, whose threads the store and the search
// need meanwhile. Each future gives its answer; nothing escapes as an exception.

// loadEmailFromKeychain(): the stored scrambled address, or nothing.
QFuture<std::optional<QString>> loadEmailFromKeychainLater();

// This machine's secret for `email` (machineSecretFor), or nothing.
QFuture<std::optional<QString>> machineSecretLater(const QString &email);

// What configuring `email` keeps: the address scrambled as given, then the
// machine's secret for it. Gives the secret, or nothing when none is kept.
QFuture<std::optional<QString>> configureKeyringLater(const QString &email);
