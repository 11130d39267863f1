// Wine's Authenticode check, for the packages tests: "trust_probe FILE [CA.der]" adds CA (DER)
// to the current user's Root store of the Wine prefix when given (the test's CA, trusted in
// that prefix only), then asks WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI
// and no revocation checks, and prints its result as 0x%08x (0: trusted; 0x800b0100
// TRUST_E_NOSIGNATURE; 0x80096010 TRUST_E_BAD_DIGEST; 0x800b0109 CERT_E_UNTRUSTEDROOT).
#include <windows.h>

#include <softpub.h>
#include <stdio.h>
#include <wincrypt.h>
#include <wintrust.h>

static int TrustCa(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE der[16384];
    DWORD read = 0;
    BOOL ok = ReadFile(file, der, sizeof der, &read, NULL);
    CloseHandle(file);
    if (!ok || read == 0)
        return 0;
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!root)
        return 0;
    ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, read,
                                          CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    CertCloseStore(root, 0);
    return ok;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: trust_probe FILE [CA.der]\n");
        return 2;
    }
    if (argc == 3 && !TrustCa(argv[2])) {
        fprintf(stderr, "trust_probe: cannot add the CA to the Root store (%lu)\n", GetLastError());
        return 3;
    }
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = argv[1];
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust((HWND)INVALID_HANDLE_VALUE, &action, &data);
    printf("0x%08lx\n", (unsigned long)result);
    return 0;
}
