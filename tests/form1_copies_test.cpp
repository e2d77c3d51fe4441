// The Qt window as a program: its command line, second copies and their
// hand-overs, the file channel, and windows ended or killed.

#include "support/form1_fixture.h"

namespace a5merge {
namespace {

TEST(Form1StartTest, SecondCopyWarnsAndNeverShowsItsWindow) {
    TextFiles files;
    FakeDesktop desktop;
    ScriptedInstances running(true);
    Form1 form(desktop, files, running);
    EXPECT_THROW(form.Load(), ProgramEnded);
    EXPECT_EQ(desktop.Texts(),
              std::vector<std::string>{"The application is already running!!! \r"});
    EXPECT_FALSE(form.isVisible());
}

// Files on the command line go to TOP, then BOTTOM, as drops once the window
// is shown; --help and --version need no display; more is a usage error.
TEST_F(Form1Test, FilesNamedOnTheCommandLine) {
    const struct {
        std::vector<std::string> args;
        WindowCommandLine::Action action;
        std::vector<std::string> files;
    } cases[] = {
        {{}, WindowCommandLine::Action::OpenWindow, {}},
        {{"a.ps", "b.ps"}, WindowCommandLine::Action::OpenWindow, {"a.ps", "b.ps"}},
        {{"--", "-x.ps"}, WindowCommandLine::Action::OpenWindow, {"-x.ps"}},
        {{"--", "-reverse", "b.ps"}, WindowCommandLine::Action::OpenWindow, {"-reverse", "b.ps"}},
        {{"a.ps", "b.ps", "c.ps"}, WindowCommandLine::Action::UsageError, {}},
        {{"a.ps", ""}, WindowCommandLine::Action::UsageError, {}},
        {{"--help", "a.ps"}, WindowCommandLine::Action::UsageError, {}},
        {{"--frobnicate"}, WindowCommandLine::Action::UsageError, {}},
        {{"--version"}, WindowCommandLine::Action::PrintVersion, {}},
        // Qt's own options are Qt's: passed over, with their values.
        {{"-platform", "xcb", "a.ps"}, WindowCommandLine::Action::OpenWindow, {"a.ps"}},
        {{"-style", "fusion", "-reverse", "--version"},
         WindowCommandLine::Action::PrintVersion,
         {}},
        {{"-session", "1234abcd", "a.ps", "b.ps"},
         WindowCommandLine::Action::OpenWindow,
         {"a.ps", "b.ps"}},
        {{"--stylesheet", "x.qss", "-style=fusion", "-display", ":1", "a.ps"},
         WindowCommandLine::Action::OpenWindow,
         {"a.ps"}},
        {{"-stylesheet", "x.qss", "--frobnicate"}, WindowCommandLine::Action::UsageError, {}},
        {{"-reverse", "a.ps", "b.ps", "c.ps"}, WindowCommandLine::Action::UsageError, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"a5merge"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        std::vector<char*> ours = WithoutQtOptions(static_cast<int>(argv.size()), argv.data());
        const WindowCommandLine line =
            ParseWindowCommandLine(static_cast<int>(ours.size()), ours.data());
        EXPECT_EQ(line.action, c.action) << ::testing::PrintToString(c.args);
        EXPECT_EQ(line.files, c.files) << ::testing::PrintToString(c.args);
    }
    for (const char* entry : {"Preview...", "Print...", "Save as PDF...", "Swap TOP and BOTTOM",
                              "Right click, the Menu key or Shift+F10"}) {
        EXPECT_NE(WindowHelpText(QtOptions::Taken).find(entry), std::string::npos) << entry;
        EXPECT_NE(WindowHelpText(QtOptions::None).find(entry), std::string::npos) << entry;
    }
    // Qt's options only where they are taken.
    EXPECT_NE(WindowHelpText(QtOptions::Taken).find("[Qt's options]"), std::string::npos);
    EXPECT_EQ(WindowHelpText(QtOptions::None).find("Qt"), std::string::npos);
    EXPECT_NE(WindowHelpText(QtOptions::None).find("from a shell.\n\nRight click"),
              std::string::npos);
    for (const char* option : {"--help", "--version"}) {
        const testing::ProcessResult r =
            testing::RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM=xcb", A5MERGE_WINDOW, option});
        EXPECT_EQ(r.status, 0) << option << r.err;
    }
    EXPECT_EQ(testing::RunProcess({A5MERGE_WINDOW, "a.ps", "b.ps", "c.ps"}).status, 2);
    EXPECT_EQ(testing::RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                   A5MERGE_WINDOW, "-platform", "xcb", "-reverse", "--version"})
                  .status,
              0);
    // With Qt's options the window opens (and runs until it is ended).
    const testing::ProcessResult qt =
        testing::RunProcess({"/usr/bin/timeout", "3", A5MERGE_WINDOW, "-platform", "offscreen",
                             "-style", "fusion", "-reverse", "-session", "someid"});
    EXPECT_EQ(qt.status, 124) << "it ended at once: " << qt.err;

