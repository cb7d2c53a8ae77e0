// Any file's bytes: decoding stays within its buffers, decides the same on
// the prefix that the loader reads, and what it decoded (the extension
// block's values included) is stored and read back to the same record.
#include "settings/settings_codec.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static int same_record(const SettingsRecord *a, const SettingsRecord *b)
{
    for (int f = 0; f < SETTINGS_FIELD_COUNT; f++) {
        if (SETTINGS_FIELDS[f].kind == FIELD_KIND_TEXT) {
            if (strcmp(settings_const_text_of(a, f), settings_const_text_of(b, f)) != 0)
                return 0;
        } else if (settings_int_value(a, f) != settings_int_value(b, f)) {
            return 0;
        }
    }
    return a->unseenOnly == b->unseenOnly;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly the input's bytes, so that a read past them is caught.
    uint8_t *bytes = (uint8_t *)malloc(size ? size : 1);
    if (size)
        memcpy(bytes, data, size);
    SettingsRecord record;
    memset(&record, 0, sizeof record);
    SettingsDecodeResult result;
    int ok = decode_settings(bytes, size, &record, &result);
    if (ok != (result.outcome == SETTINGS_DECODED))
        abort();
    if (result.outcome == SETTINGS_FIELD_UNREADABLE && (result.field < 0 || result.field >= SETTINGS_FIELD_COUNT))
        abort();
    if (ok && (result.end > size || result.end > SETTINGS_FILE_MAX_SIZE))
        abort();
    SettingsRecord prefixRecord;
    memset(&prefixRecord, 0, sizeof prefixRecord);
    SettingsDecodeResult prefix;
    decode_settings(bytes, size < SETTINGS_FILE_MAX_SIZE ? size : SETTINGS_FILE_MAX_SIZE, &prefixRecord, &prefix);
    free(bytes);
    if (prefix.outcome != result.outcome || prefix.field != result.field || prefix.end != result.end
        || !same_record(&record, &prefixRecord))
        abort();

    // Whatever was read, even part of a record, can be saved again.
    unsigned char out[SETTINGS_FILE_MAX_SIZE];
    size_t written = 0;
    int failed;
    if (!encode_settings(&record, out, sizeof out, &written, &failed))
        abort();
    SettingsRecord back;
    memset(&back, 0, sizeof back);
    SettingsDecodeResult again;
    if (!decode_settings(out, written, &back, &again) || !same_record(&record, &back))
        abort();
    return 0;
}
