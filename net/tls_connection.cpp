// TLS through the platform's Secure Channel (SSPI): the calls themselves.
// What their answers mean is decided apart from the platform: the
// handshake, the records and the protocol in tls_stream.cpp, the server's
// certificate in tls_verdict.cpp. No TLS library is linked in: the program
// gets the system's TLS versions and fixes, and under Wine the same calls
// are served on GnuTLS.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS // SCH_CREDENTIALS and TLS_PARAMETERS
#include "connection.h"
#include "server_address.h"
#include "tls_verdict.h"
#include <subauth.h>
#include <schannel.h>
#include <wincrypt.h>
#include <string.h>

// wininet.h's flag for the SSL chain policy: revocation is judged from the
// chain's trust status below, where "revoked" and "unknown" stand apart.
#ifndef SECURITY_FLAG_IGNORE_REVOCATION
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080
#endif

// Never offered: SSL 2 and 3, TLS 1.0 and 1.1 (and PCT).
static const DWORD OLD_PROTOCOLS = SP_PROT_PCT1_CLIENT | SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT |
                                   SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
// Where the newer structure is not taken, or not honoured: what the older
// one asks for, TLS 1.3 with 1.2 first, then 1.2 alone for a system that
// refuses a protocol it does not know.
static const DWORD OLDER_STRUCTURE_PROTOCOLS[] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT,
                                                   SP_PROT_TLS1_2_CLIENT};
// The certificate is checked here, after the handshake; no client
// certificate is ever offered.
static const DWORD CREDENTIAL_FLAGS = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS |
                                      SCH_USE_STRONG_CRYPTO;
static const ULONG CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                   ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
enum { SEND_CAPACITY = 2048 };

// The pure cores use the system's own numbers, written out.
static_assert(TLS_STATUS_OK == SEC_E_OK && TLS_STATUS_CONTINUE_NEEDED == SEC_I_CONTINUE_NEEDED &&
                  TLS_STATUS_CONTEXT_EXPIRED == SEC_I_CONTEXT_EXPIRED &&
                  TLS_STATUS_INCOMPLETE_CREDENTIALS == SEC_I_INCOMPLETE_CREDENTIALS &&
                  TLS_STATUS_RENEGOTIATE == SEC_I_RENEGOTIATE &&
                  TLS_STATUS_UNSUPPORTED_FUNCTION == (uint32_t)SEC_E_UNSUPPORTED_FUNCTION &&
                  TLS_STATUS_INCOMPLETE_MESSAGE == (uint32_t)SEC_E_INCOMPLETE_MESSAGE &&
                  TLS_STATUS_ILLEGAL_MESSAGE == (uint32_t)SEC_E_ILLEGAL_MESSAGE,
              "SECURITY_STATUS values");
static_assert(TLS_SOCKET_RESET == WSAECONNRESET && TLS_SOCKET_TIMED_OUT == WSAETIMEDOUT &&
                  TLS_PROTOCOL_12 == SP_PROT_TLS1_2_CLIENT && TLS_PROTOCOL_13 == SP_PROT_TLS1_3_CLIENT,
              "WinSock errors and protocol bits");
static_assert(TRUST_IS_NOT_TIME_VALID == CERT_TRUST_IS_NOT_TIME_VALID && TRUST_IS_REVOKED == CERT_TRUST_IS_REVOKED &&
                  TRUST_IS_NOT_SIGNATURE_VALID == CERT_TRUST_IS_NOT_SIGNATURE_VALID &&
                  TRUST_IS_NOT_VALID_FOR_USAGE == CERT_TRUST_IS_NOT_VALID_FOR_USAGE &&
                  TRUST_IS_UNTRUSTED_ROOT == CERT_TRUST_IS_UNTRUSTED_ROOT &&
                  TRUST_REVOCATION_STATUS_UNKNOWN == CERT_TRUST_REVOCATION_STATUS_UNKNOWN &&
                  TRUST_IS_CYCLIC == CERT_TRUST_IS_CYCLIC && TRUST_IS_PARTIAL_CHAIN == CERT_TRUST_IS_PARTIAL_CHAIN &&
                  TRUST_IS_OFFLINE_REVOCATION == CERT_TRUST_IS_OFFLINE_REVOCATION,
              "the chain's trust error bits");
