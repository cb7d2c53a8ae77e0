#include "seen_mail.h"
#include "pop3_check.h"
#include "../settings/settings.h"
#include "resource.h"
#include <stdlib.h>
#include <string.h>

const char SEEN_FILE_NAME[] = "Sorvane.seen";
const char SEEN_TEMP_FILE_NAME[] = "Sorvane.seen.new";

static const char UIDL_SEND_FAILED[] = "コマンド#5を送信できませんでした。";
static const char UIDL_RECEIVE_FAILED[] = "サーバーから応答を受け取ることができませんでした。#5";
static const char UIDL_TOO_LONG[] = "メールの一覧が50000行を超えたため、確認を中止しました。";
static const char UIDL_UNREADABLE[] = "メールの一覧を正しく解釈できませんでした。";
static const char OUT_OF_MEMORY[] = "メモリが不足しているため、確認を中止しました。";

static_assert(POP3_MULTILINE_MAX_LINES == 50000, "the message above names the limit");

// The file beside the settings file, whatever the current directory is by
// now (a file chooser may have changed it). 0 when the path would not fit.
static int seen_path(const char *name, char *path, size_t capacity)
{
    size_t n = strlen(startDirectory);
    int slash = n > 0 && startDirectory[n - 1] != '\\' && startDirectory[n - 1] != '/';
    if (n + slash + strlen(name) + 1 > capacity)
        return 0;
    memcpy(path, startDirectory, n);
    if (slash)
        path[n++] = '\\';
    strcpy(path + n, name);
    return 1;
}

int load_seen_file(const char *server, const char *user, unsigned long *count, SeenList *uids)
{
    *count = 0;
    seen_list_free(uids);
    char path[START_DIRECTORY_CAPACITY + 32];
    if (!seen_path(SEEN_FILE_NAME, path, sizeof path))
        return SEEN_FILE_DAMAGED;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return SEEN_FILE_DAMAGED;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    unsigned char *bytes = NULL;
    DWORD got = 0;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= SEEN_FILE_MAX_SIZE
        && (bytes = (unsigned char *)malloc(size ? size : 1)) != NULL) {
        DWORD n = 1;
        while (got < size && n && ReadFile(file, bytes + got, size - got, &n, NULL))
            got += n;
    }
    CloseHandle(file);
    int outcome = SEEN_FILE_DAMAGED;
    if (bytes && got == size)
        outcome = decode_seen_file(bytes, size, server, user, count, uids);
    free(bytes);
    return outcome;
}

static int write_all(HANDLE file, const unsigned char *bytes, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written == size;
}

int save_seen_file(const char *server, const char *user, unsigned long count, const SeenList *uids)
{
    int saved = 0;
    char path[START_DIRECTORY_CAPACITY + 32], temp[START_DIRECTORY_CAPACITY + 32];
    if (!seen_path(SEEN_FILE_NAME, path, sizeof path) || !seen_path(SEEN_TEMP_FILE_NAME, temp, sizeof temp))
        return 0;
    size_t capacity = seen_file_size(server, user, uids), size;
    unsigned char *bytes = (unsigned char *)malloc(capacity);
    if (!bytes)
        return 0;
    if (encode_seen_file(server, user, count, uids, bytes, capacity, &size)) {
        HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            int ok = write_all(file, bytes, size) && FlushFileBuffers(file);
            ok = CloseHandle(file) && ok;
            saved = ok && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (!saved)
                DeleteFileA(temp);
        }
    }
    free(bytes);
    return saved;
}

void seen_mail_begin(SeenMail *m)
{
    memset(m, 0, sizeof *m);
    seen_list_init(&m->before);
    seen_list_init(&m->now);
    SettingsRecord s;
    settings_snapshot(&s);
    m->active = s.unseenOnly != 0;
    memcpy(m->server, s.server, sizeof m->server);
    memcpy(m->user, s.user, sizeof m->user);
    SecureZeroMemory(&s, sizeof s);
    if (m->active)
        load_seen_file(m->server, m->user, &m->lastCount, &m->before);
}

static int failed(const char **failure, const char *message)
{
    *failure = message;
    return 0;
}

// The listing after "+OK", up to its ".", into `m->now`. The whole listing
// gets the time limit of one reply (and its last line may use another).
static int read_listing(SeenMail *m, const Pop3Talk *talk, const char **failure)
{
    Pop3MultiLine listing;
    pop3_multiline_begin(&listing);
    DWORD start = GetTickCount();
    for (;;) {
        char *line;
        size_t length;
        if (GetTickCount() - start > (DWORD)pop3TimeoutMs || !talk->receive_line(talk->session, &line, &length))
            return failed(failure, UIDL_RECEIVE_FAILED);
        int step = pop3_multiline_line(&listing, line, &length);
        if (step == POP3_MULTILINE_END)
            break;
        if (step == POP3_MULTILINE_TOO_MANY)
            return failed(failure, UIDL_TOO_LONG);
        const char *uid;
        size_t uidLength;
        if (!pop3_uidl_line(line, length, &uid, &uidLength))
            return failed(failure, UIDL_UNREADABLE);
        if (!seen_list_add(&m->now, uid, uidLength))
            return failed(failure, OUT_OF_MEMORY);
    }
    if (!seen_list_finish(&m->now))
        return failed(failure, OUT_OF_MEMORY);
    return 1;
}

int seen_mail_judge(SeenMail *m, const Pop3Talk *talk, unsigned long count, unsigned long *newCount,
                    const char **failure)
{
    m->count = count;
    *newCount = count;
    if (!m->active)
        return 1;
    m->judged = 1;
    m->listed = 1; // an empty mailbox lists nothing, and needs no UIDL
    if (count == 0)
        return 1;
    write_status(IDC_STATUS_DETAIL, DETAIL_UIDL);
    char *line;
    size_t length;
    if (!talk->send_command(talk->session, "UIDL"))
        return failed(failure, UIDL_SEND_FAILED);
    if (!talk->receive_line(talk->session, &line, &length))
        return failed(failure, UIDL_RECEIVE_FAILED);
    if (!pop3_reply_positive(line, length)) {
        // No uids from this server: more messages than last time is new
        // mail, and the uids seen earlier are kept for when it lists again.
        m->listed = 0;
        *newCount = count > m->lastCount ? count - m->lastCount : 0;
        return 1;
    }
    if (!read_listing(m, talk, failure))
        return 0;
    *newCount = seen_list_unseen(&m->now, &m->before);
    return 1;
}

void seen_mail_end(SeenMail *m, int clean)
{
    if (clean && m->active && m->judged)
        save_seen_file(m->server, m->user, m->count, m->listed ? &m->now : &m->before);
    seen_list_free(&m->before);
    seen_list_free(&m->now);
}
