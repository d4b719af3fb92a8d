#include "client/providers/odbc/connect_failure.h"

// The server's certificate, looked at with OpenSSL after a failed handshake.

#include <arpa/inet.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>
#include <string>

#include "framework/rtl/tcp_socket.h"

namespace tersify::providers::odbc {
namespace {

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
  void operator()(T* p) const { Free(p); }
};
using SslContext = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX, SSL_CTX_free>>;
using SslSession = std::unique_ptr<SSL, OpenSslFree<SSL, SSL_free>>;
using CertificateStore = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE, X509_STORE_free>>;
using StoreCheck = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX, X509_STORE_CTX_free>>;

void FreeGeneralNames(GENERAL_NAMES* names) { GENERAL_NAMES_free(names); }
using GeneralNames = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES, FreeGeneralNames>>;

constexpr size_t kTdsHeader = 8;
constexpr size_t kPreloginPacketPayload = 4096 - kTdsHeader;

// Bytes as PRELOGIN packets, the last one marked as the end of the message.
bool SendPrelogin(TTcpSocket& socket, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size(); at += kPreloginPacketPayload) {
    const size_t n = std::min(kPreloginPacketPayload, bytes.size() - at);
    const size_t length = n + kTdsHeader;
    std::string packet = {0x12, static_cast<char>(at + n == bytes.size() ? 0x01 : 0x00),
                          static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), 0, 0, 1, 0};
    packet.append(bytes, at, n);
    if (!socket.Send(packet.data(), packet.size())) return false;
  }
  return true;
}

// The payload of the next TDS packet; false on end, error, time-out or a packet of no sense.
bool ReceivePacket(TTcpSocket& socket, std::string& payload, int timeout_ms) {
  char header[kTdsHeader];
  if (!socket.ReceiveExact(header, sizeof header, timeout_ms)) return false;
  const size_t length = (static_cast<unsigned char>(header[2]) << 8) | static_cast<unsigned char>(header[3]);
  if (length < kTdsHeader) return false;
  payload.assign(length - kTdsHeader, '\0');
  return socket.ReceiveExact(payload.data(), payload.size(), timeout_ms);
}

// The DNS names and addresses a certificate is issued for (its common name when it lists none).
std::string CertificateNames(X509* certificate) {
  std::string names;
  auto add = [&names](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
  const GeneralNames alternatives(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
    if (name->type == GEN_DNS) {
      add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                      static_cast<size_t>(ASN1_STRING_length(name->d.dNSName))));
    } else if (name->type == GEN_IPADD) {
      const unsigned char* bytes = ASN1_STRING_get0_data(name->d.iPAddress);
      const int size = ASN1_STRING_length(name->d.iPAddress);
      char text[INET6_ADDRSTRLEN] = {};
      if ((size == 4 || size == 16) && inet_ntop(size == 4 ? AF_INET : AF_INET6, bytes, text, sizeof text)) add(text);
    }
  }
  if (names.empty()) {
    char common[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common, sizeof common) > 0)
      add(common);
  }
  return names.empty() ? "no name" : names;
}

bool IsAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

}  // namespace

CertificateProbe ProbeCertificate(const std::string& host, int port, int timeout_seconds, const std::string& ca_file) {
  TTcpSocket socket(host, port, timeout_seconds);
  if (!socket.Connected()) return {};
  const int timeout_ms = timeout_seconds * 1000;
  // The PRELOGIN of ProbePrelogin, asking for encryption this time (ENCRYPT_ON).
  const std::string prelogin = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, static_cast<char>(0xFF),
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  std::string answer;
  if (!SendPrelogin(socket, prelogin) || !ReceivePacket(socket, answer, timeout_ms)) return {};

  // The handshake inside PRELOGIN packets, as far as the server's certificate.
  const SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) return {};
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  const SslSession session(SSL_new(context.get()));
  BIO* from_server = BIO_new(BIO_s_mem());
  BIO* to_server = BIO_new(BIO_s_mem());
  if (!session || !from_server || !to_server) {
    BIO_free(from_server);
    BIO_free(to_server);
    return {};
  }
  SSL_set_bio(session.get(), from_server, to_server);  // the session owns both now
  SSL_set_connect_state(session.get());
  if (!IsAddress(host)) SSL_set_tlsext_host_name(session.get(), host.c_str());
  for (int flight = 0; flight < 16 && !SSL_get0_peer_certificate(session.get()); ++flight) {
    const int rc = SSL_do_handshake(session.get());
    std::string out;
    char buffer[4096];
    for (int n; (n = BIO_read(to_server, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    if (!out.empty() && !SendPrelogin(socket, out)) break;
    if (rc == 1 || SSL_get_error(session.get(), rc) != SSL_ERROR_WANT_READ) break;
    std::string in;
    if (!ReceivePacket(socket, in, timeout_ms)) break;
    BIO_write(from_server, in.data(), static_cast<int>(in.size()));
  }
  X509* certificate = SSL_get0_peer_certificate(session.get());
  if (!certificate) return {};

  CertificateProbe probe;
  probe.names = CertificateNames(certificate);
  const CertificateStore store(X509_STORE_new());
  const StoreCheck check(X509_STORE_CTX_new());
  if (!store || !check || X509_STORE_load_file(store.get(), ca_file.c_str()) != 1 ||
      X509_STORE_CTX_init(check.get(), store.get(), certificate, SSL_get_peer_cert_chain(session.get())) != 1 ||
      X509_verify_cert(check.get()) != 1) {
    probe.outcome = CertificateProbe::Untrusted;
    return probe;
  }
  const bool named = IsAddress(host) ? X509_check_ip_asc(certificate, host.c_str(), 0) == 1
                                     : X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
  probe.outcome = named ? CertificateProbe::Trusted : CertificateProbe::OtherName;
  return probe;
}

}  // namespace tersify::providers::odbc
