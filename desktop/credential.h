// An account's password in the Windows credential store: one generic
// credential of the local machine per account, named "Sorvane:" and the
// account ("Sorvane:<user>@<server>", so that a user can find it in the
// Credential Manager), its user name the account's. The program's texts
// are code page 932; the store is reached through the wide calls.
#ifndef SORVANE_CREDENTIAL_H
#define SORVANE_CREDENTIAL_H

// Writes (or overwrites) the account's credential: 0, else the system's
// code.
unsigned long credential_write(const char *user, const char *server, const char *password);
// 1 with the password in `out` (`capacity` bytes) when the store holds one
// for exactly this user; else 0 and `out` empty.
int credential_read(const char *user, const char *server, char *out, int capacity);
// The account's credential goes; one that is not there is no failure.
void credential_delete(const char *user, const char *server);
// 1 when two accounts name one credential: the store compares its names
// without regard to case.
int credential_same(const char *user1, const char *server1, const char *user2, const char *server2);

#endif
