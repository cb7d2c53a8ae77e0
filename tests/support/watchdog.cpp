#include "watchdog.h"
#include "ui_driver.h"
#include <gtest/gtest.h>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace watchdog {

namespace {

std::mutex lock;
std::vector<std::string> unreported; // failures waiting for the test's thread
std::set<HWND> named;                // windows named in this test already

void on_dismissed(const ui::Box &w)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!named.insert(w.hwnd).second)
        return;
    unreported.push_back("a window that nobody answered was closed: caption \"" + w.caption + "\", text \"" + w.text + "\"");
}

void report()
{
    std::vector<std::string> failures;
    {
        std::lock_guard<std::mutex> hold(lock);
        failures.swap(unreported);
        named.clear();
    }
    for (const std::string &f : failures)
        ADD_FAILURE() << f;
}

class Listener : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo &) override
    {
        stop_ = false;
        thread_ = std::thread([this] { watch(); });
    }

    void OnTestEnd(const ::testing::TestInfo &) override
    {
        {
            std::lock_guard<std::mutex> hold(stopLock_);
            stop_ = true;
        }
        stopped_.notify_all();
        thread_.join();
        std::vector<HWND> open = ui::find_windows(ui::DIALOG_CLASS, NULL, GetCurrentProcessId());
        for (HWND h : open)
            ui::dismiss(h);
        ui::wait_until([&] {
            for (HWND h : open)
                if (IsWindow(h) && IsWindowVisible(h))
                    return false;
            return true;
        }, CLOSE_WAIT_MS);
        report();
    }

    // Windows dismissed between tests (a suite's own tear-down).
    void OnTestSuiteEnd(const ::testing::TestSuite &) override { report(); }

private:
    void watch()
    {
        std::map<HWND, DWORD> since;
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(stopLock_);
                if (stopped_.wait_for(hold, std::chrono::milliseconds(100), [this] { return stop_; }))
                    return;
            }
            DWORD now = GetTickCount();
            std::map<HWND, DWORD> seen;
            for (HWND h : ui::find_windows(ui::DIALOG_CLASS, NULL, GetCurrentProcessId())) {
                auto before = since.find(h);
                DWORD first = before == since.end() ? now : before->second;
                seen[h] = first;
                if (now - first >= (ui::is_message_box(h) ? BOX_LIMIT_MS : DIALOG_LIMIT_MS))
                    ui::dismiss(h);
            }
            since.swap(seen);
        }
    }

    std::thread thread_;
    std::mutex stopLock_;
    std::condition_variable stopped_;
    bool stop_ = false;
};

} // namespace

void install()
{
    ui::set_dismiss_hook(on_dismissed);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Listener);
}

} // namespace watchdog
