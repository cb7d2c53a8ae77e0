#include "seen_mail.h"
#include "../pop3/seen_file.h"
#include <string.h>

static const char *seen_name(const Pop3Account *account)
{
    return account->seenFile[0] ? account->seenFile : SEEN_FILE_NAME;
}

// The uids of the file, when the judgement first needs them.
static void recall_uids(const void *self, SeenList *before)
{
    const Pop3Account *account = (const Pop3Account *)self;
    SeenMark mark;
    load_seen_file(account->folder, seen_name(account), account->server, account->user, &mark, before);
}

void seen_mail_begin(const Pop3Account *account, Pop3Seen *seen)
{
    pop3_seen_init(seen);
    seen->active = account->unseenOnly != 0;
    if (!seen->active)
        return;
    load_seen_file(account->folder, seen_name(account), account->server, account->user, &seen->last, NULL);
    seen->recall = recall_uids;
    seen->recallSelf = account;
}

void seen_mail_end(const Pop3Account *account, Pop3Seen *seen, int clean)
{
    if (clean && seen->active && seen->judged && pop3_seen_changed(seen)) {
        // A check that listed no uids of its own keeps those seen before.
        if (!seen->listed)
            pop3_seen_recall(seen);
        save_seen_file(account->folder, seen_name(account), account->server, account->user, &seen->mark,
                       seen->listed ? &seen->now : &seen->before);
    }
    pop3_seen_free(seen);
}

// Beside the seen mail, by the same name: "Sorvane.server" for the first
// account.
static void server_name(const Pop3Account *account, char *name)
{
    const char *seen = seen_name(account);
    size_t n = strlen(seen) - (sizeof ".seen" - 1);
    memcpy(name, seen, n);
    memcpy(name + n, ".server", sizeof ".server");
}

void server_memory_recall(const Pop3Account *account, Pop3Memory *memory)
{
    char name[POP3_SEEN_NAME_CAPACITY + 8];
    ServerNotes notes;
    if (memory->asked && !strcmp(memory->server, account->server) && !strcmp(memory->user, account->user))
        return;
    memset(memory, 0, sizeof *memory);
    server_name(account, name);
    if (!load_server_file(account->folder, name, account->server, account->user, &notes))
        return;
    memcpy(memory->server, account->server, sizeof memory->server);
    memcpy(memory->user, account->user, sizeof memory->user);
    memory->asked = 1;
    memory->pipelining = (notes.flags & POP3_CAPABILITY_PIPELINING) != 0;
    memory->utf8 = (notes.flags & POP3_CAPABILITY_UTF8) != 0;
    memory->loginDelay = notes.loginDelay;
}

void server_memory_keep(const Pop3Account *account, const Pop3Memory *before, const Pop3Memory *memory)
{
    char name[POP3_SEEN_NAME_CAPACITY + 8];
    if (!memcmp(before, memory, sizeof *memory))
        return;
    ServerNotes notes = {(memory->pipelining ? POP3_CAPABILITY_PIPELINING : 0) | (memory->utf8 ? POP3_CAPABILITY_UTF8 : 0),
                         memory->loginDelay};
    server_name(account, name);
    // A memory forgotten (the server answered out of step) is kept as of
    // nobody: the server is asked again, as a new one.
    save_server_file(account->folder, name, memory->asked ? account->server : "", memory->asked ? account->user : "",
                     &notes);
}
