#include "accounts_codec.h"
#include "settings_codec.h"
#include <string.h>

static const unsigned char TAG[ACCOUNTS_TAG_SIZE] = {'S', 'V', 'A', 'C'};

static unsigned int fnv1a(const unsigned char *bytes, size_t size)
{
    unsigned int h = 2166136261u;
    for (size_t i = 0; i < size; i++)
        h = (h ^ bytes[i]) * 16777619u;
    return h;
}

// One text field at `*at`: its bytes up to the scrambled terminator.
static int take_text(const unsigned char *bytes, size_t size, size_t *at, char *dest, size_t capacity)
{
    const unsigned char *end = (const unsigned char *)memchr(bytes + *at, SCRAMBLED_TERMINATOR, size - *at);
    if (!end)
        return 0;
    size_t length = (size_t)(end - (bytes + *at));
    if (!decode_text_value(bytes + *at, length, dest, capacity) || strlen(dest) != length)
        return 0;
    *at += length + 1;
    return 1;
}

static int take_account(const unsigned char *bytes, size_t size, size_t *at, AccountFields *a)
{
    if (!take_text(bytes, size, at, a->server, sizeof a->server) ||
        !take_text(bytes, size, at, a->user, sizeof a->user) ||
        !take_text(bytes, size, at, a->pass, sizeof a->pass) || *at >= size)
        return 0;
    unsigned char flags = bytes[(*at)++];
    if (flags & ~ACCOUNT_FLAG_UNSEEN_ONLY)
        return 0;
    a->unseenOnly = flags & ACCOUNT_FLAG_UNSEEN_ONLY;
    return 1;
}

static int decode_all(const unsigned char *bytes, size_t size, MoreAccounts *out)
{
    if (size < ACCOUNTS_HEADER_SIZE + ACCOUNTS_CHECK_SIZE || memcmp(bytes, TAG, sizeof TAG) != 0 ||
        bytes[ACCOUNTS_TAG_SIZE] != ACCOUNTS_FORMAT_VERSION || bytes[ACCOUNTS_TAG_SIZE + 1] > MORE_ACCOUNTS)
        return 0;
    size_t body = size - ACCOUNTS_CHECK_SIZE;
    if ((unsigned int)decode_int32(bytes + body) != fnv1a(bytes, body))
        return 0;
    size_t at = ACCOUNTS_HEADER_SIZE;
    out->count = bytes[ACCOUNTS_TAG_SIZE + 1];
    for (int i = 0; i < out->count; i++)
        if (!take_account(bytes, body, &at, &out->account[i]))
            return 0;
    return at == body;
}

int decode_accounts(const unsigned char *bytes, size_t size, MoreAccounts *out)
{
    memset(out, 0, sizeof *out);
    if (size == 0)
        return ACCOUNTS_NONE;
    if (decode_all(bytes, size, out))
        return ACCOUNTS_DECODED;
    memset(out, 0, sizeof *out);
    return ACCOUNTS_DAMAGED;
}

static int put_account(const AccountFields *a, unsigned char *out, size_t outSize, size_t *at)
{
    const char *texts[3] = {a->server, a->user, a->pass};
    for (const char *text : texts) {
        size_t n;
        if (!encode_text_field(text, ACCOUNT_TEXT_CAPACITY, out + *at, outSize - *at, &n))
            return 0;
        *at += n;
    }
    if (*at >= outSize)
        return 0;
    out[(*at)++] = a->unseenOnly ? ACCOUNT_FLAG_UNSEEN_ONLY : 0;
    return 1;
}

int encode_accounts(const MoreAccounts *in, unsigned char *out, size_t outSize, size_t *size)
{
    if (in->count < 0 || in->count > MORE_ACCOUNTS || outSize < ACCOUNTS_HEADER_SIZE)
        return 0;
    memcpy(out, TAG, sizeof TAG);
    out[ACCOUNTS_TAG_SIZE] = ACCOUNTS_FORMAT_VERSION;
    out[ACCOUNTS_TAG_SIZE + 1] = (unsigned char)in->count;
    size_t at = ACCOUNTS_HEADER_SIZE;
    for (int i = 0; i < in->count; i++)
        if (!put_account(&in->account[i], out, outSize, &at))
            return 0;
    if (outSize - at < ACCOUNTS_CHECK_SIZE)
        return 0;
    encode_int32((int)fnv1a(out, at), out + at);
    *size = at + ACCOUNTS_CHECK_SIZE;
    return 1;
}