static_assert(REFUSED_EXPIRED == (uint32_t)CERT_E_EXPIRED && REFUSED_UNTRUSTED_ROOT == (uint32_t)CERT_E_UNTRUSTEDROOT &&
                  REFUSED_CHAINING == (uint32_t)CERT_E_CHAINING && REFUSED_TRUST_FAILED == (uint32_t)TRUST_E_FAIL &&
                  REFUSED_NAME_MISMATCH == (uint32_t)CERT_E_CN_NO_MATCH &&
                  REFUSED_WRONG_USAGE == (uint32_t)CERT_E_WRONG_USAGE && REFUSED_REVOKED == (uint32_t)CRYPT_E_REVOKED &&
                  NO_REVOCATION_CHECK == (uint32_t)CRYPT_E_NO_REVOCATION_CHECK &&
                  REVOCATION_OFFLINE == (uint32_t)CRYPT_E_REVOCATION_OFFLINE &&
                  REFUSED_SIGNATURE == (uint32_t)TRUST_E_CERT_SIGNATURE,
              "the codes of a refused certificate");

// ---- Credentials

// A credential that would still allow an old protocol is given back: a
// system may take the newer structure and not honour its list of
// disabled protocols (Wine 8 does so).
static int acquire(Connection *c, void *data)
{
    TimeStamp expiry;
    SecPkgCred_SupportedProtocols protocols;
    SECURITY_STATUS status = c->sspi->AcquireCredentialsHandleA(
        NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, data, NULL, NULL, &c->credentials, &expiry);
    if (status != SEC_E_OK)
        return connection_failed(c, (DWORD)status);
    if (c->sspi->QueryCredentialsAttributesA(&c->credentials, SECPKG_ATTR_SUPPORTED_PROTOCOLS, &protocols) ==
            SEC_E_OK &&
        !(protocols.grbitProtocol & OLD_PROTOCOLS))
        return c->hasCredentials = 1;
    c->sspi->FreeCredentialsHandle(&c->credentials);
    return connection_failed(c, (DWORD)SEC_E_UNSUPPORTED_FUNCTION);
}

// The newer structure lets the system choose among its versions (TLS 1.3
// on current Windows); the older one names them.
static int acquire_credentials(Connection *c)
{
    TLS_PARAMETERS parameters;
    SCH_CREDENTIALS current;
    memset(&parameters, 0, sizeof parameters);
    memset(&current, 0, sizeof current);
    parameters.grbitDisabledProtocols = OLD_PROTOCOLS;
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = CREDENTIAL_FLAGS;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    if (acquire(c, &current))
        return 1;
    for (DWORD enabled : OLDER_STRUCTURE_PROTOCOLS) {
        SCHANNEL_CRED older;
        memset(&older, 0, sizeof older);
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = enabled;
        older.dwFlags = CREDENTIAL_FLAGS;
        if (acquire(c, &older))
            return 1;
    }
    return 0;
}

// ---- The security functions, as the stream (tls_stream.cpp) calls them

static Connection *connection(void *self)
{
    return (Connection *)self;
}

// The socket's reason for a failure, never 0: that would read as success.
static DWORD socket_error(void)
{
    DWORD error = (DWORD)WSAGetLastError();
    return error ? error : (DWORD)WSAECONNRESET;
}

// A token that a call made goes to the server at once.
static SECURITY_STATUS send_token(Connection *c, SecBuffer *out, SECURITY_STATUS status)
{
    if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && out->cbBuffer &&
        !socket_send(c->s, (const char *)out->pvBuffer, (int)out->cbBuffer))
        status = (SECURITY_STATUS)socket_error();
    if (out->pvBuffer)
        c->sspi->FreeContextBuffer(out->pvBuffer);
    return status;
}

