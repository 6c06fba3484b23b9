#include "TestEnvironment.h"

#include <QHostAddress>
#include <QTcpServer>

#include <iostream>
#include <stdexcept>

TemporaryHome::TemporaryHome() : m_previous(qgetenv("HOME"))
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot make a temporary home");
    enter();
}

TemporaryHome::~TemporaryHome()
{
    qputenv("HOME", m_previous);
}

void TemporaryHome::enter() const
{
    qputenv("HOME", m_dir.path().toLocal8Bit());
}

StdoutCapture::StdoutCapture() : m_previous(std::cout.rdbuf(m_buffer.rdbuf())) {}

StdoutCapture::~StdoutCapture()
{
    std::cout.rdbuf(m_previous);
}

QStringList StdoutCapture::lines() const
{
    QString text = QString::fromStdString(m_buffer.str());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

int closedLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("cannot bind a loopback port");
    const int port = probe.serverPort();
    probe.close();
    return port;
}
