#include "tls_verdict.h"

struct Row {
    uint32_t found;
    int outcome;
    uint32_t code;
};

// The chain's own findings first, in this order: Wine 8's SSL policy
// passes a chain whose issuer is unknown, so an error bit refuses the
// chain as Windows would. The last row takes any other error bit.
static const Row TRUST_ROWS[] = {
    {TRUST_IS_REVOKED, TLS_REVOKED, REFUSED_REVOKED},
    {TRUST_IS_NOT_TIME_VALID, TLS_EXPIRED, REFUSED_EXPIRED},
    {TRUST_IS_UNTRUSTED_ROOT, TLS_UNTRUSTED_ISSUER, REFUSED_UNTRUSTED_ROOT},
    {TRUST_IS_PARTIAL_CHAIN | TRUST_IS_CYCLIC, TLS_UNTRUSTED_ISSUER, REFUSED_CHAINING},
    {TRUST_IS_NOT_SIGNATURE_VALID, TLS_UNTRUSTED_ISSUER, REFUSED_SIGNATURE},
    {TRUST_IS_NOT_VALID_FOR_USAGE, TLS_CERTIFICATE_FAILED, REFUSED_WRONG_USAGE},
    {~0u, TLS_CERTIFICATE_FAILED, REFUSED_TRUST_FAILED},
};

// Then the SSL policy, which also matches the host name. An error not
// listed refuses with its own code.
static const Row POLICY_ROWS[] = {
    {0, TLS_UP, 0},
    {NO_REVOCATION_CHECK, TLS_UP, 0},
    {REVOCATION_OFFLINE, TLS_UP, 0},
    {REFUSED_NAME_MISMATCH, TLS_NAME_MISMATCH, REFUSED_NAME_MISMATCH},
    {REFUSED_EXPIRED, TLS_EXPIRED, REFUSED_EXPIRED},
    {REFUSED_REVOKED, TLS_REVOKED, REFUSED_REVOKED},
    {REFUSED_UNTRUSTED_ROOT, TLS_UNTRUSTED_ISSUER, REFUSED_UNTRUSTED_ROOT},
    {REFUSED_CHAINING, TLS_UNTRUSTED_ISSUER, REFUSED_CHAINING},
};

static const uint32_t REVOCATION_UNKNOWN = TRUST_REVOCATION_STATUS_UNKNOWN | TRUST_IS_OFFLINE_REVOCATION;

static TlsVerdict judge_policy(uint32_t error, int namesAddress)
{
    if (error == REFUSED_NAME_MISMATCH && namesAddress)
        return {TLS_UP, 0};
    for (const Row &row : POLICY_ROWS)
        if (row.found == error)
            return {row.outcome, row.code};
    return {TLS_CERTIFICATE_FAILED, error};
}

TlsVerdict judge_certificate(uint32_t trust, uint32_t policyError, int namesAddress)
{
    trust &= ~REVOCATION_UNKNOWN;
    if (trust)
        for (const Row &row : TRUST_ROWS)
            if (trust & row.found)
                return {row.outcome, row.code};
    return judge_policy(policyError, namesAddress);
}
