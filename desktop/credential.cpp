#include "credential.h"
#include "wide_text.h"
#include <wincred.h>

static const WCHAR TARGET_PREFIX[] = L"Sorvane:";

// The prefix, a user and a server of 127 bytes each, "@" and the NUL.
enum { NAME_CAPACITY = 128, TARGET_CAPACITY = 8 + 2 * NAME_CAPACITY + 1, PASSWORD_CAPACITY = 128 };

// "Sorvane:<user>@<server>"; its user part, the user name, into `name`.
static void target_of(const char *user, const char *server, WCHAR *target, WCHAR *name)
{
    WCHAR host[NAME_CAPACITY];
    wide_from_932(user, -1, name, NAME_CAPACITY);
    wide_from_932(server, -1, host, NAME_CAPACITY);
    wsprintfW(target, L"%s%s@%s", TARGET_PREFIX, name, host);
}

unsigned long credential_write(const char *user, const char *server, const char *password)
{
    WCHAR target[TARGET_CAPACITY], name[NAME_CAPACITY], secret[PASSWORD_CAPACITY];
    target_of(user, server, target, name);
    wide_from_932(password, -1, secret, PASSWORD_CAPACITY);
    CREDENTIALW c = {};
    c.Type = CRED_TYPE_GENERIC;
    c.TargetName = target;
    c.UserName = name;
    c.CredentialBlobSize = (DWORD)(lstrlenW(secret) * sizeof(WCHAR));
    c.CredentialBlob = (LPBYTE)secret;
    c.Persist = CRED_PERSIST_LOCAL_MACHINE;
    DWORD error = CredWriteW(&c, 0) ? 0 : GetLastError();
    SecureZeroMemory(secret, sizeof secret);
    return error;
}

// The blob as a wide text of the user named: the store's own copy is wiped
// before it is freed, whatever it held.
static int take_secret(CREDENTIALW *c, const WCHAR *name, WCHAR *secret)
{
    DWORD size = c->CredentialBlobSize;
    int mine = c->UserName && lstrcmpW(c->UserName, name) == 0 && size > 0 && size % sizeof(WCHAR) == 0 &&
               size < PASSWORD_CAPACITY * sizeof(WCHAR);
    if (mine) {
        CopyMemory(secret, c->CredentialBlob, size);
        secret[size / sizeof(WCHAR)] = 0;
    }
    SecureZeroMemory(c->CredentialBlob, size);
    CredFree(c);
    return mine;
}

int credential_read(const char *user, const char *server, char *out, int capacity)
{
    WCHAR target[TARGET_CAPACITY], name[NAME_CAPACITY], secret[PASSWORD_CAPACITY];
    CREDENTIALW *c = NULL;
    target_of(user, server, target, name);
    int found = CredReadW(target, CRED_TYPE_GENERIC, 0, &c) && take_secret(c, name, secret) &&
                text_932_from_wide(secret, out, capacity) == TEXT_KEPT;
    SecureZeroMemory(secret, sizeof secret);
    if (!found && capacity > 0)
        out[0] = '\0';
    return found;
}

void credential_delete(const char *user, const char *server)
{
    WCHAR target[TARGET_CAPACITY], name[NAME_CAPACITY];
    target_of(user, server, target, name);
    CredDeleteW(target, CRED_TYPE_GENERIC, 0);
}

int credential_same(const char *user1, const char *server1, const char *user2, const char *server2)
{
    WCHAR one[TARGET_CAPACITY], two[TARGET_CAPACITY], name[NAME_CAPACITY];
    target_of(user1, server1, one, name);
    target_of(user2, server2, two, name);
    return CompareStringOrdinal(one, -1, two, -1, TRUE) == CSTR_EQUAL;
}
