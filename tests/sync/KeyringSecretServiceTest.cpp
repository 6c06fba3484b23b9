// The keyring item in a real Secret Service: run by run-with-keyring.sh inside a
// private D-Bus session with its own unlocked gnome-keyring-daemon.

#include "EmailScramble.h"
#include "Keychain.h"
#include "KeyringItem.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <libsecret/secret.h>

namespace {

// An outside reader of the item, as any libsecret client would look it up.
std::optional<QByteArray> lookUpDirectly()
{
    static const SecretSchema schema = {
        "org.toviknote.Keyring", SECRET_SCHEMA_NONE,
        {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SecretSchemaAttributeType(0)}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    GError *error = nullptr;
    gchar *password = secret_password_lookup_sync(&schema, nullptr, &error, "account", "toviknotekey", nullptr);
    if (error) {
        ADD_FAILURE() << "lookup failed: " << error->message;
        g_error_free(error);
        return std::nullopt;
    }
    if (!password)
        return std::nullopt;
    QByteArray value(password);
    secret_password_free(password);
    return value;
}

class KeyringSecretService : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            << "run this test through run-with-keyring.sh under dbus-run-session";
    }
};

TEST_F(KeyringSecretService, FollowsTheKeychainStatusProtocol)
{
    KeyringItem item(KeyringItem::Backend::secretService);
    QByteArray value;
    ASSERT_EQ(item.copyMatching(&value), KeyringItem::itemNotFound);
    EXPECT_EQ(item.update("x"), KeyringItem::itemNotFound);
    EXPECT_FALSE(lookUpDirectly().has_value());

    EXPECT_EQ(item.add("first"), KeyringItem::success);
    EXPECT_EQ(item.add("second"), KeyringItem::duplicateItem);
    ASSERT_EQ(item.copyMatching(&value), KeyringItem::success);
    EXPECT_EQ(value, "first");

    EXPECT_EQ(item.update("second"), KeyringItem::success);
    ASSERT_EQ(item.copyMatching(&value), KeyringItem::success);
    EXPECT_EQ(value, "second");
    EXPECT_EQ(lookUpDirectly(), std::optional<QByteArray>("second"));
    EXPECT_FALSE(QFileInfo::exists(KeyringItem::fallbackPath()));
}

TEST_F(KeyringSecretService, AddressGoesToTheServiceNotTheFile)
{
    const QString key = QString::fromLatin1(emailXorKey);
    saveEmailToKeychain(xorEncrypt(QStringLiteral("first@example.org"), key));
    saveEmailToKeychain(xorEncrypt(QStringLiteral("Second@Example.org"), key));

    const auto stored = loadEmailFromKeychain();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(xorDecrypt(*stored, key), std::optional<QString>(QStringLiteral("Second@Example.org")));
    EXPECT_EQ(lookUpDirectly(), std::optional<QByteArray>(stored->toUtf8()));
    EXPECT_FALSE(QFileInfo::exists(KeyringItem::fallbackPath()));
}

// Locks every collection of the service: it still answers, but finds and
// stores nothing until unlocked.
void lockEverything()
{
    GError *error = nullptr;
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &error);
    ASSERT_NE(service, nullptr) << (error ? error->message : "no service");
    GList *collections = secret_service_get_collections(service);
    ASSERT_NE(collections, nullptr);
    GList *locked = nullptr;
    secret_service_lock_sync(service, collections, nullptr, &locked, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    EXPECT_EQ(g_list_length(locked), g_list_length(collections));
    g_list_free_full(locked, g_object_unref);
    g_list_free_full(collections, g_object_unref);
    g_object_unref(service);
    if (error)
        g_error_free(error);
}

// Last in this file: nothing unlocks the keyring again.
TEST_F(KeyringSecretService, LockedKeyringSendsTheAddressToTheFileAndLoadFindsItThere)
{
    lockEverything();
    const QString key = QString::fromLatin1(emailXorKey);
    saveEmailToKeychain(xorEncrypt(QStringLiteral("while@locked.org"), key));
    EXPECT_TRUE(QFileInfo::exists(KeyringItem::fallbackPath()));
    const auto stored = loadEmailFromKeychain();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(xorDecrypt(*stored, key), std::optional<QString>(QStringLiteral("while@locked.org")));
}

} // namespace
