#include "merge/startup.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>

#include <sddl.h>

#include "platform/windows_support.h"
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <memory>

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

    // The description of the last run-time error follows the CR, when there is one.
    FakeDesktop told;
    EXPECT_THROW(Form_Load(state, told, running, "Its window did not take x.ps."), ProgramEnded);
    EXPECT_EQ(told.boxes.at(0).text,
              "The application is already running!!! \rIts window did not take x.ps.");
}

TEST(SingleInstanceTest, OneHolderAtATime) {
    TempFolder dir;
    const std::string lock = dir.Path("app.lock");
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

#ifndef _WIN32
TEST(SingleInstanceTest, LockOfAKilledCopyDoesNotBlock) {
    TempFolder dir;
    const std::string lock = dir.Path("app.lock");
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
    SingleInstance nowhere("/proc/no-such-folder/app.lock");
    EXPECT_EQ(nowhere.Acquire(), SingleInstance::Outcome::Unavailable);
    EXPECT_FALSE(nowhere.AnotherRunning());
}

// The lock and the door for files live only in a folder of this user's own:
// the runtime folder when no one else may enter it, else one made in the
// temporary folder, never one another user made first, nor a link.
TEST(SingleInstanceTest, TheLockIsKeptInAFolderOfTheUsersOwn) {
    TempFolder dir;
    const std::string runtime = dir.Path("runtime");
    const std::string tmp = dir.Path("tmp");
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(tmp.c_str(), 0777);
    ::chmod(tmp.c_str(), 01777);
    const std::string own = tmp + "/a5merge-runtime-" + std::to_string(::geteuid());
    const auto folderWith = [&](const char* xdg) {
        if (xdg != nullptr) {
            ::setenv("XDG_RUNTIME_DIR", xdg, 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        ::setenv("TMPDIR", tmp.c_str(), 1);
        return UserOnlyFolder();
    };
    EXPECT_EQ(folderWith(runtime.c_str()), runtime);
    ::chmod(runtime.c_str(), 0755);  // others may enter: not used
    EXPECT_EQ(folderWith(runtime.c_str()), own);
    struct stat st {};
    ASSERT_EQ(::lstat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::chmod(own.c_str(), 0755);  // ours, made too open: closed again
    EXPECT_EQ(folderWith(nullptr), own);
    ASSERT_EQ(::lstat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(folderWith("relative/folder"), own);

    ::rmdir(own.c_str());
    ASSERT_EQ(::symlink(runtime.c_str(), own.c_str()), 0);
    EXPECT_EQ(folderWith(nullptr), "") << "a link is never taken";
    ::unlink(own.c_str());
    if (::geteuid() == 0) {
        ::mkdir(own.c_str(), 0700);
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        EXPECT_EQ(folderWith(nullptr), "") << "another user's folder is never taken";
        EXPECT_EQ(SingleInstance(SingleInstance::DefaultLockPath()).Acquire(),
                  SingleInstance::Outcome::Unavailable);
    }
    ::unsetenv("TMPDIR");
    ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstanceTest, ALockThatIsALinkOrAnotherUsersIsNotUsed) {
    TempFolder dir;
    const std::string target = dir.Write("elsewhere", "");
    ASSERT_EQ(::symlink(target.c_str(), dir.Path("linked.lock").c_str()), 0);
    EXPECT_EQ(SingleInstance(dir.Path("linked.lock")).Acquire(),
              SingleInstance::Outcome::Unavailable);
    EXPECT_EQ(SingleInstance("").Acquire(), SingleInstance::Outcome::Unavailable);
    if (::geteuid() != 0) return;
    const std::string theirs = dir.Write("theirs.lock", "");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    SingleInstance lock(theirs);
    EXPECT_EQ(lock.Acquire(), SingleInstance::Outcome::Unavailable);
    EXPECT_FALSE(lock.AnotherRunning());
}
#endif


#ifdef _WIN32
// The mutex is the user's own: named after their SID, and taken for a
// running copy only when its owner is the user. One another made first
// (another user, another program) locks no one out: each copy then runs on
// its own. A copy with other rights (one run as administrator) that Windows
// keeps this one from opening the mutex fully is found as a running copy;
// the seam stands in for the answer wine never gives.
namespace mutexes {
HANDLE WINAPI Denied(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
}  // namespace mutexes

TEST(SingleInstanceTest, TheMutexIsTheUsersOwn) {
    const std::string lock = "a5merge-test/" + testing::ProcessId() + ".lock";
    SingleInstance probe(lock);
    const std::string name = probe.LockName();
    EXPECT_EQ(name.rfind("Local\\a5merge-test/", 0), 0u) << name;
    EXPECT_NE(name.find(".S-1-"), std::string::npos) << "the user's SID is in its name";

    // Another's object of that name, owned by another (here: the system).
    PSECURITY_DESCRIPTOR foreign = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:SYD:(A;;GA;;;WD)", SDDL_REVISION_1, &foreign, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, foreign, FALSE};
    const windows::Handle squatter(
        ::CreateMutexW(&attributes, FALSE, windows::Wide(name).c_str()));
    ::LocalFree(foreign);
    ASSERT_TRUE(squatter.valid());
    SingleInstance locked(lock);
    EXPECT_EQ(locked.Acquire(), SingleInstance::Outcome::Unavailable);
    EXPECT_FALSE(locked.AnotherRunning()) << "another's mutex locked this copy out";
    const_cast<windows::Handle&>(squatter).reset();

    SingleInstance first(lock);
    ASSERT_EQ(first.Acquire(), SingleInstance::Outcome::First);
    const auto real = windows::Calls().createMutex;
    windows::Calls().createMutex = mutexes::Denied;
    SingleInstance second(lock);
    EXPECT_EQ(second.Acquire(), SingleInstance::Outcome::AlreadyRunning);
    first.Release();
    SingleInstance alone(lock);
    EXPECT_EQ(alone.Acquire(), SingleInstance::Outcome::Unavailable) << "nothing to open";
    windows::Calls().createMutex = real;
}
#endif

// A copy that found another running tries again once that one has ended.
TEST(SingleInstanceTest, TryingAgainFindsTheLockFree) {
    TempFolder dir;
    auto first = std::make_unique<SingleInstance>(dir.Path("app.lock"));
    ASSERT_EQ(first->Acquire(), SingleInstance::Outcome::First);
    SingleInstance second(dir.Path("app.lock"));
    EXPECT_EQ(second.Acquire(), SingleInstance::Outcome::AlreadyRunning);
    EXPECT_EQ(second.TryAgain(), SingleInstance::Outcome::AlreadyRunning);
    first.reset();
    EXPECT_EQ(second.Acquire(), SingleInstance::Outcome::AlreadyRunning)
        << "the first answer stays";
    EXPECT_EQ(second.TryAgain(), SingleInstance::Outcome::First);
    EXPECT_EQ(second.TryAgain(), SingleInstance::Outcome::First);
}

}  // namespace
}  // namespace a5merge
