// The keyring item when the Secret Service comes and goes between a save and a
// load: what a save stored, a load finds. The service here is a stand-in that
// behaves as a desktop keyring does in each state; the real one is driven in
// KeyringSecretServiceTest.

#include "Keychain.h"
#include "KeyringItem.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

enum class Service { present, refusing, absent };

const char *nameOf(Service state)
{
    switch (state) {
    case Service::present: return "present";
    case Service::refusing: return "refusing";
    case Service::absent: return "absent";
    }
    return "?";
}

// Present: an unlocked default collection. Refusing: the service answers, but
// its only collection is locked, so it finds nothing and stores nothing.
// Absent: no answer at all. The item it holds survives every state.
class StandInSecretService : public SecretServiceClient {
public:
    Service state = Service::present;
    std::optional<QByteArray> item;

    std::optional<Lookup> lookup() override
    {
        switch (state) {
        case Service::present: return Lookup{item.has_value(), item.value_or(QByteArray())};
        case Service::refusing: return Lookup{};
        case Service::absent: return std::nullopt;
        }
        return std::nullopt;
    }
    bool store(const QByteArray &value) override
    {
        if (state != Service::present)
            return false;
        item = value;
        return true;
    }
};

constexpr Service kStates[] = {Service::present, Service::refusing, Service::absent};

class KeyringBackends : public ::testing::Test {
protected:
    TemporaryHome home;
    StandInSecretService service;
    KeyringItem item{KeyringItem::Backend::automatic, service};

    void save(Service state, const QString &value)
    {
        service.state = state;
        saveEmailToKeychain(value, item);
    }
    std::optional<QString> load(Service state)
    {
        service.state = state;
        return loadEmailFromKeychain(item);
    }
};

TEST_F(KeyringBackends, LoadFindsWhatOneSaveStored)
{
    for (Service saved : kStates) {
        for (Service loaded : kStates) {
            SCOPED_TRACE(std::string("saved while ") + nameOf(saved) + ", loaded while " + nameOf(loaded));
            service.item.reset();
            QFile::remove(KeyringItem::fallbackPath());

            save(saved, QStringLiteral("c2NyYW1ibGVk"));
            // Only an item kept in the service can be out of reach later: in a
            // locked or unreachable keyring.
            const bool inService = saved == Service::present;
            EXPECT_EQ(service.item.has_value(), inService);
            EXPECT_EQ(QFileInfo::exists(KeyringItem::fallbackPath()), !inService);
            const bool reachable = !inService || loaded == Service::present;
            EXPECT_EQ(load(loaded), reachable ? std::optional<QString>(QStringLiteral("c2NyYW1ibGVk")) : std::nullopt);
        }
    }
}

TEST_F(KeyringBackends, LoadFindsTheLaterOfTwoSaves)
{
    for (Service first : kStates) {
        for (Service second : kStates) {
            for (Service loaded : kStates) {
                SCOPED_TRACE(std::string("saved while ") + nameOf(first) + ", then while " + nameOf(second)
                             + ", loaded while " + nameOf(loaded));
                service.item.reset();
                QFile::remove(KeyringItem::fallbackPath());

                save(first, QStringLiteral("Zmlyc3Q="));
                save(second, QStringLiteral("c2Vjb25k"));
                // The earlier address never comes back, even where the service
                // still holds it and the later one went to the file.
                const bool reachable = second != Service::present || loaded == Service::present;
                EXPECT_EQ(load(loaded),
                          reachable ? std::optional<QString>(QStringLiteral("c2Vjb25k")) : std::nullopt);
            }
        }
    }
}

} // namespace
