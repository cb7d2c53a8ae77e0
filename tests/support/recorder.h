// Records, in one ordered log, the calls the program makes through its two
// seams: every message box (with its exact flags) and every sound request.
#ifndef SORVANE_RECORDER_H
#define SORVANE_RECORDER_H

#include <windows.h>
#include <mmsystem.h>
#include <string>
#include <vector>

namespace rec {

struct Event {
    std::string kind;    // "box", "play", "stop"
    std::string text;    // box text or sound path
    std::string caption; // box caption
    UINT type = 0;       // box flags
    bool owned = false;  // the box had an owning window
};

// Installs both seams (sound is recorded, not played) and clears the log.
void install();
// Puts the real message box and sound calls back.
void uninstall();
std::vector<Event> events();
std::vector<std::string> kinds(); // "box:<caption>", "play:<path>", "stop"
void clear();

} // namespace rec

#endif
