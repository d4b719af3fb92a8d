#include "tests/support/tds_server/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <mutex>
#include <stdexcept>

#include "tests/support/tds_server/packet_io.h"

namespace tersify::testing::tds {
namespace {

// OpenSSL's queued reasons as one text, the queue emptied.
std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text.empty() ? "unknown TLS error" : text;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + OpenSslErrors());
}

struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};

// A context for the server side: TLS 1.2 as SQL Server speaks it inside TDS
// 7.x, and no session tickets, which would arrive after the client has
// stopped reading handshake packets.
SSL_CTX* NewServerContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) Fail("SSL_CTX_new");
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  return context;
}

void AddExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (!extension || !X509_add_ext(certificate, extension.get(), -1)) Fail("X509_add_ext");
}

std::string PemOf(X509* certificate) {
  std::unique_ptr<BIO, BioFree> out(BIO_new(BIO_s_mem()));
  if (!out || !PEM_write_bio_X509(out.get(), certificate)) Fail("PEM_write_bio_X509");
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

// The BIO under the TLS session: during the handshake its records are the
// payload of PRELOGIN packets; afterwards they go straight over the socket.
BIO_METHOD* TransportMethod();

}  // namespace

Encryption ParseEncryption(const std::string& text) {
  if (text == "off") return Encryption::Off;
  if (text == "on") return Encryption::On;
  if (text == "required") return Encryption::Required;
  throw std::invalid_argument("encryption must be off, on or required, not '" + text + "'");
}

TlsCredentials::~TlsCredentials() { SSL_CTX_free(context_); }

std::shared_ptr<const TlsCredentials> TlsCredentials::Generate() {
  std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
  if (!key) Fail("EVP_EC_gen");
  std::unique_ptr<X509, X509Free> certificate(X509_new());
  if (!certificate) Fail("X509_new");
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("tds-test-server"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(certificate.get(), name);
  X509_set_pubkey(certificate.get(), key.get());
  AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  if (!X509_sign(certificate.get(), key.get(), EVP_sha256())) Fail("X509_sign");

  std::shared_ptr<TlsCredentials> credentials(new TlsCredentials());
  credentials->context_ = NewServerContext();
  if (SSL_CTX_use_certificate(credentials->context_, certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(credentials->context_, key.get()) != 1)
    Fail("cannot use the generated certificate");
  credentials->certificate_pem_ = PemOf(certificate.get());
  return credentials;
}

std::shared_ptr<const TlsCredentials> TlsCredentials::FromFiles(const std::string& certificate_file,
                                                                const std::string& key_file) {
  std::shared_ptr<TlsCredentials> credentials(new TlsCredentials());
  credentials->context_ = NewServerContext();
  if (SSL_CTX_use_certificate_chain_file(credentials->context_, certificate_file.c_str()) != 1)
    Fail("cannot use the certificate " + certificate_file);
  if (SSL_CTX_use_PrivateKey_file(credentials->context_, key_file.c_str(), SSL_FILETYPE_PEM) != 1)
    Fail("cannot use the key " + key_file);
  if (SSL_CTX_check_private_key(credentials->context_) != 1)
    Fail("the key " + key_file + " does not belong to the certificate");
  credentials->certificate_pem_ = PemOf(SSL_CTX_get0_certificate(credentials->context_));
  return credentials;
}

// What the transport BIO works on.
struct TlsSession::Transport {
  explicit Transport(Channel& c) : channel(c), reader(c), writer(c, kPrelogin) {}
  Channel& channel;
  PacketReader reader;   // handshake packets from the client
  MessageWriter writer;  // handshake packets to the client
  bool in_packets = true;
  std::string incoming;  // payload of the client's last handshake message
  size_t read_at = 0;
  std::string outgoing;  // records waiting for the next flush
  std::unique_ptr<SSL, SslFree> ssl;

  int Read(char* data, int length) {
    if (!in_packets) return static_cast<int>(channel.ReceiveRaw(data, static_cast<size_t>(length)));
    while (read_at == incoming.size()) {
      Message message;
      if (!reader.Read(message)) return 0;
      if (message.type != kPrelogin) throw ProtocolError("expected a PRELOGIN packet during the TLS handshake");
      incoming = std::move(message.payload);
      read_at = 0;
    }
    const size_t n = std::min(static_cast<size_t>(length), incoming.size() - read_at);
    incoming.copy(data, n, read_at);
    read_at += n;
    return static_cast<int>(n);
  }
  int Write(const char* data, int length) {
    if (!in_packets) {
      channel.SendRaw(data, static_cast<size_t>(length));
    } else {
      outgoing.append(data, static_cast<size_t>(length));
    }
    return length;
  }
  void Flush() {
    if (!in_packets || outgoing.empty()) return;
    writer.Write(outgoing);
    writer.EndMessage();
    outgoing.clear();
  }
};

namespace {

TlsSession::Transport* TransportOf(BIO* bio) { return static_cast<TlsSession::Transport*>(BIO_get_data(bio)); }

// Errors cannot cross OpenSSL's C frames: they end the call with -1.
int TransportRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  try {
    return TransportOf(bio)->Read(data, length);
  } catch (const std::exception&) {
    return -1;
  }
}

int TransportWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  try {
    return TransportOf(bio)->Write(data, length);
  } catch (const std::exception&) {
    return -1;
  }
}

long TransportControl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      try {
        TransportOf(bio)->Flush();
        return 1;
      } catch (const std::exception&) {
        return 0;
      }
    case BIO_CTRL_WPENDING: return static_cast<long>(TransportOf(bio)->outgoing.size());
    case BIO_CTRL_PENDING: {
      const TlsSession::Transport* t = TransportOf(bio);
      return static_cast<long>(t->incoming.size() - t->read_at);
    }
    default: return 0;
  }
}

int TransportCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* TransportMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tds-prelogin");
    BIO_meth_set_read(m, TransportRead);
    BIO_meth_set_write(m, TransportWrite);
    BIO_meth_set_ctrl(m, TransportControl);
    BIO_meth_set_create(m, TransportCreate);
    return m;
  }();
  return method;
}

}  // namespace

TlsSession::TlsSession(Channel& channel, const TlsCredentials& credentials)
    : channel_(channel), transport_(std::make_unique<Transport>(channel)) {
  transport_->ssl.reset(SSL_new(credentials.Context()));
  if (!transport_->ssl) throw ProtocolError("SSL_new: " + OpenSslErrors());
  BIO* bio = BIO_new(TransportMethod());
  if (!bio) throw ProtocolError("BIO_new: " + OpenSslErrors());
  BIO_set_data(bio, transport_.get());
  SSL_set_bio(transport_->ssl.get(), bio, bio);  // the session owns the BIO now
  SSL_set_accept_state(transport_->ssl.get());
  if (const int rc = SSL_do_handshake(transport_->ssl.get()); rc != 1) {
    const int error = SSL_get_error(transport_->ssl.get(), rc);
    // A client that does not trust the certificate just hangs up (GnuTLS sends no alert).
    if ((error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN) && ERR_peek_error() == 0)
      throw ProtocolError("TLS handshake failed: the client closed the connection");
    throw ProtocolError("TLS handshake failed: " + OpenSslErrors());
  }
  transport_->in_packets = false;
  channel_.UseTls(transport_->ssl.get());
}

TlsSession::~TlsSession() { channel_.UseTls(nullptr); }

}  // namespace tersify::testing::tds
