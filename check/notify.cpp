#include "notify.h"
#include "arrived_text.h"
#include "quiet_time.h"
#include "../desktop/desktop.h"
#include "../settings/settings.h"
#include <shellapi.h>
#include <string.h>

static const char RESULT_CAPTION[] = "Sorvane 結果報告";
static const char LAUNCH_QUESTION_CAPTION[] = "Sorvane 確認";
static const char LAUNCH_QUESTION[] = "新着メールがあります。\nメールソフトを起動しますか？";
static const char LAUNCH_FAILED[] = "アプリケーションを正しく起動することができませんでした。";
static const char NEW_MAIL_MESSAGE[] = "新着メールが届いています。";
static const char NO_MAIL_MESSAGE[] = "新しいメッセージはありませんでした。";

// A notification holds 256 bytes of text, the shell's record no more.
enum { BOX_TEXT_CAPACITY = 1024, NOTIFICATION_TEXT_CAPACITY = 256 };

// The shell's answer, from shell32 where the system has the call (Vista
// on); a system without it is taken as accepting notifications.
typedef HRESULT(WINAPI *QueryUserState)(QUERY_USER_NOTIFICATION_STATE *);
static_assert((int)QUNS_BUSY == USER_BUSY && (int)QUNS_RUNNING_D3D_FULL_SCREEN == USER_FULL_SCREEN &&
                  (int)QUNS_PRESENTATION_MODE == USER_PRESENTING,
              "the pure table reads the shell's values");

static int shell_user_state(void)
{
    QueryUserState query =
        (QueryUserState)(void *)GetProcAddress(GetModuleHandleA("shell32.dll"), "SHQueryUserNotificationState");
    QUERY_USER_NOTIFICATION_STATE state;
    if (!query || query(&state) != S_OK)
        return USER_ACCEPTS_NOTIFICATIONS;
    return (int)state;
}

static int (*volatile userState)(void) = shell_user_state;

void notify_user_state_from(int (*state)(void))
{
    userState = state ? state : shell_user_state;
}

static int held_now(int automatic)
{
    return result_held(userState(), !automatic);
}

// The text of the latest result whose box waits, in a block of the
// process heap; the worker puts it, the user-interface thread takes it.
static char *volatile heldBox;

// Each result replaces the box an earlier one left waiting (NULL: none
// waits now).
static void hold_box(const char *text)
{
    char *block = NULL;
    size_t n = text ? lstrlenA(text) + 1 : 0;
    if (text && (block = (char *)HeapAlloc(GetProcessHeap(), 0, n)) != NULL)
        memcpy(block, text, n);
    char *earlier = (char *)InterlockedExchangePointer((void *volatile *)&heldBox, block);
    if (earlier)
        HeapFree(GetProcessHeap(), 0, earlier);
}

void notify_show_held(void)
{
    if (!heldBox || held_now(1))
        return;
    char *text = (char *)InterlockedExchangePointer((void *volatile *)&heldBox, NULL);
    if (!text)
        return;
    message_box(NULL, text, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    HeapFree(GetProcessHeap(), 0, text);
}

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
                              int flags)
{
    return s->notifyBalloon && notification && notification(RESULT_CAPTION, text, flags);
}

// The box, or, while the result is held, the box kept for later.
static int held_box(int held, const char *text)
{
    if (held)
        hold_box(text);
    return held;
}

struct NewMail {
    const Pop3Arrived *arrived;
    const AccountResult *accounts;
    int accountCount;
};

static void show_new_mail(const ResultActions *s, const NewMail *m, ResultNotification notification,
                          int automatic, int held)
{
    char text[BOX_TEXT_CAPACITY];
    int listing = m->accounts || (m->arrived && (m->arrived->listed || m->arrived->more));
    const size_t capacity = s->notifyBalloon ? (size_t)NOTIFICATION_TEXT_CAPACITY : sizeof text;
    if (m->accounts)
        accounts_text(NEW_MAIL_MESSAGE, m->accounts, m->accountCount, text, capacity);
    else if (listing)
        arrived_text(NEW_MAIL_MESSAGE, m->arrived, text, capacity);
    int flags = NOTIFICATION_NEW_MAIL | (automatic ? NOTIFICATION_RESPECT_QUIET_TIME : 0);
    if (notification_shown(s, notification, listing ? text : NEW_MAIL_MESSAGE, flags) ||
        held_box(held, listing ? text : NEW_MAIL_MESSAGE))
        return;
    message_box(NULL, listing ? text : NEW_MAIL_MESSAGE, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    stop_sound();
}

// The actions read their fields through one copy taken when the result is
// known, so that a settings dialog storing meanwhile cannot hand them
// half-written paths.
void notify_new_mail(void (*mail_program_started)(void), const Pop3Arrived *arrived,
                     ResultNotification notification, int automatic, const AccountResult *accounts,
                     int accountCount)
{
    const NewMail m = {arrived, accounts, accountCount};
    ResultActions s;
    settings_result_actions(&s);
    int held = held_now(automatic);
    hold_box(NULL);

    if (s.mailPath[0] != '\0' && !held) {
        int launch = 1;
        if (s.mailPathAsk)
            launch = message_box(NULL, LAUNCH_QUESTION, LAUNCH_QUESTION_CAPTION,
                                 MB_YESNO | MB_ICONQUESTION) == IDYES;
        if (launch && start_mail_program(s.mailPath))
            mail_program_started();
    }
    if (s.oksndPath[0] != '\0' && !held)
        play_sound(s.oksndPath);
    if (s.okMes)
        show_new_mail(&s, &m, notification, automatic, held);
}

void notify_no_mail(ResultNotification notification, int automatic)
{
    ResultActions s;
    settings_result_actions(&s);
    int held = held_now(automatic);
    hold_box(NULL);

    if (s.nosndPath[0] != '\0' && !held)
        play_sound(s.nosndPath);
    int flags = automatic ? NOTIFICATION_RESPECT_QUIET_TIME : 0;
    if (s.noMes && !notification_shown(&s, notification, NO_MAIL_MESSAGE, flags) && !held_box(held, NO_MAIL_MESSAGE))
        message_box(NULL, NO_MAIL_MESSAGE, RESULT_CAPTION, MB_OK | MB_ICONINFORMATION);
}

int notify_open_mail_program(void)
{
    ResultActions s;
    settings_result_actions(&s);
    return s.mailPath[0] != '\0' && start_mail_program(s.mailPath);
}
