#include "ui_driver.h"
#include <commctrl.h>
#include <mutex>
#include <set>

namespace ui {

namespace {

const UINT SEND_TIMEOUT_MS = 5000;
// Waits for the window's thread within the time, rather than giving up at
// once on a thread that Wine counts as hung: one that has just worked for
// seconds (a listing of 60,000 uids under load) and shows a box before its
// modal loop asks for a message would read as empty.
const UINT SEND_FLAGS = SMTO_NORMAL;

std::string class_of(HWND hwnd)
{
    char buf[128] = "";
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

struct Search {
    const char *cls;
    const char *caption;
    DWORD pid;
    std::vector<HWND> found;
    bool hiddenToo = false;
};

BOOL CALLBACK collect_top(HWND hwnd, LPARAM lp)
{
    Search *s = reinterpret_cast<Search *>(lp);
    if (!s->hiddenToo && !IsWindowVisible(hwnd))
        return TRUE;
    if (s->pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != s->pid)
            return TRUE;
    }
    if (s->cls && class_of(hwnd) != s->cls)
        return TRUE;
    if (s->caption && text_of(hwnd) != s->caption)
        return TRUE;
    s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK collect_child(HWND hwnd, LPARAM lp)
{
    auto *list = reinterpret_cast<std::vector<HWND> *>(lp);
    list->push_back(hwnd);
    return TRUE;
}

} // namespace

std::vector<HWND> find_windows(const char *cls, const char *caption, DWORD pid)
{
    Search s{cls, caption, pid, {}};
    EnumWindows(collect_top, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND find_window(const char *cls, const char *caption, DWORD pid)
{
    std::vector<HWND> all = find_windows(cls, caption, pid);
    return all.empty() ? NULL : all.front();
}

HWND wait_window(const char *cls, const char *caption, DWORD timeoutMs, DWORD pid)
{
    HWND found = NULL;
    wait_until([&] { return (found = find_window(cls, caption, pid)) != NULL; }, timeoutMs);
    return found;
}

bool wait_gone(HWND hwnd, DWORD timeoutMs)
{
    return wait_until([&] { return !IsWindow(hwnd); }, timeoutMs);
}

size_t dialogs_alive(DWORD pid)
{
    Search s{DIALOG_CLASS, NULL, pid, {}, true};
    EnumWindows(collect_top, reinterpret_cast<LPARAM>(&s));
    return s.found.size();
}

// Texts are read as Unicode and compared as code page 932, the program's
// own, whatever the system's code page is: a text the program garbled
// cannot pass by being garbled the same way on this side.
std::string text_of(HWND hwnd)
{
    WCHAR wide[1024];
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide), SEND_FLAGS,
                             SEND_TIMEOUT_MS, &len))
        return std::string();
    wide[len < 1024 ? len : 1023] = 0;
    char text[2048];
    int n = WideCharToMultiByte(932, 0, wide, -1, text, sizeof text, NULL, NULL);
    return n > 0 ? std::string(text, n - 1) : std::string();
}

std::string item_text(HWND dlg, int id)
{
    HWND item = GetDlgItem(dlg, id);
    return item ? text_of(item) : std::string();
}

std::vector<Control> children(HWND parent)
{
    std::vector<HWND> list;
    EnumChildWindows(parent, collect_child, reinterpret_cast<LPARAM>(&list));
    std::vector<Control> out;
    for (HWND h : list) {
        if (GetParent(h) != parent)
            continue;
        Control c;
        c.hwnd = h;
        c.id = (int)(short)GetDlgCtrlID(h);
        c.cls = class_of(h);
        c.text = text_of(h);
        c.style = GetWindowLongA(h, GWL_STYLE);
        GetWindowRect(h, &c.rect);
        MapWindowPoints(NULL, parent, reinterpret_cast<POINT *>(&c.rect), 2);
        out.push_back(c);
    }
    return out;
}

void click(HWND dlg, int id)
{
    // What a button's own click sends to its dialog; posted, so that a
    // dialog that opens a modal box in response does not hold the driver.
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void set_item_text(HWND dlg, int id, const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(932, 0, text.c_str(), -1, &wide[0], (int)wide.size()));
    set_item_wtext(dlg, id, wide);
}

void set_item_wtext(HWND dlg, int id, const std::wstring &text)
{
    DWORD_PTR r;
    SendMessageTimeoutW(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SEND_FLAGS, SEND_TIMEOUT_MS, &r);
}

void set_check(HWND dlg, int id, bool checked)
{
    DWORD_PTR r;
    SendMessageTimeoutA(GetDlgItem(dlg, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0,
                        SEND_FLAGS, SEND_TIMEOUT_MS, &r);
}

bool is_checked(HWND dlg, int id)
{
    DWORD_PTR r = 0;
    SendMessageTimeoutA(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0, SEND_FLAGS, SEND_TIMEOUT_MS, &r);
    return r == BST_CHECKED;
}

void close_request(HWND hwnd)
{
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void press_key(HWND dlg, UINT vk)
{
    // The dialog's modal loop reads the key and lets the dialog manager
    // turn it into a command, as it does for a real key press.
    HWND target = GetDlgItem(dlg, GetDlgCtrlID(GetWindow(dlg, GW_CHILD)));
    if (!target)
        target = dlg;
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}

bool is_message_box(HWND hwnd)
{
    return class_of(hwnd) == DIALOG_CLASS && GetDlgItem(hwnd, MESSAGE_BOX_TEXT_ID) != NULL;
}

HWND shown_balloon()
{
    HWND h = NULL;
    while ((h = FindWindowExA(NULL, h, "tooltips_class32", NULL)) != NULL) {
        if (IsWindowVisible(h) && (GetWindowLongA(h, GWL_STYLE) & TTS_BALLOON))
            return h;
    }
    return NULL;
}

Box read_box(HWND hwnd)
{
    Box b;
    b.hwnd = hwnd;
    b.caption = text_of(hwnd);
    b.text = item_text(hwnd, MESSAGE_BOX_TEXT_ID);
    for (const Control &c : children(hwnd)) {
        if (c.cls == "Button" && (c.style & WS_VISIBLE))
            b.buttons.push_back(c.id);
    }
    return b;
}

Box wait_box(const char *caption, DWORD timeoutMs, DWORD pid)
{
    HWND found = NULL;
    wait_until(
        [&] {
            // Shown, not merely made: the box's texts are set while it is
            // still hidden, so a box found earlier can read as empty.
            for (HWND h : find_windows(DIALOG_CLASS, caption, pid)) {
                if (is_message_box(h) && IsWindowVisible(h)) {
                    found = h;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found ? read_box(found) : Box();
}

// Boxes answered already: one still closing when a clean-up comes by was
// answered, not forgotten, so the clean-up does not report it.
static std::mutex answeredLock;
static std::set<HWND> answered;

void answer(const Box &box, int buttonId)
{
    {
        std::lock_guard<std::mutex> hold(answeredLock);
        for (auto i = answered.begin(); i != answered.end();)
            i = IsWindow(*i) ? std::next(i) : answered.erase(i);
        answered.insert(box.hwnd);
    }
    click(box.hwnd, buttonId);
}

static bool was_answered(HWND h)
{
    std::lock_guard<std::mutex> hold(answeredLock);
    return answered.count(h) != 0;
}

static DismissHook dismissHook;

void set_dismiss_hook(DismissHook hook)
{
    dismissHook = hook;
}

void dismiss(HWND h)
{
    const bool answeredBefore = was_answered(h);
    Box b = read_box(h);
    // A window that ended while it was read was closing already: its empty
    // texts say nothing of a window left open.
    if (!IsWindow(h))
        return;
    if (is_message_box(h)) {
        answer(b, b.buttons.empty() ? IDOK : b.buttons.back());
    } else {
        for (const Control &c : children(h)) {
            if (c.cls == "Static" && !c.text.empty())
                b.text += (b.text.empty() ? "" : " / ") + c.text;
        }
        PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(h, WM_CLOSE, 0, 0);
    }
    if (dismissHook && !answeredBefore)
        dismissHook(b);
}

int dismiss_all(DWORD pid)
{
    int n = 0;
    for (HWND h : find_windows(DIALOG_CLASS, NULL, pid ? pid : GetCurrentProcessId())) {
        dismiss(h);
        n++;
    }
    return n;
}

} // namespace ui
