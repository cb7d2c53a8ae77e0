// The whole dialogue of a check with "only mail not seen before" on,
// against a server whose every byte comes from the input, in chunks and
// after delays the input chooses, over a scripted link with a fake clock.
// Whatever the server sends: the check ends, a clean end names no failure
// and a failed one names its message, no more mail is new than the server
// holds, only the dialogue's own commands go out, the password only in
// PASS, and the uids kept are each once and in order.
//
// Input: a byte of settings (bits 0-1 the server's form, bit 2 silence
// rather than a close after the last byte, bits 3-5 the TLS outcome, bit 6
// the last clean check's last uid known, bit 7 the server known to
// pipeline), a byte of the last clean check's count, then chunks: a byte
// of length (low 6 bits, plus one) and delay (bit 7: 900 ms, half the
// limit) and that many bytes.
#include "scripted_link.h"
#include "pop3/pop3_session.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

const uint32_t LIMIT = 1800;
const char *const SERVERS[] = {"pop.example.jp", "pop3s://pop.example.jp", "starttls://pop.example.jp",
                               "pop.example.jp:995"};
const char *const SEEN_BEFORE[] = {"a", "b", "uid-1", "00000001", "z"};

void require(bool holds)
{
    if (!holds)
        abort();
}

scripted::Script script_of(const uint8_t *data, size_t size)
{
    scripted::Script s;
    s.tls = (data[0] >> 3) & 7;
    s.code = 5;
    s.greeting.chunks.clear();
    for (size_t at = 2; at < size;) {
        size_t n = (data[at] & 63) + 1;
        uint32_t delay = data[at] & 128 ? LIMIT / 2 : 0;
        at++;
        n = n < size - at ? n : size - at;
        s.greeting.chunks.push_back({std::string((const char *)data + at, n), delay});
        at += n;
    }
    s.greeting.after = data[0] & 4 ? scripted::After::Silence : scripted::After::Close;
    return s;
}

bool known_command(const std::string &line)
{
    static const char *const COMMANDS[] = {"USER taro", "PASS secret", "STAT", "UIDL", "QUIT", "STLS", "CAPA", "UTF8"};
    for (const char *c : COMMANDS) {
        if (line == c)
            return true;
    }
    if (line.compare(0, 5, "UIDL ") != 0 || line.size() == 5)
        return false;
    return line.find_first_not_of("0123456789", 5) == std::string::npos;
}

void check_sent(const scripted::Link &link)
{
    for (const std::string &line : link.lines()) {
        require(known_command(line));
        require(line.find("secret") == std::string::npos || line == "PASS secret");
    }
}

void check_outcome(const Pop3Outcome &o, const Pop3Seen &seen)
{
    require(o.ok ? o.failure == NULL : o.failure != NULL && o.newMail == 0);
    if (o.ok) {
        require(o.newMail == (o.newCount > 0));
        require(o.newCount <= seen.mark.count);
    }
    for (size_t i = 1; i < seen.now.count; i++)
        require(strcmp(seen.now.sorted[i - 1], seen.now.sorted[i]) < 0);
}

void check_status(const scripted::StatusLog &status)
{
    require(status.waiting <= 1);
    for (auto &w : status.writes)
        require((w.first == STATUS_STEP_LINE || w.first == STATUS_DETAIL_LINE) && w.second >= 0 &&
                w.second < STATUS_TEXT_COUNT);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    scripted::Link link(script_of(data, size));
    scripted::StatusLog status;
    Pop3Account account = scripted::account(SERVERS[data[0] & 3]);
    account.unseenOnly = 1;
    Pop3Seen seen;
    pop3_seen_init(&seen);
    seen.active = 1;
    seen.last.count = data[1];
    strcpy(seen.last.uid, data[0] & 64 ? "uid-1" : "");
    strcpy(seen.last.first, data[0] & 32 ? "uid-0" : "");
    Pop3Memory memory;
    memset(&memory, 0, sizeof memory);
    strcpy(memory.server, account.server);
    strcpy(memory.user, account.user);
    memory.asked = data[0] >> 7;
    memory.pipelining = memory.asked;
    memory.utf8 = (data[0] >> 4) & 1;
    account.memory = &memory;
    for (const char *uid : SEEN_BEFORE)
        seen_list_add(&seen.before, uid, strlen(uid));
    require(seen_list_finish(&seen.before));
    Pop3Outcome outcome;
    pop3_session_run(&account, link.net(), LIMIT, &status.table, &seen, &outcome);
    check_sent(link);
    check_outcome(outcome, seen);
    check_status(status);
    pop3_seen_free(&seen);
    return 0;
}
