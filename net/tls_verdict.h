// The judgement of the server's certificate, apart from the platform: from
// what the chain engine and the SSL policy found to a TlsOutcome and the
// system's code that says why. tls_connection.cpp asks the platform; the
// native tests try every row of the table on made-up findings.
#ifndef SORVANE_TLS_VERDICT_H
#define SORVANE_TLS_VERDICT_H

#include <stdint.h>
#include "net_link.h"

// The chain's trust error bits (CERT_TRUST_STATUS.dwErrorStatus) and the
// codes of a refusal (HRESULT): fixed by the system, checked against its
// headers in tls_connection.cpp.
enum : uint32_t {
    TRUST_IS_NOT_TIME_VALID = 0x00000001,
    TRUST_IS_REVOKED = 0x00000004,
    TRUST_IS_NOT_SIGNATURE_VALID = 0x00000008,
    TRUST_IS_NOT_VALID_FOR_USAGE = 0x00000010,
    TRUST_IS_UNTRUSTED_ROOT = 0x00000020,
    TRUST_REVOCATION_STATUS_UNKNOWN = 0x00000040,
    TRUST_IS_CYCLIC = 0x00000080,
    TRUST_IS_PARTIAL_CHAIN = 0x00010000,
    TRUST_IS_OFFLINE_REVOCATION = 0x01000000,

    REFUSED_EXPIRED = 0x800B0101,         // CERT_E_EXPIRED
    REFUSED_UNTRUSTED_ROOT = 0x800B0109,  // CERT_E_UNTRUSTEDROOT
    REFUSED_CHAINING = 0x800B010A,        // CERT_E_CHAINING
    REFUSED_TRUST_FAILED = 0x800B010B,    // TRUST_E_FAIL
    REFUSED_NAME_MISMATCH = 0x800B010F,   // CERT_E_CN_NO_MATCH
    REFUSED_WRONG_USAGE = 0x800B0110,     // CERT_E_WRONG_USAGE
    REFUSED_REVOKED = 0x80092010,         // CRYPT_E_REVOKED
    NO_REVOCATION_CHECK = 0x80092012,     // CRYPT_E_NO_REVOCATION_CHECK
    REVOCATION_OFFLINE = 0x80092013,      // CRYPT_E_REVOCATION_OFFLINE
    REFUSED_SIGNATURE = 0x80096004        // TRUST_E_CERT_SIGNATURE
};

struct TlsVerdict {
    int outcome;   // a TlsOutcome
    uint32_t code; // why, for the user's message; 0 with TLS_UP
};

// `trust`: the chain's error bits; `policyError`: the SSL policy's dwError
// for the host name; `namesAddress`: the host is an IP literal that the
// certificate names among its other names (Wine's SSL policy matches DNS
// names alone). Revocation that could not be checked is no objection.
TlsVerdict judge_certificate(uint32_t trust, uint32_t policyError, int namesAddress);

#endif