static uint32_t initialize(void *self, char *input, size_t length, int suppliedOnly, size_t *extra)
{
    Connection *c = connection(self);
    SecBuffer in[2] = {{(ULONG)length, SECBUFFER_TOKEN, input}, {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc inputs = {SECBUFFER_VERSION, 2, in};
    SecBuffer out = {0, SECBUFFER_TOKEN, NULL};
    SecBufferDesc outputs = {SECBUFFER_VERSION, 1, &out};
    ULONG attributes;
    SECURITY_STATUS status = c->sspi->InitializeSecurityContextA(
        &c->credentials, c->hasContext ? &c->context : NULL, (SEC_CHAR *)c->host,
        CONTEXT_FLAGS | (suppliedOnly ? ISC_REQ_USE_SUPPLIED_CREDS : 0), 0, 0, input ? &inputs : NULL, 0,
        &c->context, &outputs, &attributes, NULL);
    c->hasContext |= status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED;
    *extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
    return (uint32_t)send_token(c, &out, status);
}

static uint32_t decrypt(void *self, char *record, size_t length, const char **data, size_t *dataLength,
                        size_t *extra)
{
    Connection *c = connection(self);
    SecBuffer b[4] = {{(ULONG)length, SECBUFFER_DATA, record},
                      {0, SECBUFFER_EMPTY, NULL},
                      {0, SECBUFFER_EMPTY, NULL},
                      {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
    SECURITY_STATUS status = c->sspi->DecryptMessage(&c->context, &d, 0, NULL);
    for (const SecBuffer &x : b) {
        if (x.BufferType == SECBUFFER_DATA) {
            *data = (const char *)x.pvBuffer;
            *dataLength = x.cbBuffer;
        }
        if (x.BufferType == SECBUFFER_EXTRA)
            *extra = x.cbBuffer;
    }
    return (uint32_t)status;
}

static uint32_t protocol(void *self)
{
    Connection *c = connection(self);
    SecPkgContext_ConnectionInfo info;
    return c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK
               ? info.dwProtocol
               : 0;
}

static int read_socket(void *self, char *space, size_t capacity, uint32_t deadline, uint32_t *error)
{
    SOCKET s = connection(self)->s;
    if (!socket_readable(s, deadline)) {
        *error = WSAETIMEDOUT;
        return 0;
    }
    int n = recv(s, space, (int)capacity, 0);
    if (n > 0)
        return n;
    // The server's end in the middle of TLS is as good as a reset.
    *error = n == 0 ? (DWORD)WSAECONNRESET : socket_error();
    return 0;
}

static uint32_t now(void *)
{
    return GetTickCount();
}

static const TlsCalls REAL_CALLS = {NULL, initialize, decrypt, protocol, read_socket, now};

// ---- The server's certificate

// Whether the certificate names the address `host` (an IP literal) among
// its subject's other names. Wine 8's SSL policy matches DNS names alone,
// so a server reached by its address would never pass there.
static int names_address(PCCERT_CONTEXT certificate, const char *host)
{
    ADDRINFOA hints, *address = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICHOST;
    if (getaddrinfo(host, NULL, &hints, &address) != 0)
        return 0; // a name, not an address
    const BYTE *bytes = address->ai_family == AF_INET6
                            ? (const BYTE *)&((const SOCKADDR_IN6 *)address->ai_addr)->sin6_addr
                            : (const BYTE *)&((const SOCKADDR_IN *)address->ai_addr)->sin_addr;
    DWORD size = address->ai_family == AF_INET6 ? 16 : 4;
    PCERT_EXTENSION names = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                              certificate->pCertInfo->rgExtension);
    CERT_ALT_NAME_INFO *info = NULL;
    DWORD infoSize = 0;
    int found = 0;
    if (names && CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData,
                                     names->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, NULL, &info, &infoSize)) {
        for (DWORD i = 0; i < info->cAltEntry; i++) {
            const CERT_ALT_NAME_ENTRY *e = &info->rgAltEntry[i];
            found |= e->dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e->IPAddress.cbData == size &&
                     memcmp(e->IPAddress.pbData, bytes, size) == 0;
        }
        LocalFree(info);
    }
    freeaddrinfo(address);
    return found;
}

// A failed call of the certificate functions, never 0: that would pass.
static DWORD certificate_error(void)
{
    DWORD error = GetLastError();
    return error ? error : (DWORD)TRUST_E_FAIL;
}

// The SSL policy's finding for the chain and the host name. Revocation is
// judged from the chain's trust status, where "revoked" and "unknown"
// stand apart.
static DWORD policy_error(PCCERT_CHAIN_CONTEXT chain, const char *host)
{
    WCHAR name[SERVER_HOST_CAPACITY];
    if (!MultiByteToWideChar(CP_ACP, 0, host, -1, name, SERVER_HOST_CAPACITY))
        return certificate_error();
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    CERT_CHAIN_POLICY_PARA para;
    CERT_CHAIN_POLICY_STATUS status;
    memset(&ssl, 0, sizeof ssl);
    memset(&para, 0, sizeof para);
    memset(&status, 0, sizeof status);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_REVOCATION;
    ssl.pwszServerName = name;
    para.cbSize = sizeof para;
    para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    para.pvExtraPolicyPara = &ssl;
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status))
        return certificate_error();
    return status.dwError;
}

// The chain to a root the system trusts, built for server authentication
// with revocation checked, fetching included, within what is left of the
// time limit; NULL when it cannot be built.
static PCCERT_CHAIN_CONTEXT build_chain(PCCERT_CONTEXT certificate, DWORD deadline)
{
    LPSTR usage[] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH};
    CERT_CHAIN_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    LONG left = (LONG)(deadline - GetTickCount());
    para.dwUrlRetrievalTimeout = left > 0 ? (DWORD)left : 1;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &para,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                 NULL, &chain))
        return NULL;
    return chain;
}

