#include "ProblemNotice.h"

#include "DBError.h"
#include "DBManager.h"

#include <SQLiteCpp/Exception.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

#include <filesystem>

QString ProblemNotice::shownPath(const QString &path)
{
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

ProblemNotice::ProblemNotice(QObject *parent) : QObject(parent) {}

ProblemNotice &ProblemNotice::shared()
{
    static ProblemNotice *notice = [] {
        auto *made = new ProblemNotice;
        // Lives on the main thread whoever reports first.
        if (QCoreApplication::instance())
            made->moveToThread(QCoreApplication::instance()->thread());
        return made;
    }();
    return *notice;
}

QString ProblemNotice::plainReason(const std::exception &error)
{
    const QString file = shownPath(DBManager::databasePath());
    if (const auto *storeError = dynamic_cast<const DBError *>(&error)) {
        switch (storeError->code()) {
        case DBError::Code::noteNotFound: return QStringLiteral("the note is no longer in the notes file");
        case DBError::Code::databaseNotInitialized:
        case DBError::Code::userNotFound: return QStringLiteral("the notes file %1 is not open").arg(file);
        }
    }
    if (dynamic_cast<const std::filesystem::filesystem_error *>(&error))
        return QStringLiteral("the folder for the notes file %1 cannot be made").arg(file);
    if (const auto *sqlite = dynamic_cast<const SQLite::Exception *>(&error)) {
        switch (sqlite->getErrorCode()) {
        case SQLITE_READONLY: return QStringLiteral("the notes file %1 is read-only").arg(file);
        case SQLITE_AUTH:
            return QStringLiteral("the notes file %1 is damaged, and nothing is written to it until a copy of it "
                                  "is kept")
                    .arg(file);
        case SQLITE_CANTOPEN:
        case SQLITE_PERM: return QStringLiteral("the notes file %1 cannot be opened").arg(file);
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return QStringLiteral("the notes file %1 is locked by another program").arg(file);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return QStringLiteral("the notes file %1 is damaged").arg(file);
        case SQLITE_FULL: return QStringLiteral("the disk holding %1 is full").arg(file);
        case SQLITE_IOERR: return QStringLiteral("the notes file %1 cannot be read or written").arg(file);
        case SQLITE_MISMATCH: return QStringLiteral("a note in %1 holds a value of the wrong kind").arg(file);
        default: break;
        }
    }
    return QString::fromUtf8(error.what());
}

QString ProblemNotice::message(Action action, const std::exception &error)
{
    const QString reason = plainReason(error);
    switch (action) {
    case Action::open: return QStringLiteral("Your notes cannot be opened: %1.").arg(reason);
    case Action::read: return QStringLiteral("Your notes could not be read: %1.").arg(reason);
    case Action::create: return QStringLiteral("A new note cannot be made: %1.").arg(reason);
    case Action::save:
        return QStringLiteral("Your note could not be saved: %1. Its text stays in the editor.").arg(reason);
    case Action::remove: return QStringLiteral("The note could not be deleted: %1.").arg(reason);
    case Action::favourite: return QStringLiteral("The favourite mark could not be changed: %1.").arg(reason);
    case Action::load: return QStringLiteral("The note could not be opened: %1.").arg(reason);
    }
    return reason;
}

void ProblemNotice::report(Action action, const std::exception &error)
{
    report(message(action, error));
}

void ProblemNotice::report(const QString &message)
{
    QMetaObject::invokeMethod(this, [this, message] { add(message); }, Qt::AutoConnection);
}

void ProblemNotice::add(const QString &message)
{
    if (m_messages.contains(message))
        return;
    m_messages.append(message);
    Q_EMIT changed();
}

void ProblemNotice::dismiss()
{
    if (m_messages.isEmpty())
        return;
    m_messages.clear();
    Q_EMIT changed();
}
