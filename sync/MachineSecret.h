#pragma once

#include <QString>
#include <optional>

class KeyringItem;

// This machine's secret for one address: the service knows a machine by it
// and by nothing else. It lives in its own keyring item beside the address,
// together with a digest of the address it was made for, so that a new
// address gets a new secret.

// 256 bits from the system's random source, as 64 lower-case hex characters.
QString makeMachineSecret();

// Whether `text` has the form of a machine secret.
bool isMachineSecret(const QString &text);

// The stored secret when it was made for `email` (compared lower-cased);
// otherwise a new one, stored before it is given. Nothing when a new one could
// not be stored, since a secret that is not kept could never be approved.
// Blocks on the keyring: never call it on the GUI thread.
std::optional<QString> machineSecretFor(const QString &email);
std::optional<QString> machineSecretFor(const QString &email, KeyringItem &item);