    TempFolder dir;
    form->TakeFilesOnceShown({dir.Write("left.ps", AcceptedInput()), dir.Path("gone.ps")});
    EXPECT_TRUE(desktop.boxes.empty()) << "nothing before the window is shown";
    ShowActive();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !desktop.boxes.empty(); }));
    EXPECT_EQ(form->state().topOK, 1);
    EXPECT_EQ(desktop.Texts(), std::vector<std::string>{"BOTTOM.PS file check NOT OK"});
}


// A desktop whose boxes each wait a moment in an event loop of their own, as
// real ones do: what arrives meanwhile is handled inside it.
class WaitingBoxDesktop : public FakeDesktop {
public:
    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override {
        deepest = std::max(deepest, ++depth);
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
        --depth;
        return FakeDesktop::MsgBox(text, style, title);
    }
    int depth = 0;
    int deepest = 0;
};

// A flood of hand-overs naming missing files: each box closes before the next
// hand-over is taken, and only a few wait; the rest are refused.
TEST(Form1HandOverTest, HandOversAreTakenOneAtATime) {
    WaitingBoxDesktop desktop;
    TextFiles files;
    ScriptedInstances firstCopy(false);
    Form1 form(desktop, files, firstCopy);
    form.Load();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    TempFolder dir;
    // They arrive as messages do, from the event loop, also while a box is open.
    int taken = 0, sent = 0;
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        taken += form.TakeFilesOnceShown({dir.Path("gone" + std::to_string(sent) + ".ps")});
        if (++sent == 40) flood.stop();
    });
    flood.start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent == 40; }, 20000));
    EXPECT_LT(taken, 40) << "the queue is bounded";
    EXPECT_GE(taken, 8);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return desktop.boxes.size() == static_cast<std::size_t>(taken); }, 20000));
    EXPECT_EQ(desktop.deepest, 1) << "a box was opened inside another";
    // Arriving a moment apart, they go to TOP and BOTTOM in turn.
    std::vector<std::string> expected;
    for (int i = 0; i < taken; ++i) {
        expected.push_back(i % 2 == 0 ? "TOP.PS file check NOT OK" : "BOTTOM.PS file check NOT OK");
    }
    EXPECT_EQ(desktop.Texts(), expected);
    // Closed by the window system, it takes no more: their copies keep them.
    EXPECT_TRUE(form.TakeFilesFromAnotherCopy({dir.Path("late.ps")}));
    form.close();
    EXPECT_FALSE(form.TakeFilesFromAnotherCopy({dir.Path("later.ps")}));
}

