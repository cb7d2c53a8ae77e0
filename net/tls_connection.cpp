// TLS through the platform's Secure Channel (SSPI): the handshake, the
// check of the server's certificate, and records on the wire. No TLS
// library is linked in: the program gets the system's TLS versions and
// fixes, and under Wine the same calls are served on GnuTLS.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS // SCH_CREDENTIALS and TLS_PARAMETERS
#include "connection.h"
#include "server_address.h"
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
// Revocation status that cannot be fetched (offline, no distribution
// point) is no objection; "revoked" is.
static const DWORD REVOCATION_UNKNOWN = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
static const DWORD ISSUER_NOT_TRUSTED = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                        CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_NOT_SIGNATURE_VALID;
enum { TLS_HEADER = 5, SEND_CAPACITY = 2048 };

// ---- Credentials

// A credential that would still allow an old protocol is given back: a
// system may take the newer structure and not honour its list of
// disabled protocols (Wine 8 does so).
static int acquire(Connection *c, void *data)
{
    TimeStamp expiry;
    SecPkgCred_SupportedProtocols protocols;
    if (c->sspi->AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, data,
                                           NULL, NULL, &c->credentials, &expiry) != SEC_E_OK)
        return 0;
    if (c->sspi->QueryCredentialsAttributesA(&c->credentials, SECPKG_ATTR_SUPPORTED_PROTOCOLS, &protocols) ==
            SEC_E_OK &&
        !(protocols.grbitProtocol & OLD_PROTOCOLS))
        return c->hasCredentials = 1;
    c->sspi->FreeCredentialsHandle(&c->credentials);
    return 0;
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

// ---- Records from the wire

// More bytes into records before the deadline; 0 when the buffer is full,
// the stream ended or failed, or the deadline passed.
static int fill(Connection *c, DWORD deadline)
{
    if (c->received == sizeof c->records || !socket_readable(c->s, deadline))
        return 0;
    int n = recv(c->s, c->records + c->received, (int)(sizeof c->records - c->received), 0);
    if (n <= 0)
        return 0;
    c->received += (size_t)n;
    return 1;
}

// Drops the records that have been decrypted and handed out.
static void drop_used(Connection *c)
{
    memmove(c->records, c->records + c->used, c->received - c->used);
    c->received -= c->used;
    c->used = 0;
}

// Whether the bytes at the front can begin a record: a content type from
// change_cipher_spec (20) to application_data (23), and major version 3.
// Plain text where records belong is thus refused at once, instead of
// waiting for a "record" as long as its first bytes happen to say.
static int record_plausible(const Connection *c)
{
    const unsigned char *h = (const unsigned char *)c->records;
    return (c->received < 1 || (h[0] >= 20 && h[0] <= 23)) && (c->received < 2 || h[1] == 3);
}

// The length of the whole record at the front: 0 while more bytes are
// needed, -1 for bytes that are no record.
static long whole_record(const Connection *c)
{
    if (!record_plausible(c))
        return -1;
    if (c->received < TLS_HEADER)
        return 0;
    const unsigned char *h = (const unsigned char *)c->records;
    long length = TLS_HEADER + (h[3] << 8 | h[4]);
    if (length > TLS_RECORD_MAX)
        return -1;
    return c->received >= (size_t)length ? length : 0;
}

// ---- The handshake

// One call of the handshake; its output goes to the server at once.
static SECURITY_STATUS handshake_step(Connection *c, const char *host, SecBufferDesc *input)
{
    SecBuffer out = {0, SECBUFFER_TOKEN, NULL};
    SecBufferDesc outputs = {SECBUFFER_VERSION, 1, &out};
    ULONG attributes;
    SECURITY_STATUS status = c->sspi->InitializeSecurityContextA(
        &c->credentials, c->hasContext ? &c->context : NULL, (SEC_CHAR *)host, CONTEXT_FLAGS, 0, 0, input, 0,
        c->hasContext ? NULL : &c->context, &outputs, &attributes, NULL);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        c->hasContext = 1;
        if (out.cbBuffer && !socket_send(c->s, (const char *)out.pvBuffer, (int)out.cbBuffer))
            status = SEC_E_INTERNAL_ERROR;
    }
    if (out.pvBuffer)
        c->sspi->FreeContextBuffer(out.pvBuffer);
    return status;
}

