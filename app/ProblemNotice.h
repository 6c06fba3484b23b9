#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <exception>

// Problems with the notes file, in plain words, for the window to show beside
// the line each failure prints. One object serves the whole process, so any
// view, and the store's own threads, can report; the window shows what has
// been reported until the user dismisses it.
class ProblemNotice : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY changed FINAL)
    Q_PROPERTY(QStringList messages READ messages NOTIFY changed FINAL)
    Q_PROPERTY(bool shown READ shown NOTIFY changed FINAL)

public:
    // What the user was doing when the store failed.
    enum class Action { open, read, create, save, remove, favourite, load };

    static ProblemNotice &shared();

    // The failure of `action`, worded for the user. Safe from any thread:
    // the notice changes on its own thread.
    void report(Action action, const std::exception &error);
    // A message of its own, from any thread; one already shown is not
    // repeated.
    void report(const QString &message);

    QString text() const { return m_messages.join(QLatin1Char('\n')); }
    QStringList messages() const { return m_messages; }
    bool shown() const { return !m_messages.isEmpty(); }

    Q_INVOKABLE void dismiss();

    // Why a store operation failed, in words a user can act on.
    static QString plainReason(const std::exception &error);
    static QString message(Action action, const std::exception &error);
    // A path as the user knows it: under the home folder as "~/...".
    static QString shownPath(const QString &path);

Q_SIGNALS:
    void changed();

private:
    explicit ProblemNotice(QObject *parent = nullptr);
    void add(const QString &message);

    QStringList m_messages;
};
