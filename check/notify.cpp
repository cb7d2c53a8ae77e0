#include "notify.h"
#include "arrived_text.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"

static const char RESULT_CAPTION[] = "Sorvane 結果報告";
static const char LAUNCH_QUESTION_CAPTION[] = "Sorvane 確認";
static const char LAUNCH_QUESTION[] = "新着メールがあります。\nメールソフトを起動しますか？";
static const char LAUNCH_FAILED[] = "アプリケーションを正しく起動することができませんでした。";
static const char NEW_MAIL_MESSAGE[] = "新着メールが届いています。";
static const char NO_MAIL_MESSAGE[] = "新しいメッセージはありませんでした。";

// A notification holds 256 bytes of text, the shell's record no more.
enum { BOX_TEXT_CAPACITY = 1024, NOTIFICATION_TEXT_CAPACITY = 256 };

static int start_mail_program(const char *path)
{
    if (ShellOpen(path))
        return 1;
    ErrorBox(LAUNCH_FAILED);
    return 0;
}

// The notification when the user asked for one and the tray took it,
// else the box.
static int notification_shown(const ResultActions *s, ResultNotification notification, const char *text,
                              int newMail)
{
    return s->notifyBalloon && notification && notification(RESULT_CAPTION, text, newMail);
}

static void show_new_mail(const ResultActions *s, const Pop3Arrived *arrived, ResultNotification notification)
{
    char text[BOX_TEXT_CAPACITY];
    int listing = arrived && (arrived->listed || arrived->more);
    const size_t capacity = s->notifyBalloon ? (size_t)NOTIFICATION_TEXT_CAPACITY : sizeof text;
    if (listing)
        arrived_text(NEW_MAIL_MESSAGE, arrived, text, capacity);
    if (notification_shown(s, notification, listing ? text : NEW_MAIL_MESSAGE, 1))
        return;
    message_box(NULL, listing ? text : NEW_MAIL_MESSAGE, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    stop_sound();
}

// The actions read their fields through one copy taken when the result is
// known, so that a settings dialog storing meanwhile cannot hand them
// half-written paths.
void notify_new_mail(void (*mail_program_started)(void), const Pop3Arrived *arrived,
                     ResultNotification notification)
{
    ResultActions s;
    settings_result_actions(&s);

    if (s.mailPath[0] != '\0') {
        int launch = 1;
        if (s.mailPathAsk)
            launch = message_box(NULL, LAUNCH_QUESTION, LAUNCH_QUESTION_CAPTION,
                                 MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (launch && start_mail_program(s.mailPath))
            mail_program_started();
    }
    if (s.oksndPath[0] != '\0')
        play_sound(s.oksndPath);
    if (s.okMes)
        show_new_mail(&s, arrived, notification);
}

void notify_no_mail(ResultNotification notification)
{
    ResultActions s;
    settings_result_actions(&s);

    if (s.nosndPath[0] != '\0')
        play_sound(s.nosndPath);
    if (s.noMes && !notification_shown(&s, notification, NO_MAIL_MESSAGE, 0))
        message_box(NULL, NO_MAIL_MESSAGE, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION);
}

int notify_open_mail_program(void)
{
    ResultActions s;
    settings_result_actions(&s);
    return s.mailPath[0] != '\0' && start_mail_program(s.mailPath);
}