// Runs the handshake to its end. The first call has no input; when the
// server asks for a new handshake later, the bytes already received are
// its input. What follows the handshake stays in records.
static int handshake(Connection *c, const char *host, DWORD deadline, int renewal)
{
    SECURITY_STATUS status = renewal ? SEC_I_CONTINUE_NEEDED : handshake_step(c, host, NULL);
    int needMore = !renewal;
    while (status != SEC_E_OK) {
        if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE)
            return 0;
        if ((needMore && !fill(c, deadline)) || !record_plausible(c))
            return 0;
        SecBuffer in[2] = {{(ULONG)c->received, SECBUFFER_TOKEN, c->records}, {0, SECBUFFER_EMPTY, NULL}};
        SecBufferDesc inputs = {SECBUFFER_VERSION, 2, in};
        status = handshake_step(c, host, &inputs);
        needMore = 1;
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue; // the input stays as it is
        size_t extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
        c->used = c->received - extra;
        drop_used(c);
        needMore = extra == 0;
    }
    return 1;
}

// The sizes of a record and the protocol agreed on. An old protocol is
// refused even if the system agreed to it.
static int read_session(Connection *c)
{
    SecPkgContext_ConnectionInfo info;
    if (c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_STREAM_SIZES, &c->sizes) != SEC_E_OK ||
        c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        (info.dwProtocol & OLD_PROTOCOLS))
        return 0;
    c->tlsVersion = (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) ? 13 : (info.dwProtocol & SP_PROT_TLS1_2_CLIENT) ? 12 : 0;
    return 1;
}

// ---- The server's certificate

static int policy_outcome(DWORD error)
{
    switch (error) {
    case 0: return TLS_UP;
    case (DWORD)CERT_E_CN_NO_MATCH: return TLS_NAME_MISMATCH;
    case (DWORD)CERT_E_EXPIRED: return TLS_EXPIRED;
    case (DWORD)CRYPT_E_REVOKED: return TLS_REVOKED;
    case (DWORD)CERT_E_UNTRUSTEDROOT:
    case (DWORD)CERT_E_CHAINING: return TLS_UNTRUSTED_ISSUER;
    }
    return TLS_CERTIFICATE_FAILED;
}

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

// The chain's own trust status first: Wine 8's SSL policy passes a chain
// whose issuer is unknown, so an error bit there refuses the chain as
// Windows would. Then the SSL policy, which also matches the host name.
static int judge_chain(PCCERT_CHAIN_CONTEXT chain, const char *host)
{
    DWORD trust = chain->TrustStatus.dwErrorStatus & ~REVOCATION_UNKNOWN;
    if (trust & CERT_TRUST_IS_REVOKED)
        return TLS_REVOKED;
    if (trust & CERT_TRUST_IS_NOT_TIME_VALID)
        return TLS_EXPIRED;
    if (trust & ISSUER_NOT_TRUSTED)
        return TLS_UNTRUSTED_ISSUER;
    if (trust)
        return TLS_CERTIFICATE_FAILED;
    WCHAR name[SERVER_HOST_CAPACITY];
    if (!MultiByteToWideChar(CP_ACP, 0, host, -1, name, SERVER_HOST_CAPACITY))
        return TLS_CERTIFICATE_FAILED;
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
        return TLS_CERTIFICATE_FAILED;
    int outcome = policy_outcome(status.dwError);
    if (outcome == TLS_NAME_MISMATCH && names_address(chain->rgpChain[0]->rgpElement[0]->pCertContext, host))
        return TLS_UP;
    return outcome;
}

