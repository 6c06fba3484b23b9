#pragma once

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

// Where the service's certificate lives: `certificate` may hold the whole
// chain; `chain`, when set, adds intermediate certificates from a file of its own.
struct TlsFiles {
    std::string certificate;
    std::string key;
    std::string chain;
};

// A server context that speaks TLS 1.2 and 1.3 only, in 1.2 with ECDHE key
// exchange and AEAD ciphers alone, chosen in the server's order, without
// renegotiation or compression. Throws std::runtime_error naming the file that
// could not be used.
std::shared_ptr<boost::asio::ssl::context> makeTlsContext(const TlsFiles &files);
