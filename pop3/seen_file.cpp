#include "seen_file.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

const char SEEN_FILE_NAME[] = "Sorvane.seen";
const char SEEN_TEMP_FILE_NAME[] = "Sorvane.seen.new";

// The file in the folder, whatever the current directory is by now (a
// file chooser may have changed it). 0 when the path would not fit.
static int seen_path(const char *folder, const char *name, char *path, size_t capacity)
{
    size_t n = strlen(folder);
    int slash = n > 0 && folder[n - 1] != '\\' && folder[n - 1] != '/';
    if (n + slash + strlen(name) + 1 > capacity)
        return 0;
    memcpy(path, folder, n);
    if (slash)
        path[n++] = '\\';
    strcpy(path + n, name);
    return 1;
}

int load_seen_file(const char *folder, const char *server, const char *user, SeenMark *mark, SeenList *uids)
{
    memset(mark, 0, sizeof *mark);
    if (uids)
        seen_list_free(uids);
    char path[POP3_FOLDER_CAPACITY + 32];
    if (!seen_path(folder, SEEN_FILE_NAME, path, sizeof path))
        return SEEN_FILE_DAMAGED;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return SEEN_FILE_DAMAGED;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (!uids && size > SEEN_FILE_HEAD_MAX_SIZE)
        size = SEEN_FILE_HEAD_MAX_SIZE;
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
        outcome = decode_seen_file(bytes, size, server, user, mark, uids);
    free(bytes);
    return outcome;
}

static int write_all(HANDLE file, const unsigned char *bytes, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written == size;
}

int save_seen_file(const char *folder, const char *server, const char *user, const SeenMark *mark,
                   const SeenList *uids)
{
    int saved = 0;
    char path[POP3_FOLDER_CAPACITY + 32], temp[POP3_FOLDER_CAPACITY + 32];
    if (!seen_path(folder, SEEN_FILE_NAME, path, sizeof path) || !seen_path(folder, SEEN_TEMP_FILE_NAME, temp, sizeof temp))
        return 0;
    size_t capacity = seen_file_size(server, user, uids), size;
    unsigned char *bytes = (unsigned char *)malloc(capacity);
    if (!bytes)
        return 0;
    if (encode_seen_file(server, user, mark, uids, bytes, capacity, &size)) {
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

static void recall_uids(const void *self, SeenList *before)
{
    const Pop3Account *account = (const Pop3Account *)self;
    SeenMark mark;
    load_seen_file(account->folder, account->server, account->user, &mark, before);
}

void seen_mail_begin(const Pop3Account *account, Pop3Seen *seen)
{
    pop3_seen_init(seen);
    seen->active = account->unseenOnly != 0;
    if (!seen->active)
        return;
    load_seen_file(account->folder, account->server, account->user, &seen->last, NULL);
    seen->recall = recall_uids;
    seen->recallSelf = account;
}

void seen_mail_end(const Pop3Account *account, Pop3Seen *seen, int clean)
{
    if (clean && seen->active && seen->judged && pop3_seen_changed(seen)) {
        // A check that listed no uids of its own keeps those seen before.
        if (!seen->listed)
            pop3_seen_recall(seen);
        save_seen_file(account->folder, account->server, account->user, &seen->mark,
                       seen->listed ? &seen->now : &seen->before);
    }
    pop3_seen_free(seen);
}
