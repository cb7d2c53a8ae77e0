// The result actions after a clean check, with the real message boxes read
// and answered from a helper thread, and sound calls recorded.
#include <gtest/gtest.h>
#include "box_script.h"
#include "recorder.h"
#include "texts.h"
#include "check/notify.h"
#include "settings/settings.h"
#include <shellapi.h>
#include <string.h>

namespace {

using namespace texts;
const char MISSING_PROGRAM[] = "C:\\no\\such\\folder\\mailer.exe";
const char SOUND_NEW[] = "C:\\sounds\\new.wav";
const char SOUND_NONE[] = "C:\\sounds\\none.wav";

// Calls of the "mail program started" report.
int started;
void note_started() { started++; }

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        started = 0;
        memset(&Settings, 0, sizeof Settings);
        rec::install();
    }
    void TearDown() override { rec::uninstall(); }
};

std::vector<std::string> seq(std::initializer_list<std::string> l) { return l; }
std::string box(const char *caption) { return std::string("box:") + caption; }
std::string play(const char *path) { return std::string("play:") + path; }

TEST_F(NotifyTest, NewMailAskedAndDeclinedSkipsLaunchThenSoundMessageStop)
{
    strcpy(Settings.mailPath, MISSING_PROGRAM);
    Settings.mailPathAsk = 1;
    strcpy(Settings.oksndPath, SOUND_NEW);
    Settings.okMes = 1;

    ui::BoxScript script({{CONFIRM_CAPTION, IDNO}, {RESULT_CAPTION, IDOK}});
    notify_new_mail(note_started, NULL, NULL);
    const auto &boxes = script.finish();

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "新着メールがあります。\nメールソフトを起動しますか？");
    EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(boxes[1].text, NEW_MAIL);
    EXPECT_EQ(boxes[1].buttons, (std::vector<int>{IDOK}));
    // No launch was tried, so no launch-failure box came between them.
    EXPECT_EQ(rec::kinds(), seq({box(CONFIRM_CAPTION), play(SOUND_NEW), box(RESULT_CAPTION), "stop"}));

    auto ev = rec::events();
    EXPECT_EQ(ev[0].type, (UINT)(MB_YESNO | MB_ICONQUESTION));
    EXPECT_FALSE(ev[0].owned);
    EXPECT_EQ(ev[1].type, (UINT)SND_ASYNC);
    EXPECT_EQ(ev[2].type, (UINT)(MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND));
    EXPECT_FALSE(ev[2].owned);
    EXPECT_EQ(ev[3].type, (UINT)SND_ASYNC);
}

TEST_F(NotifyTest, LaunchFailureBoxComesBeforeTheSound)
{
    strcpy(Settings.mailPath, MISSING_PROGRAM);
    Settings.mailPathAsk = 1;
    strcpy(Settings.oksndPath, SOUND_NEW);
    Settings.okMes = 1;

    ui::BoxScript script({{CONFIRM_CAPTION, IDYES}, {ERROR_CAPTION, IDOK}, {RESULT_CAPTION, IDOK}});
    notify_new_mail(note_started, NULL, NULL);
    const auto &boxes = script.finish();

    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].text, "アプリケーションを正しく起動することができませんでした。");
    EXPECT_EQ(rec::kinds(),
              seq({box(CONFIRM_CAPTION), box(ERROR_CAPTION), play(SOUND_NEW), box(RESULT_CAPTION), "stop"}));
    EXPECT_EQ(rec::events()[1].type, (UINT)(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(started, 0);
}

TEST_F(NotifyTest, LaunchWithoutAskingOpensTheProgram)
{
    // A program that exists and ends by itself: no question, no error box.
    char program[MAX_PATH];
    GetSystemDirectoryA(program, sizeof program);
    strcat(program, "\\hostname.exe");
    strcpy(Settings.mailPath, program);
    Settings.mailPathAsk = 0;

    notify_new_mail(note_started, NULL, NULL);
    EXPECT_TRUE(rec::kinds().empty());
    EXPECT_EQ(started, 1);
}

TEST_F(NotifyTest, FailedLaunchWithoutAskingStillPlaysTheSound)
{
    strcpy(Settings.mailPath, MISSING_PROGRAM);
    strcpy(Settings.oksndPath, SOUND_NEW);

    ui::BoxScript script({{ERROR_CAPTION, IDOK}});
    notify_new_mail(note_started, NULL, NULL);
    script.finish();
    // Without the message the sound is not stopped: it plays to its end.
    EXPECT_EQ(rec::kinds(), seq({box(ERROR_CAPTION), play(SOUND_NEW)}));
}

TEST_F(NotifyTest, AskFlagWithoutMailProgramAsksNothing)
{
    Settings.mailPathAsk = 1;
    Settings.okMes = 1;
    ui::BoxScript script({{RESULT_CAPTION, IDOK}});
    notify_new_mail(note_started, NULL, NULL);
    script.finish();
    EXPECT_EQ(rec::kinds(), seq({box(RESULT_CAPTION), "stop"}));
}

TEST_F(NotifyTest, NonZeroFlagOtherThanOneCounts)
{
    Settings.okMes = 2;
    ui::BoxScript script({{RESULT_CAPTION, IDOK}});
    notify_new_mail(note_started, NULL, NULL);
    EXPECT_EQ(script.finish().size(), 1u);
}

TEST_F(NotifyTest, NoMailPlaysSoundShowsMessageAndNeverStops)
{
    strcpy(Settings.nosndPath, SOUND_NONE);
    Settings.noMes = 1;
    // New-mail settings must not leak into the no-mail sequence.
    strcpy(Settings.oksndPath, SOUND_NEW);
    Settings.okMes = 1;

    ui::BoxScript script({{RESULT_CAPTION, IDOK}});
    notify_no_mail(NULL);
    const auto &boxes = script.finish();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, NO_MAIL);
    EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDOK}));
    EXPECT_EQ(rec::kinds(), seq({play(SOUND_NONE), box(RESULT_CAPTION)}));
    EXPECT_EQ(rec::events()[1].type, (UINT)(MB_OK | MB_ICONINFORMATION));
}