// What the chain and the SSL policy say of the server's certificate,
// judged by tls_verdict.cpp.
static TlsVerdict check_certificate(Connection *c, const char *host, DWORD deadline)
{
    PCCERT_CONTEXT certificate = NULL;
    SECURITY_STATUS found =
        c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (found != SEC_E_OK || !certificate)
        return {TLS_CERTIFICATE_FAILED, found ? (uint32_t)found : (uint32_t)SEC_E_CERT_UNKNOWN};
    PCCERT_CHAIN_CONTEXT chain = build_chain(certificate, deadline);
    TlsVerdict verdict = {TLS_CERTIFICATE_FAILED, chain ? 0 : certificate_error()};
    if (chain) {
        verdict = judge_certificate(chain->TrustStatus.dwErrorStatus, policy_error(chain, host),
                                    names_address(certificate, host));
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(certificate);
    return verdict;
}

// ---- Records inside TLS

static int tls_send(Connection *c, const char *bytes, int length)
{
    char message[SEND_CAPACITY];
    ULONG header = c->sizes.cbHeader, trailer = c->sizes.cbTrailer;
    if (length <= 0 || (ULONG)length > c->sizes.cbMaximumMessage || header + (ULONG)length + trailer > sizeof message)
        return connection_failed(c, (DWORD)SEC_E_BUFFER_TOO_SMALL);
    memcpy(message + header, bytes, (size_t)length);
    SecBuffer b[4] = {{header, SECBUFFER_STREAM_HEADER, message},
                      {(ULONG)length, SECBUFFER_DATA, message + header},
                      {trailer, SECBUFFER_STREAM_TRAILER, message + header + length},
                      {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
    SECURITY_STATUS status = c->sspi->EncryptMessage(&c->context, 0, &d, 0);
    int ok = status == SEC_E_OK && socket_send(c->s, message, (int)(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer));
    if (!ok)
        connection_failed(c, status != SEC_E_OK ? (DWORD)status : socket_error());
    SecureZeroMemory(message, sizeof message); // the password passes through here
    return ok;
}

static int tls_receive(Connection *c, char *space, size_t capacity, DWORD deadline)
{
    int n = tls_stream_receive(&c->tls, space, capacity, deadline);
    return n > 0 ? n : connection_failed(c, c->tls.error);
}

static const ConnectionOps TLS = {tls_send, tls_receive};

// Credentials, the handshake (tls_stream.cpp) and the sizes of a record:
// 1, or 0 with the system's code of the cause kept.
static int handshake(Connection *c, DWORD deadline)
{
    c->sspi = InitSecurityInterfaceA();
    if (!c->sspi)
        return connection_failed(c, (DWORD)SEC_E_SECPKG_NOT_FOUND);
    if (!acquire_credentials(c))
        return 0;
    c->calls = REAL_CALLS;
    c->calls.self = c;
    if (!tls_stream_handshake(&c->tls, deadline))
        return connection_failed(c, c->tls.error);
    SECURITY_STATUS sized = c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_STREAM_SIZES, &c->sizes);
    return sized == SEC_E_OK || connection_failed(c, (DWORD)sized);
}

int connection_start_tls(Connection *c, const char *host, DWORD limitMs)
{
    DWORD deadline = deadline_after(limitMs);
    c->host = host;
    int shaken = handshake(c, deadline);
    c->host = NULL;
    if (!shaken)
        return TLS_HANDSHAKE_FAILED;
    TlsVerdict verdict = check_certificate(c, host, deadline);
    c->lastError = verdict.code;
    if (verdict.outcome == TLS_UP) {
        c->ops = &TLS;
        c->tlsVersion = c->tls.version;
    }
    return verdict.outcome;
}

// The server hears that the session ends (close_notify), so that it can
// tell the end from a cut; its own answer is not waited for.
static void say_goodbye(Connection *c)
{
    DWORD kind = SCHANNEL_SHUTDOWN;
    SecBuffer token = {sizeof kind, SECBUFFER_TOKEN, &kind};
    SecBufferDesc control = {SECBUFFER_VERSION, 1, &token};
    size_t extra;
    if (c->sspi->ApplyControlToken(&c->context, &control) == SEC_E_OK)
        initialize(c, NULL, 0, 0, &extra);
}

void connection_close(Connection *c)
{
    if (c->tlsVersion)
        say_goodbye(c);
    if (c->hasContext)
        c->sspi->DeleteSecurityContext(&c->context);
    if (c->hasCredentials)
        c->sspi->FreeCredentialsHandle(&c->credentials);
    if (c->s != INVALID_SOCKET)
        closesocket(c->s);
    connection_reset(c);
}
