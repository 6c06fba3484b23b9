#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// A tovik-sync-server in its own process on a loopback port, the OS's pick
// unless `options` name one, its database in a temporary folder. Stopped when
// the object goes.
class ServerProcess {
public:
    explicit ServerProcess(const QString &program, const QStringList &options = {})
    {
        m_process.setProgram(program);
        QStringList arguments{QStringLiteral("--db"), databasePath()};
        if (!options.contains(QStringLiteral("--port")))
            arguments << QStringLiteral("--port") << QStringLiteral("0");
        m_process.setArguments(arguments + options);
        m_process.start();
        m_port = listeningPort(m_process);
    }

    // The port of a started process's first "listening on 127.0.0.1:PORT"
    // line on its standard output; 0 when none comes.
    static int listeningPort(QProcess &process)
    {
        const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$"));
        while (process.waitForReadyRead(15000)) {
            while (process.canReadLine()) {
                const auto match = listening.match(QString::fromUtf8(process.readLine()).trimmed());
                if (match.hasMatch())
                    return match.captured(1).toInt();
            }
        }
        return 0;
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