// What arrived, under the box's unchanged first line.
TEST_F(NotifyTest, TheNewMailBoxListsWhatArrived)
{
    Settings.okMes = 1;
    Pop3Arrived arrived = {};
    arrived.listed = 1;
    arrived.more = 5;
    strcpy(arrived.sender[0], "山田太郎");
    strcpy(arrived.subject[0], "会議の件");
    ui::BoxScript script({{RESULT_CAPTION, IDOK}});
    notify_new_mail(note_started, &arrived, NULL);
    const auto &boxes = script.finish();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string(NEW_MAIL) + "\n山田太郎「会議の件」\nほか 5 通");
}

// As a notification: handed over with the caption as its title, no box,
// and the sound left to the notification's end.
std::string notified;
int notified_new;
int take_notification(const char *title, const char *text, int newMail)
{
    notified = std::string(title) + "|" + text;
    notified_new = newMail;
    return 1;
}

TEST_F(NotifyTest, ANotificationInsteadOfTheBoxDoesNotWait)
{
    Settings.notifyBalloon = 1;
    Settings.okMes = 1;
    Settings.noMes = 1;
    strcpy(Settings.oksndPath, SOUND_NEW);
    notify_new_mail(note_started, NULL, take_notification);
    EXPECT_EQ(notified, std::string(RESULT_CAPTION) + "|" + NEW_MAIL);
    EXPECT_EQ(notified_new, 1);
    notify_no_mail(take_notification);
    EXPECT_EQ(notified, std::string(RESULT_CAPTION) + "|" + NO_MAIL);
    EXPECT_EQ(notified_new, 0);
    EXPECT_EQ(rec::kinds(), seq({play(SOUND_NEW)}));
}

TEST_F(NotifyTest, EverythingOffDoesNothing)
{
    notify_new_mail(note_started, NULL, NULL);
    notify_no_mail(NULL);
    EXPECT_TRUE(rec::events().empty());
}

// While the user presents, an automatic check's result plays no sound and
// starts nothing; only the latest result's box waits, and comes on the
// first tick that finds the user taking notifications again.
int userState;
int user_state() { return userState; }

TEST_F(NotifyTest, WhileTheUserPresentsOnlyTheLatestBoxWaits)
{
    strcpy(Settings.mailPath, MISSING_PROGRAM);
    strcpy(Settings.oksndPath, SOUND_NEW);
    strcpy(Settings.nosndPath, SOUND_NONE);
    Settings.okMes = 1;
    Settings.noMes = 1;
    notify_user_state_from(user_state);
    userState = QUNS_PRESENTATION_MODE;
    notify_no_mail(NULL, 1);
    notify_new_mail(note_started, NULL, NULL, 1);
    notify_show_held();
    EXPECT_TRUE(rec::events().empty());
    EXPECT_EQ(started, 0);

    userState = QUNS_ACCEPTS_NOTIFICATIONS;
    ui::BoxScript script({{RESULT_CAPTION, IDOK}});
    notify_show_held();
    notify_show_held();
    const auto &boxes = script.finish();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, NEW_MAIL);
    notify_user_state_from(NULL);
}

} // namespace
