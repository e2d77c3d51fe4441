#include "merge/startup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/desktop.h"
#include "platform/single_instance.h"
#include "support/fake_desktop.h"
#include "support/fake_form.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::FakeDesktop;
using testing::ProgramEnded;
using testing::TempFolder;

using testing::ScriptedInstances;

TEST(StartupTest, FirstCopyStartsWithCrLfAndBothZonesEmpty) {
    MergeState state;
    state.topOK = 1;
    state.bottomOK = 1;
    FakeDesktop desktop;
    ScriptedInstances none(false);
    Form_Load(state, desktop, none);
    EXPECT_EQ(state.lineBreak, "\r\n");
    EXPECT_EQ(state.topOK, 0);
    EXPECT_EQ(state.bottomOK, 0);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST(StartupTest, SecondCopyWarnsAndEnds) {
    MergeState state;
    FakeDesktop desktop;
    ScriptedInstances running(true);
    EXPECT_THROW(Form_Load(state, desktop, running), ProgramEnded);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "The application is already running!!! \r");
    EXPECT_EQ(desktop.boxes[0].style, 4112);
    EXPECT_EQ(desktop.boxes[0].title, "Error !");
    EXPECT_TRUE(desktop.ended.has_value());
    EXPECT_TRUE(state.lineBreak.empty()) << "nothing after the warning runs";
}

TEST(SingleInstanceTest, OneHolderAtATime) {
    TempFolder dir;
    const QString lock = QString::fromStdString(dir.Path("app.lock"));
    SingleInstance first(lock);
    EXPECT_EQ(first.Acquire(), SingleInstance::Outcome::First);
    EXPECT_FALSE(first.AnotherRunning());

    SingleInstance second(lock);
    EXPECT_TRUE(second.AnotherRunning());
    EXPECT_EQ(second.Acquire(), SingleInstance::Outcome::AlreadyRunning);

    first.Release();
    SingleInstance third(lock);
    EXPECT_EQ(third.Acquire(), SingleInstance::Outcome::First);
}

TEST(SingleInstanceTest, LockOfAKilledCopyDoesNotBlock) {
    TempFolder dir;
    const QString lock = QString::fromStdString(dir.Path("app.lock"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance held(lock);
        const char outcome = held.Acquire() == SingleInstance::Outcome::First ? 'y' : 'n';
        (void)!::write(ready[1], &outcome, 1);
        ::pause();
        std::_Exit(0);
    }
    char outcome = 0;
    ASSERT_EQ(::read(ready[0], &outcome, 1), 1);
    ASSERT_EQ(outcome, 'y');
    EXPECT_TRUE(SingleInstance(lock).AnotherRunning());

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(SingleInstance(lock).Acquire(), SingleInstance::Outcome::First);
}

TEST(SingleInstanceTest, NoLockFolderMeansNothingIsKnown) {
    SingleInstance nowhere(QStringLiteral("/proc/no-such-folder/app.lock"));
    EXPECT_EQ(nowhere.Acquire(), SingleInstance::Outcome::Unavailable);
    EXPECT_FALSE(nowhere.AnotherRunning());
}

}  // namespace
}  // namespace a5merge
