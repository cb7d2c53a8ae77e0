#include "recorder.h"
#include "desktop/desktop.h"
#include <mmsystem.h>
#include <mutex>

namespace rec {

namespace {
std::mutex lock;
std::vector<Event> log;
SoundPlayer realPlayer = soundPlayer; // the program's own, before any install

void on_box(HWND owner, const char *text, const char *caption, UINT type)
{
    Event e;
    e.kind = "box";
    e.text = text;
    e.caption = caption;
    e.type = type;
    e.owned = owner != NULL;
    std::lock_guard<std::mutex> g(lock);
    log.push_back(e);
}

BOOL WINAPI on_sound(LPCSTR name, UINT flags)
{
    Event e;
    e.kind = name ? "play" : "stop";
    e.text = name ? name : "";
    e.type = flags;
    std::lock_guard<std::mutex> g(lock);
    log.push_back(e);
    return TRUE;
}
} // namespace

void install()
{
    clear();
    messageBoxObserver = on_box;
    soundPlayer = on_sound;
}

void uninstall()
{
    messageBoxObserver = NULL;
    soundPlayer = realPlayer;
}

std::vector<Event> events()
{
    std::lock_guard<std::mutex> g(lock);
    return log;
}

std::vector<std::string> kinds()
{
    std::vector<std::string> out;
    for (const Event &e : events()) {
        if (e.kind == "box")
            out.push_back("box:" + e.caption);
        else if (e.kind == "play")
            out.push_back("play:" + e.text);
        else
            out.push_back(e.kind);
    }
    return out;
}

void clear()
{
    std::lock_guard<std::mutex> g(lock);
    log.clear();
}

} // namespace rec
