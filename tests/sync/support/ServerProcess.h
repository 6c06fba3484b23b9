#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A tovik-sync-server in its own process on a loopback port the OS picks,
// its database in a temporary folder. Stopped when the object goes.
class ServerProcess {
public:
    explicit ServerProcess(const QString &program, const QStringList &extraArguments = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--db"),
                                           databasePath()}
                               + extraArguments);
        m_process.start();
        const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
        while (m_port == 0 && m_process.waitForReadyRead(10000)) {
            while (m_process.canReadLine()) {
                const auto match = listening.match(QString::fromUtf8(m_process.readLine()).trimmed());
                if (match.hasMatch())
                    m_port = match.captured(1).toInt();
            }
        }
    }
    ~ServerProcess() { stop(); }

    // 0 when the server never reported its port.
    int port() const { return m_port; }
    QUrl base() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    QUrl echo() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/ip").arg(m_port)); }
    // The service's own SQLite file, for checks of what it stored.
    QString databasePath() const { return m_dir.filePath(QStringLiteral("service.db")); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};
