#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/file_channel.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/qt_desktop.h"
#include "app/qt_options.h"
#include "handlers/command_line.h"
#include "handlers/hand_overs.h"
#include "platform/exit_cleanup.h"
#include "platform/file_system.h"
#include "platform/program.h"
#include "platform/runtime_error.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"

int main(int argc, char* argv[]) {
    a5merge::PrepareProgram();
    using Action = a5merge::WindowCommandLine::Action;
    // Before Qt starts, so that --help, --version and our usage errors need
    // no display: Qt's own options are passed over here and left to Qt.
    std::vector<char*> ours = a5merge::WithoutQtOptions(argc, argv);
    const a5merge::WindowCommandLine commandLine =
        a5merge::ParseWindowCommandLine(static_cast<int>(ours.size()), ours.data());
    switch (commandLine.action) {
        case Action::PrintHelp:
            std::fputs(a5merge::WindowHelpText(a5merge::QtOptions::Taken).c_str(), stdout);
            return 0;
        case Action::PrintVersion:
            std::fputs(a5merge::WindowVersionText().c_str(), stdout);
            return 0;
        case Action::UsageError:
            std::fprintf(stderr, "a5merge: %s\nTry 'a5merge --help'.\n", commandLine.error.c_str());
            return 2;
        case Action::OpenWindow:
            break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("a5merge"));
    a5merge::RegisterTahoma();

    std::vector<std::string> named = a5merge::AbsoluteNames(commandLine.files);

    a5merge::TextFiles files;
    a5merge::SingleInstance instance;
    const QString channel = a5merge::FileChannelPath(instance.lockPath());
    // A second copy started with files (Open With, say) gives them to the
    // window that runs; one that cannot says so as any second copy does.
    // The running copy opens its door once its window shows, so a copy
    // started just after it tries for a while, and runs itself should the
    // other end meanwhile.
    // A copy started without files asks the running one to come to the
    // front, then says it runs (Form_Load).
    if (instance.AnotherRunning()) {
        a5merge::SecondCopy copy;
        copy.handOver = [&channel](const std::vector<std::string>& handed) {
            return a5merge::SendFilesToRunningCopy(channel, handed, 1000)
                       ? a5merge::HandedOver::Taken
                       : a5merge::HandedOver::NotTaken;
        };
        copy.stillRunning = [&instance] {
            return instance.TryAgain() == a5merge::SingleInstance::Outcome::AlreadyRunning;
        };
        if (a5merge::HandToTheCopyThatRuns(copy, named).taken) return 0;
    }
    a5merge::QtDesktop desktop(QStringLiteral("PS merge"), [&] {
        files.CloseAll();
        instance.Release();
        a5merge::CleanUpBeforeExit();  // renders under way: their Ghostscript and folders
    });

    a5merge::Form1 form(desktop, files, instance);
    desktop.SetWindow(&form);
    form.Load();
    form.show();
    // The first copy: files a later one is started with come here, as if
    // named on its command line, and the window comes to the front. The door
    // opens once the window is on its way to the screen, and only for the
    // holder of the lock (it takes over a socket a killed copy left).
    std::unique_ptr<a5merge::FileChannel> door;
    QTimer::singleShot(0, &form, [&] {
        if (instance.Acquire() != a5merge::SingleInstance::Outcome::First) return;
        door = std::make_unique<a5merge::FileChannel>(
            channel, [&form](const std::vector<std::string>& handed) {
                form.showNormal();
                form.raise();
                form.activateWindow();
                return form.TakeFilesFromAnotherCopy(handed);
            });
    });
    form.TakeFilesOnceShown(std::move(named));
    return QApplication::exec();
}
