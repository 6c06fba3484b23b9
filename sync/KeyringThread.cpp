#include "KeyringThread.h"

#include "EmailScramble.h"
#include "Keychain.h"
#include "MachineSecret.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Made once and never destroyed: quitting does not wait for a prompt that
// nobody answers.
QThreadPool &keyringThread()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(1);
        // One thread for the whole run, so libsecret's connection stays with it.
        threads->setExpiryTimeout(-1);
        return threads;
    }();
    return *pool;
}

template<typename Call>
QFuture<std::optional<QString>> onKeyringThread(Call call)
{
    return QtConcurrent::run(&keyringThread(), [call = std::move(call)]() -> std::optional<QString> {
        try {
            return call();
        } catch (...) {
            return std::nullopt;
        }
    });
}

} // namespace

QFuture<std::optional<QString>> loadEmailFromKeychainLater()
{
    return onKeyringThread([] { return loadEmailFromKeychain(); });
}

QFuture<std::optional<QString>> machineSecretLater(const QString &email)
{
    return onKeyringThread([email] { return machineSecretFor(email); });
}

QFuture<std::optional<QString>> configureKeyringLater(const QString &email)
{
    return onKeyringThread([email] {
        // The address is kept whatever happens to the secret, as before.
        try {
            saveEmailToKeychain(xorEncrypt(email, QString::fromLatin1(emailXorKey)));
        } catch (...) {
        }
        return machineSecretFor(email);
    });
}
