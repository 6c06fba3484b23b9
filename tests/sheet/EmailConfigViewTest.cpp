#include "EmailConfigView.h"
#include "MessageTiming.h"

#include <QCoro/QCoroSignal>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>

namespace {

struct AddressCase {
    const char *address;
    bool accepted;
};

class EmailPatternTest : public testing::TestWithParam<AddressCase> {};

TEST_P(EmailPatternTest, MatchesTheWholeText)
{
    const auto &c = GetParam();
    EXPECT_EQ(EmailConfigView::isValidEmail(QString::fromUtf8(c.address)), c.accepted) << c.address;
}

INSTANTIATE_TEST_SUITE_P(Addresses, EmailPatternTest,
                         testing::Values(
                             AddressCase{"ann@example.com", true},
                             AddressCase{"Ann.Lee@Example.COM", true},
                             AddressCase{"a.b-c_d+e%f@mail.example.co.uk", true},
                             AddressCase{"x@my-host.example-mail.org", true},
                             AddressCase{"x@example.museum", true},
                             AddressCase{"ann@example.abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcd", true},
                             AddressCase{"", false},
                             AddressCase{" ann@example.com", false},
                             AddressCase{"ann@example.com ", false},
                             AddressCase{"ann@example.c", false},
                             AddressCase{"ann@example.c0m", false},
                             AddressCase{"ann@example.abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcde", false},
                             AddressCase{"ann@exa_mple.com", false},
                             AddressCase{"ann@exa+mple.com", false},
                             AddressCase{"ann@exa%mple.com", false},
                             AddressCase{"annexample.com", false},
                             AddressCase{"ann@examplecom", false},
                             AddressCase{"ann@@example.com", false},
                             AddressCase{"ann@example.com\n", false},
                             AddressCase{"änn@example.com", false}));

// Hands the answer of a pending save to the waiting callback.
class Answer : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void given(ServerResult result);
};

// A presenter with its own flag and a save callback whose answer the test gives.
struct Presenter {
    bool presented = true;
    std::optional<QString> received;
    Answer pending;
    bool waiting = false;

    std::function<void(ServerResult)> answer = [this](ServerResult r) { Q_EMIT pending.given(r); };

    EmailConfigView::PresentedBinding binding()
    {
        return {[this] { return presented; }, [this](bool value) { presented = value; }};
    }
    // The coroutine is a member, not the lambda: a lambda coroutine reads its
    // captures from the closure, which lives in the sheet's callback and goes
    // with the sheet, while the answer may come after the sheet is gone.
    QCoro::Task<ServerResult> save(QString address)
    {
        received = address;
        waiting = true;
        const auto result = co_await qCoro(&pending, &Answer::given);
        waiting = false;
        co_return result;
    }
    EmailConfigView::SaveCallback callback()
    {
        return [this](QString address) { return save(std::move(address)); };
    }
};

TEST(EmailConfigView, StartsWithThePrompt)
{
    Presenter presenter;
    EmailConfigView view(presenter.binding(), presenter.callback());
    EXPECT_EQ(view.errorMessage(), "You need to configure your email address first");
    EXPECT_EQ(view.email(), "");
    EXPECT_FALSE(view.isSaving());
    EXPECT_EQ(EmailConfigView::emailPattern.size(), 48);
}

TEST(EmailConfigView, InvalidAddressSendsNothing)
{
    for (const char *text : {"", "not an address", "Ann@Example.com "}) {
        Presenter presenter;
        EmailConfigView view(presenter.binding(), presenter.callback());
        view.setEmail(QString::fromUtf8(text));
        view.save();
        EXPECT_EQ(view.errorMessage(), "Invalid email address") << text;
        EXPECT_FALSE(view.isSaving());
        EXPECT_FALSE(presenter.received.has_value());
        EXPECT_TRUE(presenter.presented);
    }
}