// A second copy started with files hands them to the running window, as if
// named on its command line (one file goes to TOP), and exits 0; the door
// takes nothing but one or two absolute file names.
TEST_F(Form1MergeTest, ASecondCopyWithFilesHandsThemToTheRunningWindow) {
    ShowActive();
    TempFolder runtime;  // the runtime folder both copies use
    const std::string lockPath = runtime.Path("a5merge.lock");
    SingleInstance lock(lockPath);
    ASSERT_EQ(lock.Acquire(), SingleInstance::Outcome::First);
    FileChannel door(FileChannelPath(lockPath), [&](const std::vector<std::string>& handed) {
        return form->TakeFilesOnceShown(handed);
    });
    ASSERT_TRUE(door.listening());
    const std::string top = dir.Write("left.ps", ReadBytes(TestData("top.ps")));
    const std::string bottom = dir.Write("right.ps", ReadBytes(TestData("bottom.ps")));

    const auto secondCopy = [&](const QStringList& args) {
        QProcess copy;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           QString::fromStdString(runtime.Path("")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        copy.setProcessEnvironment(environment);
        copy.setWorkingDirectory(QString::fromStdString(dir.Path("")));
        copy.start(QStringLiteral(A5MERGE_WINDOW), args);
        EXPECT_TRUE(QTest::qWaitFor([&] { return copy.state() == QProcess::NotRunning; }, 20000));
        return copy.exitCode();
    };
    EXPECT_EQ(secondCopy({QStringLiteral("right.ps"), QStringLiteral("left.ps")}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->state().topFile == bottom; }));
    EXPECT_EQ(form->state().bottomFile, top);
    EXPECT_EQ(secondCopy({QStringLiteral("left.ps")}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->state().topFile == top; }));
    EXPECT_EQ(form->state().bottomFile, top);

    // No file: only "come to the front", and nothing is taken.
    {
        QLocalSocket socket;
        socket.connectToServer(FileChannelPath(lockPath));
        ASSERT_TRUE(socket.waitForConnected(2000));
        const std::string message = FileChannel::Message({});
        socket.write(message.data(), static_cast<qint64>(message.size()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            answer += socket.readAll();
            return answer.contains('\n');
        }));
        EXPECT_EQ(answer, "taken\n");
    }

    // Anything else is refused, and nothing is taken.
    for (const std::string& message : {std::string("hello"), FileChannel::Message({"relative.ps"}),
                                       FileChannel::Message({top, bottom, top}),
                                       FileChannel::Message({std::string(5000, '/')})}) {
        QLocalSocket socket;
        socket.connectToServer(FileChannelPath(lockPath));
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(message.data(), static_cast<qint64>(message.size()));
        QByteArray answer;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                answer += socket.readAll();
                return answer.contains('\n') || socket.state() != QLocalSocket::ConnectedState;
            },
            6000));
        EXPECT_NE(answer, "taken\n") << ::testing::PrintToString(message);
    }
    QTest::qWait(50);
    EXPECT_EQ(form->state().topFile, top);
}

// Starts the window as a process of its own, offscreen, with `runtime` as its
// runtime folder and `environment` besides.
std::unique_ptr<QProcess> StartWindow(const QStringList& args, const std::string& runtime,
                                      const std::string& cwd,
                                      const std::vector<std::pair<QString, QString>>& more = {}) {
    auto window = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto& [name, value] : more) environment.insert(name, value);
    window->setProcessEnvironment(environment);
    window->setWorkingDirectory(QString::fromStdString(cwd));
    window->start(QStringLiteral(A5MERGE_WINDOW), args);
    EXPECT_TRUE(window->waitForStarted());
    return window;
}

int ExitCodeOf(QProcess& process, int ms = 20000) {
    EXPECT_TRUE(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, ms));
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A window killed with SIGKILL leaves its socket; the next takes it over,
// and a copy started after it hands its file over.
TEST_F(Form1MergeTest, AWindowKilledLeavesNothingThatBlocksTheNext) {
    TempFolder runtime;
    const std::string socket = runtime.Path("a5merge.socket");
    auto first = StartWindow({}, runtime.Path(""), dir.Path(""));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(socket); }, 20000));
    first->kill();
    first->waitForFinished();
    ASSERT_TRUE(std::filesystem::exists(socket)) << "the socket of the killed copy stays";
    auto second = StartWindow({}, runtime.Path(""), dir.Path(""));
    QTest::qWait(300);
    dir.Write("left.ps", AcceptedInput());
    // It answers once its door is open.
    std::unique_ptr<QProcess> third;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            third = StartWindow({QStringLiteral("left.ps")}, runtime.Path(""), dir.Path(""));
            return ExitCodeOf(*third) == 0;
        },
        30000));
    EXPECT_EQ(second->state(), QProcess::Running);
    second->kill();
    second->waitForFinished();
}

