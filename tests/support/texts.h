// What the program shows, as every test program looks for it: the captions
// of its windows and boxes, and the texts that more than one test reads.
// The tests are compiled like the program, so these are code page 932 too.
#ifndef SORVANE_TEXTS_H
#define SORVANE_TEXTS_H

#include <string>

namespace texts {

const char RESULT_CAPTION[] = "Sorvane 結果報告";
const char ERROR_CAPTION[] = "Sorvane エラー";
const char CONFIRM_CAPTION[] = "Sorvane 確認";
const char PROGRESS_CAPTION[] = "Sorvane - 新着メール確認";
const char SETTINGS_CAPTION[] = "Sorvane - 動作設定";
const char PASSWORD_CAPTION[] = "Sorvane - パスワード設定";
const char CAUTION_CAPTION[] = "注意";

const char NEW_MAIL[] = "新着メールが届いています。";
const char NO_MAIL[] = "新しいメッセージはありませんでした。";

// The tray's tip after a check, without the time " (hh:mm)" that follows.
inline std::string tip_new_mail(unsigned long count)
{
    return "Sorvane - 新着 " + std::to_string(count) + " 通";
}
const char TIP_NO_NEW_MAIL[] = "Sorvane - 新着なし";
const char TIP_FAILED[] = "Sorvane - 確認できませんでした";
const char TIP_OFFLINE[] = "Sorvane - サーバーに接続できません";

} // namespace texts

#endif
