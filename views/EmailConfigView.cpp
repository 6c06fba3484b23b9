#include "EmailConfigView.h"

#include "MessageTiming.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

const QString EmailConfigView::emailPattern = QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,64}");

namespace {

// Closes one second after a success. It holds on to the presenter's flag rather
// than to the sheet, which may be gone by then.
void scheduleClose(const std::function<void(bool)> &setPresented)
{
    QTimer::singleShot(1000, QCoreApplication::instance(), [setPresented] {
        if (setPresented)
            setPresented(false);
    });
}

// A short answer ("Email configured") closes the sheet a second later. A longer
// one, such as the service asking to approve this machine through the mailed
// link, stays until the user has read it and closes the sheet.
bool closesAfter(const ServerResult &result)
{
    return result.isSuccess() && !MessageTiming::needsReadingTime(result.message());
}

} // namespace

bool EmailConfigView::isValidEmail(const QString &text)
{
    static const QRegularExpression whole(QRegularExpression::anchoredPattern(emailPattern));
    return whole.match(text).hasMatch();
}

EmailConfigView::EmailConfigView(PresentedBinding isPresented, SaveCallback onSave, QObject *parent)
    : QObject(parent), m_isPresented(std::move(isPresented)), m_onSave(std::move(onSave))
{
}

bool EmailConfigView::isPresented() const
{
    return m_isPresented.get && m_isPresented.get();
}

void EmailConfigView::setEmail(const QString &email)
{
    if (email == m_email)
        return;
    m_email = email;
    Q_EMIT emailChanged();
}

void EmailConfigView::save()
{
    if (!isValidEmail(m_email)) {
        setErrorMessage(QStringLiteral("Invalid email address"));
        return;
    }
    setErrorMessage(QStringLiteral("Configurating..."));
    setIsSaving(true);
    if (!m_onSave) {
        finishSave(ServerResult::failure(ServerError::own(QStringLiteral("Saving is not available"))));
        return;
    }
    // The answer may come after the sheet was dismissed and destroyed; a success
    // still closes the presenter's flag then.
    QPointer<EmailConfigView> self(this);
    auto setPresented = m_isPresented.set;
    QCoro::connect(m_onSave(m_email.toLower()), QCoreApplication::instance(),
                   [self, setPresented](const ServerResult &result) {
                       if (self)
                           self->finishSave(result);
                       else if (closesAfter(result))
                           scheduleClose(setPresented);
                   });
}

void EmailConfigView::close()
{
    if (m_isPresented.set)
        m_isPresented.set(false);
    Q_EMIT isPresentedChanged();
}

void EmailConfigView::finishSave(const ServerResult &result)
{
    setIsSaving(false);
    if (!result.isSuccess()) {
        setErrorMessage(result.error().shownText());
        return;
    }
    setErrorMessage(result.message());
    if (closesAfter(result))
        scheduleClose(m_isPresented.set);
}

void EmailConfigView::setErrorMessage(const QString &message)
{
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void EmailConfigView::setIsSaving(bool saving)
{
    if (saving == m_isSaving)
        return;
    m_isSaving = saving;
    Q_EMIT isSavingChanged();
}