// A copy started while the first still starts (its door not yet open) tries
// for a while and hands its files over once it can.
TEST_F(Form1MergeTest, ACopyStartedWhileTheFirstStartsKeepsItsFiles) {
    TempFolder runtime;
    const std::string lockPath = runtime.Path("a5merge.lock");
    SingleInstance lock(lockPath);
    ASSERT_EQ(lock.Acquire(), SingleInstance::Outcome::First);
    const std::string top = dir.Write("left.ps", AcceptedInput());
    auto copy = StartWindow({QStringLiteral("left.ps")}, runtime.Path(""), dir.Path(""));
    QTest::qWait(1500);
    EXPECT_EQ(copy->state(), QProcess::Running) << "it gave up at once";
    std::vector<std::string> handed;
    FileChannel door(FileChannelPath(lockPath), [&](const std::vector<std::string>& files) {
        handed = files;
        return true;
    });
    EXPECT_EQ(ExitCodeOf(*copy), 0);
    EXPECT_EQ(handed, std::vector<std::string>{top});

    // A copy without files asks the running one to come to the front (a
    // hand-over of no file), then says it runs.
    bool asked = false;
    FileChannel front(FileChannelPath(lockPath), [&](const std::vector<std::string>& files) {
        asked = files.empty();
        return true;
    });
    auto bare = StartWindow({}, runtime.Path(""), dir.Path(""));
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked; }, 10000));
    bare->kill();
    bare->waitForFinished();
}

// Names are never handed to a door of another user's, whatever it answers.
TEST(FileChannelTest, NamesGoOnlyToADoorOfThisUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    TempFolder dir;
    ::chmod(dir.Path("").c_str(), 0777);
    const std::string path = dir.Path("a5merge.socket");
    int heard[2];
    ASSERT_EQ(::pipe(heard), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        ::signal(SIGPIPE, SIG_IGN);  // the sender may hang up before the answer
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(1);
        const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            std::_Exit(2);
        ::chmod(path.c_str(), 0777);
        ::listen(server, 1);
        (void)!::write(heard[1], "l", 1);
        const int client = ::accept(server, nullptr, nullptr);
        char buf[8192];
        ssize_t got = 0;
        for (ssize_t n; (n = ::read(client, buf, sizeof buf)) > 0;) got += n;
        (void)!::write(client, "taken\n", 6);
        const char said = got > 0 ? 'y' : 'n';
        (void)!::write(heard[1], &said, 1);
        std::_Exit(0);
    }
    ::close(heard[1]);
    char c = 0;
    ASSERT_EQ(::read(heard[0], &c, 1), 1) << "the other user could not listen";
    EXPECT_FALSE(SendFilesToRunningCopy(QString::fromStdString(path), {"/secret/review.ps"}, 2000));
    ASSERT_EQ(::read(heard[0], &c, 1), 1);
    EXPECT_EQ(c, 'n') << "a name reached another user's door";
    ::close(heard[0]);
    ::waitpid(other, nullptr, 0);
}

// The window ended by a signal while it renders (here a zone's tooltip of a
// drawing that loops, with Ghostscript outside the sandbox) leaves neither
// Ghostscript nor its private folder.
TEST_F(Form1MergeTest, AWindowEndedWhileItRendersLeavesNothing) {
    TempFolder runtime;
    const std::string tmp = dir.Path("tmp");
    std::filesystem::create_directory(tmp);
    std::filesystem::create_directory(dir.Path("bin"));
    std::filesystem::create_symlink("/usr/bin/gs", dir.Path("bin/gs"));
    dir.Write("looping.ps", AcceptedInput("{ } loop\r\nshowpage\r\n"));
    const auto folders = [&tmp] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
            n += entry.path().filename().string().rfind("a5merge-", 0) == 0;
        }
        return n;
    };
    auto window = StartWindow({QStringLiteral("looping.ps")}, runtime.Path(""), dir.Path(""),
                              {{QStringLiteral("TMPDIR"), QString::fromStdString(tmp)},
                               {QStringLiteral("PATH"), QString::fromStdString(dir.Path("bin"))}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return folders() > 0; }, 20000)) << "no render started";
    QTest::qWait(300);
    const qint64 pid = window->processId();
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_EQ(ExitCodeOf(*window), -1) << "it ended by the signal";
    EXPECT_EQ(folders(), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return testing::RunProcess({"/usr/bin/pgrep", "-f", dir.Path("bin/gs")}).out.empty();
        },
        3000))
        << "Ghostscript outlived the window";
}

}  // namespace
}  // namespace a5merge
