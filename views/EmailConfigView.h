#pragma once

#include "ServerResult.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <functional>

// The sheet in which the user enters the address the notes are synchronised under.
// It checks the address, hands it lower-cased to its presenter's save callback and
// shows the outcome; it knows nothing of the keyring or the sync service.
class EmailConfigView : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(EmailConfigViewState)
    QML_UNCREATABLE("Made by the view that presents the sheet")
    Q_PROPERTY(bool isPresented READ isPresented NOTIFY isPresentedChanged FINAL)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged FINAL)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged FINAL)
    Q_PROPERTY(bool isSaving READ isSaving NOTIFY isSavingChanged FINAL)

public:
    using SaveCallback = std::function<QCoro::Task<ServerResult>(QString)>;
    // The presenter's Boolean that shows the sheet, read and written through.
    struct PresentedBinding {
        std::function<bool()> get;
        std::function<void(bool)> set;
    };

    static const QString emailPattern;
    // True when the whole text matches emailPattern.
    static bool isValidEmail(const QString &text);

    EmailConfigView(PresentedBinding isPresented, SaveCallback onSave, QObject *parent = nullptr);

    bool isPresented() const;
    QString email() const { return m_email; }
    void setEmail(const QString &email);
    QString errorMessage() const { return m_errorMessage; }
    bool isSaving() const { return m_isSaving; }

    Q_INVOKABLE void save();
    Q_INVOKABLE void close();
    void finishSave(const ServerResult &result);

Q_SIGNALS:
    void isPresentedChanged();
    void emailChanged();
    void errorMessageChanged();
    void isSavingChanged();

private:
    void setErrorMessage(const QString &message);
    void setIsSaving(bool saving);

    PresentedBinding m_isPresented;
    SaveCallback m_onSave;
    QString m_email;
    QString m_errorMessage = QStringLiteral("You need to configure your email address first");
    bool m_isSaving = false;
};
