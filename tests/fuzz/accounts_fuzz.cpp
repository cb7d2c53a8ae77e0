// Any bytes as the accounts file: decoding stays within its buffers, and
// what it decoded is stored and read back to the same accounts and bytes.
#include "settings/accounts_codec.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly the input's bytes, so that a read past them is caught.
    uint8_t *bytes = (uint8_t *)malloc(size ? size : 1);
    if (size)
        memcpy(bytes, data, size);
    MoreAccounts first, again;
    if (decode_accounts(bytes, size, &first) == ACCOUNTS_DECODED) {
        static unsigned char out[ACCOUNTS_FILE_MAX_SIZE];
        size_t written = 0;
        if (!encode_accounts(&first, out, sizeof out, &written) || written != size || memcmp(out, bytes, size) != 0 ||
            decode_accounts(out, written, &again) != ACCOUNTS_DECODED || memcmp(&first, &again, sizeof first) != 0)
            abort();
    }
    free(bytes);
    return 0;
}
