#include "seen_file.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

const char SEEN_FILE_NAME[] = "Sorvane.seen";

// The file in the folder, whatever the current directory is by now (a
// file chooser may have changed it), by its wide form: the folder is code
// page 932 whatever the system's code page is, and its last character is
// looked at as a character (a double-byte character's second byte can be
// the separator's). 0 when the path would not fit.
enum { SEEN_PATH_CAPACITY = POP3_FOLDER_CAPACITY + 32 };
static int seen_path(const char *folder, const char *name, WCHAR *path)
{
    int n = 0;
    if (folder[0] != '\0' && (n = MultiByteToWideChar(932, 0, folder, -1, path, SEEN_PATH_CAPACITY)) == 0)
        return 0;
    n = n ? n - 1 : 0;
    if (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/')
        path[n++] = L'\\';
    int m = MultiByteToWideChar(932, 0, name, -1, path + n, SEEN_PATH_CAPACITY - n);
    return m > 0;
}

// The file's bytes, at most `limit` of them when `cut` (its head), else
// none when it is longer than `limit`; a malloc'd block the caller frees.
static unsigned char *read_image(const char *folder, const char *name, DWORD limit, int cut, DWORD *got)
{
    WCHAR path[SEEN_PATH_CAPACITY];
    if (!seen_path(folder, name, path))
        return NULL;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD high = 0, size = GetFileSize(file, &high);
    if (cut && size > limit)
        size = limit;
    unsigned char *bytes = NULL;
    *got = 0;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= limit && (bytes = (unsigned char *)malloc(size ? size : 1))) {
        DWORD n = 1;
        while (*got < size && n && ReadFile(file, bytes + *got, size - *got, &n, NULL))
            *got += n;
    }
    CloseHandle(file);
    if (bytes && *got != size) {
        free(bytes);
        bytes = NULL;
    }
    return bytes;
}

static int write_all(HANDLE file, const unsigned char *bytes, size_t size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written == size;
}

// Each file has a temporary of its own (its name and ".new"): the
// accounts of one check save side by side.
static int write_image(const char *folder, const char *name, const unsigned char *bytes, size_t size)
{
    char tempName[POP3_SEEN_NAME_CAPACITY + 4];
    WCHAR path[SEEN_PATH_CAPACITY], temp[SEEN_PATH_CAPACITY];
    wsprintfA(tempName, "%s.new", name);
    if (!seen_path(folder, name, path) || !seen_path(folder, tempName, temp))
        return 0;
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int ok = write_all(file, bytes, size) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    int saved = ok && MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!saved)
        DeleteFileW(temp);
    return saved;
}

int load_seen_file(const char *folder, const char *name, const char *server, const char *user, SeenMark *mark,
                   SeenList *uids)
{
    memset(mark, 0, sizeof *mark);
    if (uids)
        seen_list_free(uids);
    DWORD size;
    unsigned char *bytes =
        read_image(folder, name, uids ? SEEN_FILE_MAX_SIZE : SEEN_FILE_HEAD_MAX_SIZE, uids == NULL, &size);
    int outcome = bytes ? decode_seen_file(bytes, size, server, user, mark, uids) : SEEN_FILE_DAMAGED;
    free(bytes);
    return outcome;
}

int save_seen_file(const char *folder, const char *name, const char *server, const char *user, const SeenMark *mark,
                   const SeenList *uids)
{
    size_t capacity = seen_file_size(server, user, uids), size;
    unsigned char *bytes = (unsigned char *)malloc(capacity);
    int saved = bytes && encode_seen_file(server, user, mark, uids, bytes, capacity, &size)
                && write_image(folder, name, bytes, size);
    free(bytes);
    return saved;
}

int load_server_file(const char *folder, const char *name, const char *server, const char *user, ServerNotes *notes)
{
    DWORD size;
    unsigned char *bytes = read_image(folder, name, SERVER_FILE_MAX_SIZE, 0, &size);
    int read = bytes && decode_server_file(bytes, size, server, user, notes);
    free(bytes);
    return read;
}

int save_server_file(const char *folder, const char *name, const char *server, const char *user,
                     const ServerNotes *notes)
{
    unsigned char bytes[SERVER_FILE_MAX_SIZE];
    size_t size;
    return encode_server_file(server, user, notes, bytes, &size) && write_image(folder, name, bytes, size);
}
