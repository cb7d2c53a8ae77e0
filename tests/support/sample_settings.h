// Sample settings records, for the tests of the settings file and dialog
// under Wine and of its bytes natively.
#ifndef SORVANE_SAMPLE_SETTINGS_H
#define SORVANE_SAMPLE_SETTINGS_H

#include "settings/settings_record.h"
#include <limits.h>
#include <string.h>
#include <string>

namespace sample {

inline SettingsRecord blank()
{
    SettingsRecord r;
    memset(&r, 0, sizeof r);
    return r;
}

// A record as a user has it: Japanese paths, a password holding the
// scrambling key byte 0xE5 as lead and as trail byte, every flag `flag`.
inline SettingsRecord user(int flag = 1)
{
    SettingsRecord r = blank();
    strcpy(r.server, "pop.example.jp");
    strcpy(r.user, "taro");
    strcpy(r.pass, "\x8A\xE5\x93\xFA\xE5\x40");
    r.autoCheckTime = 15;
    strcpy(r.mailPath, "C:\\メール\\mailer.exe");
    strcpy(r.oksndPath, "C:\\サウンド\\新着.wav");
    strcpy(r.nosndPath, "C:\\Sounds\\none.wav");
    r.showProgress = r.mailPathAsk = r.okMes = r.noMes = flag;
    return r;
}

// Values that no load or store writes, each field its own, so that a field
// left alone can be told from one that was written.
inline SettingsRecord untouched()
{
    SettingsRecord r = blank();
    strcpy(r.server, "old.example.jp");
    strcpy(r.user, "old-user");
    strcpy(r.pass, "old-pass");
    r.autoCheckTime = 3;
    strcpy(r.mailPath, "C:\\old\\mailer.exe");
    strcpy(r.oksndPath, "C:\\old\\new.wav");
    strcpy(r.nosndPath, "C:\\old\\none.wav");
    r.showProgress = 77;
    r.mailPathAsk = 78;
    r.okMes = 79;
    r.noMes = 80;
    return r;
}

// Every text at its capacity, the numbers at the ends of their range.
inline SettingsRecord full()
{
    SettingsRecord r = blank();
    strcpy(r.server, std::string(ACCOUNT_TEXT_CAPACITY - 1, 's').c_str());
    strcpy(r.user, std::string(ACCOUNT_TEXT_CAPACITY - 1, 'u').c_str());
    strcpy(r.pass, std::string(ACCOUNT_TEXT_CAPACITY - 1, 'p').c_str());
    r.autoCheckTime = INT_MIN;
    r.showProgress = 1;
    strcpy(r.mailPath, std::string(PATH_TEXT_CAPACITY - 1, 'm').c_str());
    r.mailPathAsk = -1;
    strcpy(r.oksndPath, std::string(PATH_TEXT_CAPACITY - 1, 'o').c_str());
    r.okMes = 0x12345678;
    strcpy(r.nosndPath, std::string(PATH_TEXT_CAPACITY - 1, 'n').c_str());
    r.noMes = INT_MAX;
    return r;
}

} // namespace sample

#endif
