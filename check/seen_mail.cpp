#include "seen_mail.h"
#include "../pop3/seen_file.h"

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
