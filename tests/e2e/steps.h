// The steps of the black-box suites, shared by the suite of the 64-bit
// build and the smoke suite of the shipped 32-bit program: the texts and ids
// the program shows, the accounts of the test mail server, and a fixture
// whose waits stretch by a time scale (the shipped program runs here under
// emulation, many times slower than the 64-bit build under Wine).
#ifndef SORVANE_E2E_STEPS_H
#define SORVANE_E2E_STEPS_H

#include <gtest/gtest.h>
#include "program.h"
#include "texts.h"
#include "ui_driver.h"
#include <string>

namespace e2e {

using namespace texts;

// Accounts of the test mail server (tests/services/dovecot.sh).
const char SERVER[] = "127.0.0.1";
const char USER_EMPTY[] = "empty";
const char PASSWORD_EMPTY[] = "empty-pass";
const char USER_FULL[] = "three";
const char PASSWORD_FULL[] = "three-pass";

class EndToEnd : public ::testing::Test {
public:
    Program app;
    std::string dir;

    // Every wait of the steps is `timeScale` times its time under Wine.
    explicit EndToEnd(DWORD timeScale = 1) : scale(timeScale) {}
    DWORD ms(DWORD wineMs) const { return wineMs * scale; }

    void SetUp() override;
    HWND wait_dialog(const char *caption, DWORD wineMs = 15000);
    ui::Box wait_box(const char *caption, DWORD wineMs = 15000);
    size_t count(const char *caption);
    // Ends the program through its menu and checks the clean way out.
    void exit_and_expect_clean();

private:
    const DWORD scale;
};

// Starts the program (by default the one under test) without settings and
// cancels both start-up dialogs.
void start_without_server(EndToEnd *t, const std::string &program = programPath);

// Types the server, the user and, through its own dialog, the password
// into the settings dialog `dlg`.
void enter_account(EndToEnd *t, HWND dlg, const char *server, const char *user, const char *password);

// The tray holds `tip` followed by the time, " (hh:mm)", and shows `face`
// (Program::Face), within a few seconds.
::testing::AssertionResult tray_shows(Program &app, const std::string &tip, int face);

} // namespace e2e

#endif
