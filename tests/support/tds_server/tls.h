#pragma once
// TLS for the TDS test server, with OpenSSL: the server's certificate (given
// as PEM files, or a self-signed one made at start-up for localhost and
// 127.0.0.1) and the server side of the TDS 7.x handshake, whose records
// travel as the payload of PRELOGIN packets until it completes.

#include <memory>
#include <string>

#include "tests/support/tds_server/channel.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace tersify::testing::tds {

// What the server offers in its PRELOGIN answer.
enum class Encryption {
  Off,       // no encryption: ENCRYPT_NOT_SUP
  On,        // whatever the client asks: the login only, or the whole session
  Required,  // the whole session, whatever the client asks
};

// "off", "on", "required"; raises std::invalid_argument for anything else.
Encryption ParseEncryption(const std::string& text);

class TlsCredentials {
 public:
  // A fresh key and a self-signed certificate for localhost and 127.0.0.1.
  static std::shared_ptr<const TlsCredentials> Generate();
  // A certificate (chain) and its private key from PEM files; raises
  // std::runtime_error with OpenSSL's reason when they cannot be used.
  static std::shared_ptr<const TlsCredentials> FromFiles(const std::string& certificate_file,
                                                         const std::string& key_file);
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;

  // The certificate in PEM form, for a client's trust list.
  const std::string& CertificatePem() const { return certificate_pem_; }
  SSL_CTX* Context() const { return context_; }

 private:
  TlsCredentials() = default;
  SSL_CTX* context_ = nullptr;
  std::string certificate_pem_;
};

// The server's end of one TLS session on a channel.
class TlsSession {
 public:
  // Runs the handshake inside PRELOGIN packets; afterwards TLS records go
  // straight over the socket and the channel reads and writes through them.
  // Raises ConnectionClosed when the client goes away and ProtocolError when
  // the handshake fails.
  TlsSession(Channel& channel, const TlsCredentials& credentials);
  // Takes the channel back to plain TCP.
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // What the session's BIO reads and writes through (tls.cpp).
  struct Transport;

 private:
  Channel& channel_;
  std::unique_ptr<Transport> transport_;
};

}  // namespace tersify::testing::tds
