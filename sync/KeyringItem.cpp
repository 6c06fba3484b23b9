#include "KeyringItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <libsecret/secret.h>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const SecretSchema *itemSchema()
{
    static const SecretSchema schema = {
        "org.toviknote.Keyring",
        SECRET_SCHEMA_NONE,
        {
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SecretSchemaAttributeType(0)},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

bool sessionBusAnnounced()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

// --- Secret Service -------------------------------------------------------------
// Each helper gives nothing when the service did not answer, so that the caller
// can fall back to the file.

struct LookupAnswer {
    bool found = false;
    QByteArray value;
};

std::optional<LookupAnswer> secretLookup()
{
    if (!sessionBusAnnounced())
        return std::nullopt;
    GError *error = nullptr;
    SecretValue *value = secret_password_lookup_binary_sync(itemSchema(), nullptr, &error, "account",
                                                            KeyringItem::account, nullptr);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    LookupAnswer answer;
    if (value) {
        gsize length = 0;
        const gchar *bytes = secret_value_get(value, &length);
        answer.found = true;
        answer.value = QByteArray(bytes, qsizetype(length));
        secret_value_unref(value);
    }
    return answer;
}

bool secretStore(const QByteArray &bytes)
{
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    GError *error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(itemSchema(), SECRET_COLLECTION_DEFAULT,
                                                              "TovikNote", value, nullptr, &error,
                                                              "account", KeyringItem::account, nullptr);
    secret_value_unref(value);
    if (error)
        g_error_free(error);
    return stored;
}

std::optional<int> secretAdd(const QByteArray &value)
{
    const auto existing = secretLookup();
    if (!existing)
        return std::nullopt;
    if (existing->found)
        return KeyringItem::duplicateItem;
    if (!secretStore(value))
        return std::nullopt;
    return KeyringItem::success;
}

std::optional<int> secretUpdate(const QByteArray &value)
{
    const auto existing = secretLookup();
    if (!existing)
        return std::nullopt;
    if (!existing->found)
        return KeyringItem::itemNotFound;
    // Storing under the same attributes replaces the item's secret.
    if (!secretStore(value))
        return std::nullopt;
    return KeyringItem::success;
}

std::optional<int> secretCopy(QByteArray *value)
{
    const auto existing = secretLookup();
    if (!existing)
        return std::nullopt;
    if (!existing->found)
        return KeyringItem::itemNotFound;
    *value = existing->value;
    return KeyringItem::success;
}

// --- File -------------------------------------------------------------------------

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// The value goes to a temporary file beside the target, reaches the disk, and
// then takes the target's name in one rename: a crash leaves the old value or
// the new one, never part of one.
int fileWrite(const QByteArray &value)
{
    const QString path = KeyringItem::fallbackPath();
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return KeyringItem::ioError;

    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data()); // created 0600
    if (fd < 0)
        return KeyringItem::ioError;
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, value) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temporary.constData());
        return KeyringItem::ioError;
    }
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return KeyringItem::success;
}

int fileCopy(QByteArray *value)
{
    QFile file(KeyringItem::fallbackPath());
    if (!file.exists())
        return KeyringItem::itemNotFound;
    if (!file.open(QIODevice::ReadOnly))
        return KeyringItem::ioError;
    *value = file.readAll();
    return file.error() == QFileDevice::NoError ? KeyringItem::success : KeyringItem::ioError;
}

int fileAdd(const QByteArray &value)
{
    if (QFileInfo::exists(KeyringItem::fallbackPath()))
        return KeyringItem::duplicateItem;
    return fileWrite(value);
}

int fileUpdate(const QByteArray &value)
{
    if (!QFileInfo::exists(KeyringItem::fallbackPath()))
        return KeyringItem::itemNotFound;
    return fileWrite(value);
}

template<typename SecretCall, typename FileCall>
int onBackend(KeyringItem::Backend backend, SecretCall secretCall, FileCall fileCall)
{
    if (backend != KeyringItem::Backend::file) {
        if (const std::optional<int> status = secretCall())
            return *status;
        if (backend == KeyringItem::Backend::secretService)
            return KeyringItem::notAvailable;
    }
    return fileCall();
}

} // namespace

KeyringItem::KeyringItem(Backend backend) : m_backend(backend) {}

QString KeyringItem::fallbackPath()
{
    return QDir::homePath() + QStringLiteral("/.tovik/keyring");
}

int KeyringItem::add(const QByteArray &value)
{
    return onBackend(m_backend, [&] { return secretAdd(value); }, [&] { return fileAdd(value); });
}

int KeyringItem::update(const QByteArray &value)
{
    return onBackend(m_backend, [&] { return secretUpdate(value); }, [&] { return fileUpdate(value); });
}

int KeyringItem::copyMatching(QByteArray *value)
{
    return onBackend(m_backend, [&] { return secretCopy(value); }, [&] { return fileCopy(value); });
}
