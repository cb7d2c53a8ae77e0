// Makes the test CA a trusted root of the Wine prefix it runs in, and only
// there: `trust_ca <CA certificate, DER>`. A root of an earlier run with the
// same name goes first, so that a chain never meets a stale namesake whose
// key no longer signs anything.
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trust_ca <CA certificate, DER>\n");
        return 2;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "trust_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(65536);
    der.resize(fread(der.data(), 1, der.size(), f));
    fclose(f);

    PCCERT_CONTEXT ca = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), (DWORD)der.size());
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    if (!ca || !root) {
        fprintf(stderr, "trust_ca: not a certificate, or no root store (%lu)\n", GetLastError());
        return 1;
    }
    for (;;) {
        PCCERT_CONTEXT old = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                        &ca->pCertInfo->Subject, NULL);
        if (!old)
            break;
        CertDeleteCertificateFromStore(old);
    }
    CertCloseStore(root, 0);
    CertFreeCertificateContext(ca);
    if (!CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(), (DWORD)der.size())) {
        fprintf(stderr, "trust_ca: the root store refused the certificate (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
