// Answers the message boxes that code under test shows on the test's own
// thread: a helper thread waits for each expected box in turn, reads it and
// presses the given button. When a box does not come, or an unexpected one
// stays, it dismisses whatever is open so that the test fails instead of
// hanging.
#ifndef SORVANE_BOX_SCRIPT_H
#define SORVANE_BOX_SCRIPT_H

#include "ui_driver.h"
#include <thread>

namespace ui {

struct Step {
    const char *caption;
    int button;
};

class BoxScript {
public:
    explicit BoxScript(std::vector<Step> steps, DWORD waitMs = DEFAULT_WAIT_MS)
        : steps_(std::move(steps)), waitMs_(waitMs), thread_([this] { run(); })
    {
    }
    ~BoxScript() { finish(); }

    // Waits for the helper thread; returns the boxes seen, in order.
    const std::vector<Box> &finish()
    {
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

private:
    void run()
    {
        for (const Step &s : steps_) {
            Box b = wait_box(s.caption, waitMs_, GetCurrentProcessId());
            if (!b) {
                dismiss_all();
                return;
            }
            seen_.push_back(b);
            answer(b, s.button);
            wait_gone(b.hwnd, waitMs_);
        }
    }

    std::vector<Step> steps_;
    DWORD waitMs_;
    std::vector<Box> seen_;
    std::thread thread_;
};

} // namespace ui

#endif
