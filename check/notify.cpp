#include "notify.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"

static const char RESULT_CAPTION[] = "Sorvane 結果報告";
static const char LAUNCH_QUESTION_CAPTION[] = "Sorvane 確認";
static const char LAUNCH_QUESTION[] = "新着メールがあります。\nメールソフトを起動しますか？";
static const char LAUNCH_FAILED[] = "アプリケーションを正しく起動することができませんでした。";
static const char NEW_MAIL_MESSAGE[] = "新着メールが届いています。";
static const char NO_MAIL_MESSAGE[] = "新しいメッセージはありませんでした。";

// The actions read their six fields through one copy taken when the
// result is known, so that a settings dialog storing meanwhile cannot hand
// them half-written paths.
void notify_new_mail(void (*mail_program_started)(void))
{
    ResultActions s;
    settings_result_actions(&s);

    if (s.mailPath[0] != '\0') {
        int launch = 1;
        if (s.mailPathAsk)
            launch = message_box(NULL, LAUNCH_QUESTION, LAUNCH_QUESTION_CAPTION,
                                 MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (launch && !ShellOpen(s.mailPath))
            ErrorBox(LAUNCH_FAILED);
        else if (launch)
            mail_program_started();
    }
    if (s.oksndPath[0] != '\0')
        play_sound(s.oksndPath);
    if (s.okMes) {
        message_box(NULL, NEW_MAIL_MESSAGE, RESULT_CAPTION,
                    MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
        stop_sound();
    }
}

void notify_no_mail(void)
{
    ResultActions s;
    settings_result_actions(&s);

    if (s.nosndPath[0] != '\0')
        play_sound(s.nosndPath);
    if (s.noMes)
        message_box(NULL, NO_MAIL_MESSAGE, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION);
}
