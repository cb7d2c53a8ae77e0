// The watchdog of every test program, seen from outside: a run of this
// program whose test leaves a message box standing, or shows one that its
// box script gives up on, must fail within seconds and name the box. The
// failing tests run only in that child run.
#include <gtest/gtest.h>
#include "box_script.h"
#include "watchdog.h"
#include <string>
#include <thread>
#include <vector>

namespace {

const char CAPTION[] = "置き去りの箱";
const char TEXT[] = "だれも答えません。";

// Shown on the test's own thread, with no one to answer it.
TEST(WatchdogChild, DISABLED_BoxOnTheTestThread)
{
    MessageBoxA(NULL, TEXT, CAPTION, MB_OK);
}

// The thread of the box left at the end. It is joined after the last test
// (the watchdog has closed its box by then), never left running into the
// process's exit, which would end it wherever it stands inside the window
// system.
std::thread boxThread;
struct JoinBoxThread : ::testing::Environment {
    void TearDown() override
    {
        if (boxThread.joinable())
            boxThread.join();
    }
};
::testing::Environment *const joinBoxThread = ::testing::AddGlobalTestEnvironment(new JoinBoxThread);

// Still standing when the test ends.
TEST(WatchdogChild, DISABLED_BoxLeftAtTheEnd)
{
    boxThread = std::thread([] { MessageBoxA(NULL, TEXT, CAPTION, MB_OKCANCEL); });
    ui::wait_box(CAPTION, ui::DEFAULT_WAIT_MS, GetCurrentProcessId());
}

// Not the box that the script waits for: the script gives up on it.
TEST(WatchdogChild, DISABLED_BoxTheScriptDidNotExpect)
{
    ui::BoxScript script({{"ほかの箱", IDOK}}, 1000);
    MessageBoxA(NULL, TEXT, CAPTION, MB_YESNO);
}

// Far beyond what a child with a working watchdog needs.
const DWORD CHILD_LIMIT_MS = 60000;

struct ChildRun {
    DWORD exitCode = STILL_ACTIVE;
    DWORD ms = 0;
    std::string output;
};

// This program again, running one of the tests above; its output comes
// through a pipe.
ChildRun run_child(const std::string &test)
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string line = std::string("\"") + self + "\" --gtest_also_run_disabled_tests --gtest_color=no"
                       + " --gtest_filter=WatchdogChild." + test;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE readEnd, writeEnd;
    ChildRun r;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return r;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');
    DWORD t0 = GetTickCount();
    BOOL started = CreateProcessA(self, cmd.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    CloseHandle(writeEnd);
    if (started) {
        // The child's output is taken as it comes, and the child is ended
        // at the bound: a child that hangs fails this test, never freezes it.
        char buf[4096];
        DWORD n, available;
        bool ended = false;
        while (!ended) {
            ended = WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0;
            if (!ended && GetTickCount() - t0 >= CHILD_LIMIT_MS) {
                TerminateProcess(pi.hProcess, 99);
                WaitForSingleObject(pi.hProcess, INFINITE);
                ended = true;
            }
            while (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available
                   && ReadFile(readEnd, buf, sizeof buf, &n, NULL) && n)
                r.output.append(buf, n);
        }
        r.ms = GetTickCount() - t0;
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(readEnd);
    return r;
}

TEST(Watchdog, BoxLeftOpenFailsItsTestWithinSecondsAndIsNamed)
{
    for (const char *test :
         {"DISABLED_BoxOnTheTestThread", "DISABLED_BoxLeftAtTheEnd", "DISABLED_BoxTheScriptDidNotExpect"}) {
        SCOPED_TRACE(test);
        ChildRun r = run_child(test);
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_LT(r.ms, watchdog::BOX_LIMIT_MS + 15000);
        EXPECT_NE(r.output.find(std::string("[  FAILED  ] WatchdogChild.") + test), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(std::string("caption \"") + CAPTION + "\", text \"" + TEXT + "\""), std::string::npos)
            << r.output;
    }
}

} // namespace