// The chain to a root the system trusts, built for server authentication
// with revocation checked, fetching included, within what is left of the
// time limit.
static int check_certificate(Connection *c, const char *host, DWORD deadline)
{
    PCCERT_CONTEXT certificate = NULL;
    if (c->sspi->QueryContextAttributesA(&c->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        !certificate)
        return TLS_CERTIFICATE_FAILED;
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
    int outcome = TLS_CERTIFICATE_FAILED;
    if (CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &para,
                                CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                    CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                NULL, &chain)) {
        outcome = judge_chain(chain, host);
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(certificate);
    return outcome;
}

// ---- Records inside TLS

static int tls_send(Connection *c, const char *bytes, int length)
{
    char message[SEND_CAPACITY];
    ULONG header = c->sizes.cbHeader, trailer = c->sizes.cbTrailer;
    if (length <= 0 || (ULONG)length > c->sizes.cbMaximumMessage || header + (ULONG)length + trailer > sizeof message)
        return 0;
    memcpy(message + header, bytes, (size_t)length);
    SecBuffer b[4] = {{header, SECBUFFER_STREAM_HEADER, message},
                      {(ULONG)length, SECBUFFER_DATA, message + header},
                      {trailer, SECBUFFER_STREAM_TRAILER, message + header + length},
                      {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
    int ok = c->sspi->EncryptMessage(&c->context, 0, &d, 0) == SEC_E_OK &&
             socket_send(c->s, message, (int)(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer));
    SecureZeroMemory(message, sizeof message); // the password passes through here
    return ok;
}

// Decrypts the next whole record in place. A record may carry no data
// (then there is simply nothing to hand out yet); the server's close
// notice, a damaged record or a new handshake that fails end the stream.
static int decrypt_next(Connection *c, DWORD deadline)
{
    long length;
    drop_used(c);
    while ((length = whole_record(c)) == 0)
        if (!fill(c, deadline))
            return 0;
    if (length < 0)
        return 0;
    SecBuffer b[4] = {{(ULONG)length, SECBUFFER_DATA, c->records},
                      {0, SECBUFFER_EMPTY, NULL},
                      {0, SECBUFFER_EMPTY, NULL},
                      {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
    SECURITY_STATUS status = c->sspi->DecryptMessage(&c->context, &d, 0, NULL);
    c->used = (size_t)length;
    if (status == SEC_I_RENEGOTIATE) {
        // TLS 1.3's session tickets come this way on Windows.
        drop_used(c);
        return handshake(c, NULL, deadline, 1);
    }
    if (status != SEC_E_OK)
        return 0;
    for (const SecBuffer &x : b)
        if (x.BufferType == SECBUFFER_DATA) {
            c->plain = (const char *)x.pvBuffer;
            c->plainLength = x.cbBuffer;
        }
    return 1;
}

static int tls_receive(Connection *c, char *space, size_t capacity, DWORD deadline)
{
    while (c->plainLength == 0)
        if (!decrypt_next(c, deadline))
            return 0;
    size_t n = c->plainLength < capacity ? c->plainLength : capacity;
    memcpy(space, c->plain, n);
    c->plain += n;
    c->plainLength -= n;
    return (int)n;
}

static const ConnectionOps TLS = {tls_send, tls_receive};

int connection_start_tls(Connection *c, const char *host, DWORD limitMs)
{
    DWORD deadline = deadline_after(limitMs);
    c->sspi = InitSecurityInterfaceA();
    if (!c->sspi || !acquire_credentials(c) || !handshake(c, host, deadline, 0) || !read_session(c))
        return TLS_HANDSHAKE_FAILED;
    int outcome = check_certificate(c, host, deadline);
    if (outcome == TLS_UP)
        c->ops = &TLS;
    return outcome;
}

void connection_close(Connection *c)
{
    if (c->hasContext)
        c->sspi->DeleteSecurityContext(&c->context);
    if (c->hasCredentials)
        c->sspi->FreeCredentialsHandle(&c->credentials);
    if (c->s != INVALID_SOCKET)
        closesocket(c->s);
    connection_reset(c);
}