TEST(EmailConfigView, SuccessShowsTheMessageAndClosesASecondLater)
{
    Presenter presenter;
    EmailConfigView view(presenter.binding(), presenter.callback());
    view.setEmail("Ann.Lee@Example.COM");
    view.save();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.waiting; }, 2000));
    EXPECT_EQ(presenter.received, QString("ann.lee@example.com"));
    EXPECT_EQ(view.errorMessage(), "Configurating...");
    EXPECT_TRUE(view.isSaving());

    QElapsedTimer clock;
    clock.start();
    presenter.answer(ServerResult::success("Email configured"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isSaving(); }, 2000));
    EXPECT_EQ(view.errorMessage(), "Email configured");
    EXPECT_TRUE(presenter.presented);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.presented; }, 3000));
    EXPECT_GE(clock.elapsed(), 900);
}

TEST(EmailConfigView, FailureShowsTheDescriptionAndStaysOpen)
{
    Presenter presenter;
    EmailConfigView view(presenter.binding(), presenter.callback());
    view.setEmail("ann@example.com");
    view.save();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.waiting; }, 2000));
    presenter.answer(ServerResult::failure(ServerError::own("Invalid server response")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isSaving(); }, 2000));
    EXPECT_EQ(view.errorMessage(), "Invalid server response");
    QTest::qWait(1300);
    EXPECT_TRUE(presenter.presented);
}

// Answers that must be read where they stand: the sheet keeps them on screen.
TEST(EmailConfigView, AnswersToReadKeepTheSheetOpen)
{
    ServerError refused{QStringLiteral("HttpClient"), 429, QStringLiteral("Response status code was unacceptable: 429.")};
    refused.serviceMessage = QStringLiteral("Too many requests from your address; try again in a minute.");
    const QString approval = QStringLiteral("Check your mail: follow the link we sent to approve this machine.");
    const struct {
        const char *name;
        ServerResult result;
        QString shown;
    } cases[] = {
        {"approval answer", ServerResult::success(approval), approval},
        {"refusal with the service's words", ServerResult::failure(refused), refused.serviceMessage},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Presenter presenter;
        EmailConfigView view(presenter.binding(), presenter.callback());
        view.setEmail("ann@example.com");
        view.save();
        ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.waiting; }, 2000));
        presenter.answer(c.result);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isSaving(); }, 2000));
        EXPECT_EQ(view.errorMessage(), c.shown);
        QTest::qWait(1500);
        EXPECT_TRUE(presenter.presented);
        EXPECT_EQ(view.errorMessage(), c.shown);
    }
}

TEST(MessageTiming, LongMessagesGetTimeToBeRead)
{
    using std::chrono::milliseconds;
    const struct {
        const char *message;
        milliseconds base;
        milliseconds shown;
    } cases[] = {
        {"Sync failed", milliseconds(500), milliseconds(500)},
        {"Saved", milliseconds(500), milliseconds(500)},
        {"Up to date", milliseconds(500), milliseconds(500)},
        {"", milliseconds(500), milliseconds(500)},
        // Five words, 23 characters: 0.5 s and 23 times 60 ms.
        {"Synced: 1 stored, 0 due", milliseconds(500), milliseconds(500 + 23 * 60)},
        {"Check your mail: follow the link we sent to approve this machine.", milliseconds(500),
         milliseconds(500 + 65 * 60)},
        // Never more than 10 s, however long.
        {"a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h i j k l m n o p q r s t u v w x y z "
         "a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h i j k l m n o p q r s t u v w x y z",
         milliseconds(500), milliseconds(10000)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(MessageTiming::showTime(QString::fromUtf8(c.message), c.base), c.shown);
    }
    // A place that gives more than 10 s keeps its own time.
    EXPECT_EQ(MessageTiming::showTime(QStringLiteral("one two three four"), milliseconds(12000)), milliseconds(12000));
}

TEST(EmailConfigView, CancelClosesAtOnceAndALateSuccessStillClosesTheFlag)
{
    Presenter presenter;
    auto *view = new EmailConfigView(presenter.binding(), presenter.callback());
    view->setEmail("ann@example.com");
    view->save();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.waiting; }, 2000));
    view->close();
    EXPECT_FALSE(presenter.presented);
    delete view;

    presenter.presented = true; // the sheet was opened again meanwhile
    presenter.answer(ServerResult::success("Email configured"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.presented; }, 3000));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "EmailConfigViewTest.moc"
