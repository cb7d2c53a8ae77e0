// Any file's bytes: decoding stays within its buffers, decides the same on
// the prefix that the loader reads, and what it decoded (the extension
// block's values included, a later version's kept) is stored and read back
// to the same record and the same bytes.
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

static int decode(const uint8_t *bytes, size_t size, SettingsRecord *record, SettingsExtension *kept,
                  SettingsDecodeResult *result)
{
    memset(record, 0, sizeof *record);
    memset(kept, 0, sizeof *kept);
    return decode_settings(bytes, size, record, kept, result);
}

static int same_block(const SettingsExtension *a, const SettingsExtension *b)
{
    return a->version == b->version && a->length == b->length && memcmp(a->values, b->values, a->length) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly the input's bytes, so that a read past them is caught.
    uint8_t *bytes = (uint8_t *)malloc(size ? size : 1);
    if (size)
        memcpy(bytes, data, size);
    SettingsRecord record;
    SettingsExtension kept;
    SettingsDecodeResult result;
    int ok = decode(bytes, size, &record, &kept, &result);
    if (ok != (result.outcome == SETTINGS_DECODED))
        abort();
    if (result.outcome == SETTINGS_FIELD_UNREADABLE && (result.field < 0 || result.field >= SETTINGS_FIELD_COUNT))
        abort();
    if (ok && (result.end > size || result.end > SETTINGS_FILE_MAX_SIZE))
        abort();
    SettingsRecord prefixRecord;
    SettingsExtension prefixKept;
    SettingsDecodeResult prefix;
    decode(bytes, size < SETTINGS_FILE_MAX_SIZE ? size : SETTINGS_FILE_MAX_SIZE, &prefixRecord, &prefixKept, &prefix);
    free(bytes);
    if (prefix.outcome != result.outcome || prefix.field != result.field || prefix.end != result.end
        || !same_record(&record, &prefixRecord) || !same_block(&kept, &prefixKept))
        abort();

    // Whatever was read, even part of a record, can be saved again; what
    // was saved reads back to the same record, and saves to the same bytes
    // (a later version's block included).
    unsigned char out[SETTINGS_FILE_MAX_SIZE], again[SETTINGS_FILE_MAX_SIZE];
    size_t written = 0, rewritten = 0;
    int failed;
    if (!encode_settings(&record, &kept, out, sizeof out, &written, &failed))
        abort();
    SettingsRecord back;
    SettingsExtension backKept;
    SettingsDecodeResult reread;
    if (!decode(out, written, &back, &backKept, &reread) || !same_record(&record, &back))
        abort();
    if (!encode_settings(&back, &backKept, again, sizeof again, &rewritten, &failed) || rewritten != written
        || memcmp(out, again, written) != 0)
        abort();
    return 0;
}
