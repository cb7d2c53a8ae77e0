// The judgement of the server's certificate, row by row: what the chain
// engine and the SSL policy found, and what the user is told with which
// code.
#include <gtest/gtest.h>
#include "net/tls_verdict.h"

namespace {

const uint32_t INVALID_EXTENSION = 0x100;      // CERT_TRUST_INVALID_EXTENSION: any other error bit
const uint32_t POLICY_INVALID_NAME = 0x800B0114; // CERT_E_INVALID_NAME: a policy error of no row
const uint32_t OFFLINE = TRUST_REVOCATION_STATUS_UNKNOWN | TRUST_IS_OFFLINE_REVOCATION;

struct Case {
    const char *name;
    uint32_t trust, policy;
    int namesAddress;
    int outcome;
    uint32_t code;
};

TEST(TlsVerdict, EachFindingGivesItsOutcomeAndCode)
{
    const Case cases[] = {
        {"trusted, name matches", 0, 0, 0, TLS_UP, 0},
        {"untrusted root", TRUST_IS_UNTRUSTED_ROOT, REFUSED_UNTRUSTED_ROOT, 0, TLS_UNTRUSTED_ISSUER,
         REFUSED_UNTRUSTED_ROOT},
        // Wine 8's policy passes a chain whose issuer is unknown.
        {"partial chain", TRUST_IS_PARTIAL_CHAIN, 0, 0, TLS_UNTRUSTED_ISSUER, REFUSED_CHAINING},
        {"partial chain, revocation offline", TRUST_IS_PARTIAL_CHAIN | OFFLINE, 0, 0, TLS_UNTRUSTED_ISSUER,
         REFUSED_CHAINING},
        {"cyclic", TRUST_IS_CYCLIC, REFUSED_CHAINING, 0, TLS_UNTRUSTED_ISSUER, REFUSED_CHAINING},
        {"bad signature", TRUST_IS_NOT_SIGNATURE_VALID, REFUSED_SIGNATURE, 0, TLS_UNTRUSTED_ISSUER,
         REFUSED_SIGNATURE},
        {"revoked", TRUST_IS_REVOKED, REFUSED_REVOKED, 0, TLS_REVOKED, REFUSED_REVOKED},
        {"revoked, the policy told to ignore it", TRUST_IS_REVOKED, 0, 0, TLS_REVOKED, REFUSED_REVOKED},
        {"revoked and expired", TRUST_IS_REVOKED | TRUST_IS_NOT_TIME_VALID, REFUSED_EXPIRED, 0, TLS_REVOKED,
         REFUSED_REVOKED},
        {"revocation unknown", TRUST_REVOCATION_STATUS_UNKNOWN, 0, 0, TLS_UP, 0},
        {"revocation offline", OFFLINE, 0, 0, TLS_UP, 0},
        {"revocation offline, the policy says so", OFFLINE, REVOCATION_OFFLINE, 0, TLS_UP, 0},
        {"no revocation check, the policy says so", TRUST_REVOCATION_STATUS_UNKNOWN, NO_REVOCATION_CHECK, 0,
         TLS_UP, 0},
        {"expired", TRUST_IS_NOT_TIME_VALID, REFUSED_EXPIRED, 0, TLS_EXPIRED, REFUSED_EXPIRED},
        {"expired, the policy alone", 0, REFUSED_EXPIRED, 0, TLS_EXPIRED, REFUSED_EXPIRED},
        {"name mismatch", 0, REFUSED_NAME_MISMATCH, 0, TLS_NAME_MISMATCH, REFUSED_NAME_MISMATCH},
        {"IP literal the certificate names", 0, REFUSED_NAME_MISMATCH, 1, TLS_UP, 0},
        {"IP literal named, untrusted root", TRUST_IS_UNTRUSTED_ROOT, REFUSED_NAME_MISMATCH, 1,
         TLS_UNTRUSTED_ISSUER, REFUSED_UNTRUSTED_ROOT},
        {"untrusted root, the policy alone", 0, REFUSED_UNTRUSTED_ROOT, 0, TLS_UNTRUSTED_ISSUER,
         REFUSED_UNTRUSTED_ROOT},
        {"chaining, the policy alone", 0, REFUSED_CHAINING, 0, TLS_UNTRUSTED_ISSUER, REFUSED_CHAINING},
        {"revoked, the policy alone", 0, REFUSED_REVOKED, 0, TLS_REVOKED, REFUSED_REVOKED},
        {"not for server authentication", TRUST_IS_NOT_VALID_FOR_USAGE, 0, 0, TLS_CERTIFICATE_FAILED,
         REFUSED_WRONG_USAGE},
        {"another error bit", INVALID_EXTENSION | OFFLINE, 0, 0, TLS_CERTIFICATE_FAILED, REFUSED_TRUST_FAILED},
        {"another policy error", 0, POLICY_INVALID_NAME, 0, TLS_CERTIFICATE_FAILED, POLICY_INVALID_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TlsVerdict v = judge_certificate(c.trust, c.policy, c.namesAddress);
        EXPECT_EQ(v.outcome, c.outcome);
        EXPECT_EQ(v.code, c.code);
    }
}

} // namespace
