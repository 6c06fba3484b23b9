// The keyring item where no Secret Service answers: the file under ~/.tovik.
// Registered with an empty DBUS_SESSION_BUS_ADDRESS.

#include "EmailScramble.h"
#include "Keychain.h"
#include "KeyringItem.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString key = QString::fromLatin1(emailXorKey);

mode_t permissionsOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class KeyringFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")); }
    TemporaryHome home;
};

TEST_F(KeyringFile, FollowsTheKeychainStatusProtocol)
{
    for (auto backend : {KeyringItem::Backend::file, KeyringItem::Backend::automatic}) {
        SCOPED_TRACE(backend == KeyringItem::Backend::file ? "file" : "automatic");
        QFile::remove(KeyringItem::fallbackPath());
        KeyringItem item(backend);
        QByteArray value = "unchanged";

        EXPECT_EQ(item.copyMatching(&value), KeyringItem::itemNotFound);
        EXPECT_EQ(value, "unchanged");
        EXPECT_EQ(item.update("x"), KeyringItem::itemNotFound);
        EXPECT_FALSE(QFileInfo::exists(KeyringItem::fallbackPath())); // update never creates

        EXPECT_EQ(item.add("first"), KeyringItem::success);
        EXPECT_EQ(item.add("second"), KeyringItem::duplicateItem);
        ASSERT_EQ(item.copyMatching(&value), KeyringItem::success);
        EXPECT_EQ(value, "first"); // a refused add leaves the value alone

        EXPECT_EQ(item.update("second"), KeyringItem::success);
        ASSERT_EQ(item.copyMatching(&value), KeyringItem::success);
        EXPECT_EQ(value, "second");
    }
}

TEST_F(KeyringFile, FileIsOwnerOnlyAndWrittenWhole)
{
    const QString folder = home.path() + QStringLiteral("/.tovik");
    ASSERT_FALSE(QFileInfo::exists(folder));

    saveEmailToKeychain(QStringLiteral("c2NyYW1ibGVk"));

    EXPECT_EQ(KeyringItem::fallbackPath(), folder + QStringLiteral("/keyring"));
    EXPECT_EQ(permissionsOf(folder), mode_t(0700));
    EXPECT_EQ(permissionsOf(KeyringItem::fallbackPath()), mode_t(0600));
    QFile file(KeyringItem::fallbackPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "c2NyYW1ibGVk");

    // The replacement goes through a temporary file that is renamed away.
    saveEmailToKeychain(QStringLiteral("bmV3"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("keyring")});
    EXPECT_EQ(permissionsOf(KeyringItem::fallbackPath()), mode_t(0600));
}

TEST_F(KeyringFile, WhatAKilledSaveLeftIsGoneByTheNextSaveOrLoad)
{
    const QDir folder(home.path() + QStringLiteral("/.tovik"));
    saveEmailToKeychain(QStringLiteral("b2xk"));
    // A save killed after its temporary file was made, before the rename.
    const auto leaveTemporary = [&] {
        QFile left(folder.filePath(QStringLiteral("keyring.Ab12Cd")));
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        left.write("half");
    };
    const QStringList onlyTheItem{QStringLiteral("keyring")};

    leaveTemporary();
    EXPECT_EQ(loadEmailFromKeychain(), std::optional<QString>(QStringLiteral("b2xk")));
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), onlyTheItem);

    leaveTemporary();
    saveEmailToKeychain(QStringLiteral("bmV3"));
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), onlyTheItem);
    EXPECT_EQ(loadEmailFromKeychain(), std::optional<QString>(QStringLiteral("bmV3")));
}

TEST_F(KeyringFile, WithoutHomeTheFileIsInTheAccountsHomeFolder)
{
    const passwd *account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    qputenv("HOME", QByteArray());
    EXPECT_EQ(KeyringItem::fallbackPath(), QFile::decodeName(account->pw_dir) + QStringLiteral("/.tovik/keyring"));
}

TEST_F(KeyringFile, WorksBesideAnExistingStoreFolder)
{
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".tovik")));
    saveEmailToKeychain(QStringLiteral("YQ=="));
    EXPECT_EQ(loadEmailFromKeychain(), std::optional<QString>(QStringLiteral("YQ==")));
}

TEST_F(KeyringFile, SavingAgainReplacesTheAddress)
{
    saveEmailToKeychain(xorEncrypt(QStringLiteral("first@example.org"), key));
    saveEmailToKeychain(xorEncrypt(QStringLiteral("second@example.org"), key));
    const auto stored = loadEmailFromKeychain();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(xorDecrypt(*stored, key), std::optional<QString>(QStringLiteral("second@example.org")));
}

TEST_F(KeyringFile, EmptyAddressIsStoredAsEmptyText)
{
    saveEmailToKeychain(xorEncrypt(QString(), key));
    const auto stored = loadEmailFromKeychain();
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->isEmpty());
    EXPECT_EQ(xorDecrypt(*stored, key), std::optional<QString>(QString()));
}

TEST_F(KeyringFile, UnusableStoredValues)
{
    EXPECT_FALSE(loadEmailFromKeychain().has_value()); // no item

    KeyringItem item(KeyringItem::Backend::file);
    ASSERT_EQ(item.add(QByteArray("\xFF\xFE", 2)), KeyringItem::success);
    EXPECT_FALSE(loadEmailFromKeychain().has_value()); // not UTF-8

    const QString scrambled = xorEncrypt(QStringLiteral("someone.with.a.long.address@example.org"), key);
    ASSERT_EQ(item.update((scrambled.left(10) + QStringLiteral("\n") + scrambled.mid(10)).toUtf8()),
              KeyringItem::success);
    const auto stored = loadEmailFromKeychain();
    ASSERT_TRUE(stored.has_value()); // loads as text...
    EXPECT_FALSE(xorDecrypt(*stored, key).has_value()); // ...but does not unscramble
}

} // namespace
