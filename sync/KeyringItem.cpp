#include "KeyringItem.h"

#include "HomeFolder.h"

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

class LibsecretClient final : public SecretServiceClient {
public:
    explicit LibsecretClient(const KeyringItem::Name &name) : m_name(name) {}

    std::optional<Lookup> lookup() override
    {
        if (!sessionBusAnnounced())
            return std::nullopt;
        GError *error = nullptr;
        SecretValue *value = secret_password_lookup_binary_sync(itemSchema(), nullptr, &error, "account",
                                                                m_name.account, nullptr);
        if (error) {
            g_error_free(error);
            return std::nullopt;
        }
        Lookup answer;
        if (value) {
            gsize length = 0;
            const gchar *bytes = secret_value_get(value, &length);
            answer.found = true;
            answer.value = QByteArray(bytes, qsizetype(length));
            secret_value_unref(value);
        }
        return answer;
    }

    bool store(const QByteArray &bytes) override
    {
        if (!sessionBusAnnounced())
            return false;
        SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
        GError *error = nullptr;
        // Storing under the same attributes replaces the item's secret.
        const gboolean stored = secret_password_store_binary_sync(itemSchema(), SECRET_COLLECTION_DEFAULT,
                                                                  m_name.label, value, nullptr, &error,
                                                                  "account", m_name.account, nullptr);
        secret_value_unref(value);
        if (error)
            g_error_free(error);
        return stored;
    }

private:
    KeyringItem::Name m_name;
};

SecretServiceClient &libsecretFor(const KeyringItem::Name &name)
{
    static LibsecretClient address(KeyringItem::addressItem);
    static LibsecretClient machineSecret(KeyringItem::machineSecretItem);
    return qstrcmp(name.account, KeyringItem::machineSecretItem.account) == 0 ? machineSecret : address;
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

constexpr const char *temporarySuffix = ".XXXXXX";

// What a save killed between its temporary file and the rename left behind.
void removeStaleTemporaries(const QString &path)
{
    const QFileInfo target(path);
    const QString pattern = target.fileName() + QLatin1Char('.') + QStringLiteral("??????");
    QDir folder = target.absoluteDir();
    for (const QString &name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System))
        folder.remove(name);
}

// The value goes to a temporary file beside the target, reaches the disk, and
// then takes the target's name in one rename: a crash leaves the old value or
// the new one, never part of one.
int fileWrite(const QString &path, const QByteArray &value)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return KeyringItem::ioError;
    removeStaleTemporaries(path);

    QByteArray temporary = QFile::encodeName(path) + temporarySuffix;
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

int fileCopy(const QString &path, QByteArray *value)
{
    removeStaleTemporaries(path);
    QFile file(path);
    if (!file.exists())
        return KeyringItem::itemNotFound;
    if (!file.open(QIODevice::ReadOnly))
        return KeyringItem::ioError;
    *value = file.readAll();
    return file.error() == QFileDevice::NoError ? KeyringItem::success : KeyringItem::ioError;
}

bool fileExists(const QString &path)
{
    return QFileInfo::exists(path);
}

} // namespace

SecretServiceClient &SecretServiceClient::libsecret()
{
    return libsecretFor(KeyringItem::addressItem);
}

KeyringItem::KeyringItem(Backend backend, const Name &name) : KeyringItem(backend, libsecretFor(name), name) {}

KeyringItem::KeyringItem(Backend backend, SecretServiceClient &secretService, const Name &name)
    : m_backend(backend), m_secretService(&secretService), m_name(name)
{
}

QString KeyringItem::fallbackPath(const Name &name)
{
    return homeFolder() + QStringLiteral("/.tovik/") + QString::fromLatin1(name.fileName);
}

// Where the item may be is decided anew by each call: the Secret Service
// can come and go between a save and a load.
int KeyringItem::add(const QByteArray &value)
{
    const std::optional<SecretServiceClient::Lookup> existing = lookUp();
    if (m_backend == Backend::secretService && !existing)
        return notAvailable;
    if (holdsItem(existing))
        return duplicateItem;
    return write(value, existing);
}

int KeyringItem::update(const QByteArray &value)
{
    const std::optional<SecretServiceClient::Lookup> existing = lookUp();
    if (m_backend == Backend::secretService && !existing)
        return notAvailable;
    if (!holdsItem(existing))
        return itemNotFound;
    return write(value, existing);
}

int KeyringItem::copyMatching(QByteArray *value)
{
    const std::optional<SecretServiceClient::Lookup> existing = lookUp();
    switch (m_backend) {
    case Backend::secretService:
        if (!existing)
            return notAvailable;
        if (!existing->found)
            return itemNotFound;
        *value = existing->value;
        return success;
    case Backend::file:
        return fileCopy(fallbackPath(m_name), value);
    case Backend::automatic:
        break;
    }
    // A service that answers "not found" may have refused the save that went
    // to the file instead.
    if (!existing || !existing->found)
        return fileCopy(fallbackPath(m_name), value);
    // Every save the service takes removes the file copy, so one that is still
    // there is a later save that the service could not take then.
    if (fileExists(fallbackPath(m_name)) && fileCopy(fallbackPath(m_name), value) == success)
        return success;
    *value = existing->value;
    return success;
}

bool KeyringItem::holdsItem(const std::optional<SecretServiceClient::Lookup> &existing) const
{
    return (existing && existing->found) || (m_backend != Backend::secretService && fileExists(fallbackPath(m_name)));
}

std::optional<SecretServiceClient::Lookup> KeyringItem::lookUp() const
{
    if (m_backend == Backend::file)
        return std::nullopt;
    return m_secretService->lookup();
}

int KeyringItem::write(const QByteArray &value, const std::optional<SecretServiceClient::Lookup> &existing) const
{
    if (m_backend != Backend::file && existing && m_secretService->store(value)) {
        // The file copy, if any, is older now; left there it would outlive
        // the service's.
        if (m_backend == Backend::automatic && fileExists(fallbackPath(m_name)))
            QFile::remove(fallbackPath(m_name));
        return success;
    }
    if (m_backend == Backend::secretService)
        return notAvailable;
    return fileWrite(fallbackPath(m_name), value);
}
