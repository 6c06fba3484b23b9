#include "TlsPolicy.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <stdexcept>

namespace {

// Strongest first; the server's order holds over the client's.
constexpr const char *tls12Ciphers = "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                     "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
                                     "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256";
constexpr const char *tls13Ciphers = "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256";

[[noreturn]] void fail(const std::string &what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char reason[256] = "";
    if (code)
        ERR_error_string_n(code, reason, sizeof reason);
    throw std::runtime_error(what + (code ? std::string(" (") + reason + ")" : std::string()));
}

void addChain(SSL_CTX *context, const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        fail("cannot read the certificate chain \"" + path + "\"");
    int added = 0;
    while (X509 *certificate = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
        if (SSL_CTX_add0_chain_cert(context, certificate) != 1) {
            X509_free(certificate);
            std::fclose(file);
            fail("cannot use the certificate chain \"" + path + "\"");
        }
        ++added;
    }
    std::fclose(file);
    ERR_clear_error(); // the end of the file reads as an error
    if (added == 0)
        fail("no certificate in the chain \"" + path + "\"");
}

} // namespace

std::shared_ptr<boost::asio::ssl::context> makeTlsContext(const TlsFiles &files)
{
    auto context = std::make_shared<boost::asio::ssl::context>(boost::asio::ssl::context::tls_server);
    SSL_CTX *native = context->native_handle();
    if (SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION) != 1
        || SSL_CTX_set_max_proto_version(native, TLS1_3_VERSION) != 1)
        fail("cannot limit the TLS versions");
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION
                                    | SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1);
    if (SSL_CTX_set_cipher_list(native, tls12Ciphers) != 1 || SSL_CTX_set_ciphersuites(native, tls13Ciphers) != 1)
        fail("cannot set the TLS ciphers");
    if (SSL_CTX_set1_groups_list(native, "X25519:P-256:P-384") != 1)
        fail("cannot set the key exchange groups");
    // Idle connections give their buffers back.
    SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);

    if (SSL_CTX_use_certificate_chain_file(native, files.certificate.c_str()) != 1)
        fail("cannot use the certificate \"" + files.certificate + "\"");
    if (!files.chain.empty())
        addChain(native, files.chain);
    if (SSL_CTX_use_PrivateKey_file(native, files.key.c_str(), SSL_FILETYPE_PEM) != 1)
        fail("cannot use the key \"" + files.key + "\"");
    if (SSL_CTX_check_private_key(native) != 1)
        fail("the key \"" + files.key + "\" does not match the certificate \"" + files.certificate + "\"");
    return context;
}
