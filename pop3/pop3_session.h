// One check's POP3 dialogue as a session over a NetLink: the account, the
// time limit and where the progress goes are parameters, the outcome is
// the result. No globals, no windows and no platform calls, so the whole
// dialogue runs natively under the sanitizers with a scripted link.
#ifndef SORVANE_POP3_SESSION_H
#define SORVANE_POP3_SESSION_H

#include <stddef.h>
#include <stdint.h>
#include "../net/net_link.h"
#include "pop3_check.h"
#include "seen_judgement.h"

// The whole dialogue: socket layer, look-up, connect, TLS where the
// server text asks for it, greeting, STLS, USER, PASS, STAT, the seen-mail
// judgement (UIDL, and CAPA once), QUIT. Every wait ends at limitMs (the
// connect for all the addresses together, the handshake with its
// certificate check, each whole reply with its listing, the replies of one
// flight together). Returns outcome->ok. The link's connection is left
// open: the caller closes it, after telling a failure.
int pop3_session_run(const Pop3Account *account, const NetLink *net, uint32_t limitMs, const Pop3Status *status,
                     Pop3Seen *seen, Pop3Outcome *outcome);

#endif
