#include "password_dialog.h"
#include "settings_record.h"
#include "../desktop/desktop.h"
#include "../desktop/dialog_font.h"
#include "../desktop/wide_text.h"
#include "../resources/resource.h"
#include <string.h>

static const char TOO_LONG[] = "文字数が限界量を超えています。";
static const char NOT_STORABLE[] = "「パスワード」に、設定に保存できない文字が含まれています。";
static const char CLOSE_CAPTION[] = "Sorvane 確認";
static const char CLOSE_QUESTION[] = "変更された設定内容を保存せずにウインドウを閉じます。\nよろしいですか？";

// Twice the limit is read, so that an over-long password is seen as such
// rather than silently cut to fit.
enum { PASSWORD_READ_CAPACITY = 256 };
static_assert((int)PASSWORD_MAX_BYTES < (int)ACCOUNT_TEXT_CAPACITY, "a password fits the record's field");

// The caller's password field, given when the dialog opens.
static char *password_of(HWND dialog)
{
    return (char *)GetWindowLongPtrW(dialog, DWLP_USER);
}

// 1 when the box held a password that fits; else its refusal is told.
static int acceptable(const char *text, int readable)
{
    if (!readable)
        ErrorBox(NOT_STORABLE);
    else if (strlen(text) > PASSWORD_MAX_BYTES)
        ErrorBox(TOO_LONG);
    else
        return 1;
    return 0;
}

// The text read is wiped whichever way this ends, a refusal too.
static void on_ok(HWND dialog)
{
    char text[PASSWORD_READ_CAPACITY];
    int readable = read_control_text(GetDlgItem(dialog, IDC_PASSWORD), text, sizeof text);
    int accepted = acceptable(text, readable);
    if (accepted)
        memcpy(password_of(dialog), text, strlen(text) + 1);
    SecureZeroMemory(text, sizeof text);
    if (accepted)
        EndDialog(dialog, 0);
}

static void on_close(HWND dialog)
{
    if (message_box(dialog, CLOSE_QUESTION, CLOSE_CAPTION, MB_YESNO | MB_ICONQUESTION) == IDYES)
        EndDialog(dialog, 0);
}

// The box starts empty whatever the password is: it is never shown.
// Escape's cancel command (IDCANCEL) is deliberately not handled.
static INT_PTR CALLBACK password_dialog_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return FALSE;
    }
    if (message == WM_CLOSE) {
        on_close(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDC_OK_BUTTON:
        on_ok(dialog);
        return TRUE;
    case IDC_CANCEL_BUTTON:
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR run_password_dialog(HWND parent, char password[ACCOUNT_TEXT_CAPACITY])
{
    return dialog_box(IDD_PASSWORD, parent, password_dialog_proc, (LPARAM)password);
}
