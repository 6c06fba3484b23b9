#pragma once

// nginx from the Debian package as a load balancer over instances of the
// service on loopback ports, for tests and benchmarks: its own prefix folder,
// its own configuration, a port picked free, stopped with the object.

#include "ServerHarness.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class NginxBalancer {
public:
    explicit NginxBalancer(const std::vector<int> &instancePorts)
    {
        m_port = freePort();
        std::string servers;
        for (int port : instancePorts)
            servers += "    server 127.0.0.1:" + std::to_string(port) + " max_fails=1 fail_timeout=2s;\n";
        const std::string prefix = m_folder.path().string();
        // A worker run as root can use the prefix folder, which is root's only.
        const std::string user = ::geteuid() == 0 ? "user root;\n" : "";
        std::ofstream(m_folder.path() / "nginx.conf")
            << user << "worker_processes 4;\n"
            << "error_log " << prefix << "/error.log warn;\n"
            << "pid " << prefix << "/nginx.pid;\n"
            << "events { worker_connections 4096; }\n"
            << "http {\n"
            << "  access_log off;\n"
            << "  client_body_temp_path " << prefix << "/body;\n"
            << "  proxy_temp_path " << prefix << "/proxy;\n"
            << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
            << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
            << "  scgi_temp_path " << prefix << "/scgi;\n"
            << "  client_max_body_size 0;\n"
            << "  client_body_buffer_size 4m;\n"
            << "  upstream tovik {\n" << servers << "    keepalive 64;\n  }\n"
            << "  server {\n"
            << "    listen 127.0.0.1:" << m_port << ";\n"
            << "    location / {\n"
            << "      proxy_pass http://tovik;\n"
            << "      proxy_http_version 1.1;\n"
            << "      proxy_set_header Connection \"\";\n"
            // A request an instance never took goes to another one; one it
            // took is not sent twice, as nginx cannot know how far it went.
            << "      proxy_next_upstream error timeout;\n"
            << "      proxy_read_timeout 120s;\n"
            << "    }\n"
            << "  }\n"
            << "}\n";
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string out = prefix + "/output.log";
            if (std::freopen(out.c_str(), "a", stdout) == nullptr || std::freopen(out.c_str(), "a", stderr) == nullptr)
                ::_exit(126);
            ::execl("/usr/sbin/nginx", "nginx", "-p", prefix.c_str(), "-c", (prefix + "/nginx.conf").c_str(), "-g",
                    "daemon off;", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        for (int tries = 0; tries < 200; ++tries) {
            if (accepts())
                return;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                throw std::runtime_error("nginx did not start (see " + prefix + "/error.log)");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        throw std::runtime_error("nginx does not answer");
    }

    ~NginxBalancer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGQUIT);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }

    NginxBalancer(const NginxBalancer &) = delete;
    NginxBalancer &operator=(const NginxBalancer &) = delete;

    int port() const { return m_port; }

private:
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
            ::close(fd);
            throw std::runtime_error("no free port");
        }
        ::close(fd);
        return ntohs(address.sin_port);
    }

    bool accepts() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(m_port));
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    TemporaryFolder m_folder;
    int m_port = 0;
    pid_t m_pid = -1;
};
