// Shared by the mail check's test programs: the account the checks use,
// waiting for whatever box a check shows, and watching the progress
// window's status lines as the user-interface thread sets them.
#ifndef SORVANE_CHECK_HELPERS_H
#define SORVANE_CHECK_HELPERS_H

#include "texts.h"
#include "ui_driver.h"
#include "check/check.h"
#include "settings/settings.h"
#include "resource.h"
#include <string.h>
#include <string>
#include <utility>
#include <vector>

namespace checktest {

using texts::ERROR_CAPTION;
using texts::PROGRESS_CAPTION;
using texts::RESULT_CAPTION;

inline void set_account(const char *server, const char *user, const char *pass, int showProgress)
{
    memset(&Settings, 0, sizeof Settings);
    strcpy(Settings.server, server);
    strcpy(Settings.user, user);
    strcpy(Settings.pass, pass);
    Settings.showProgress = showProgress;
    Settings.okMes = 1;
    Settings.noMes = 1;
}

// The first message box of this process, whatever its caption.
inline ui::Box wait_any_box(DWORD timeoutMs)
{
    ui::Box found;
    ui::wait_until(
        [&] {
            for (HWND w : ui::find_windows(ui::DIALOG_CLASS, NULL, GetCurrentProcessId()))
                if (ui::is_message_box(w) && IsWindowVisible(w)) {
                    found = ui::read_box(w);
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

inline int open_boxes()
{
    int n = 0;
    for (HWND w : ui::find_windows(ui::DIALOG_CLASS, NULL, GetCurrentProcessId()))
        n += ui::is_message_box(w);
    return n;
}

inline bool wait_check_ended(DWORD timeoutMs = 10000)
{
    return ui::wait_until([] { return !check_running(); }, timeoutMs);
}

// Every text set into the two status lines on this thread, in order.
using StatusWrite = std::pair<int, std::string>;

class StatusWatch {
public:
    StatusWatch()
    {
        writes().clear();
        hook_ = SetWindowsHookExW(WH_CALLWNDPROC, on_message, NULL, GetCurrentThreadId());
    }
    ~StatusWatch() { UnhookWindowsHookEx(hook_); }
    bool ok() const { return hook_ != NULL; }
    static std::vector<StatusWrite> &writes()
    {
        static std::vector<StatusWrite> w;
        return w;
    }

private:
    static LRESULT CALLBACK on_message(int code, WPARAM wParam, LPARAM lParam)
    {
        const CWPSTRUCT *m = (const CWPSTRUCT *)lParam;
        if (code == HC_ACTION && m->message == WM_SETTEXT && (GetWindowLongA(m->hwnd, GWL_STYLE) & WS_CHILD)) {
            int id = GetDlgCtrlID(m->hwnd);
            // The window is given its texts as Unicode: read back the same
            // way, and compared as code page 932.
            char text[512] = "";
            if (id == IDC_STATUS_STEP || id == IDC_STATUS_DETAIL) {
                WideCharToMultiByte(932, 0, (const WCHAR *)m->lParam, -1, text, sizeof text, NULL, NULL);
                writes().emplace_back(id, text);
            }
        }
        return CallNextHookEx(NULL, code, wParam, lParam);
    }
    HHOOK hook_;
};

// The status lines of a whole check up to its logout, for `server`, ending
// with the STAT result's detail.
inline std::vector<StatusWrite> full_status_sequence(const std::string &server, bool newMail)
{
    const int S = IDC_STATUS_STEP, D = IDC_STATUS_DETAIL;
    return {
        {S, "WinSockを初期化しています..."}, {D, "要求：WinSock2.0"},
        {S, "サーバーを探しています..."},    {D, server},
        {S, "ソケットを作成中..."},          {D, ""},
        {S, "サーバーへ接続しています..."},  {D, server},
        {S, "ユーザー認証を試行しています..."}, {D, "ユーザー名送信中"},
        {S, "ユーザー認証を試行しています..."}, {D, "パスワード送信中"},
        {S, "新着メールを確認しています..."}, {D, "ステータスを受信中"},
        {D, newMail ? "新着メールが届いています" : "新着メールなし"},
        {S, "ログアウトしています..."},
    };
}

} // namespace checktest

#endif
