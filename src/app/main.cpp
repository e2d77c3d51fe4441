#include <QApplication>

#include <csignal>
#include <cstdio>

#include "app/command_line.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/qt_desktop.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"

int main(int argc, char* argv[]) {
    // A file-size limit makes a save fail with "File too large", said as such.
    ::signal(SIGXFSZ, SIG_IGN);
    using Action = a5merge::WindowCommandLine::Action;
    const a5merge::WindowCommandLine commandLine = a5merge::ParseWindowCommandLine(argc, argv);
    switch (commandLine.action) {
        case Action::PrintHelp:
            std::fputs(a5merge::WindowHelpText().c_str(), stdout);
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

    // Qt reads no options of its own here: everything on the line was ours.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("a5merge"));
    a5merge::RegisterTahoma();

    a5merge::TextFiles files;
    a5merge::SingleInstance instance;
    a5merge::QtDesktop desktop(QStringLiteral("PS merge"), [&] {
        files.CloseAll();
        instance.Release();
    });

    a5merge::Form1 form(desktop, files, instance);
    desktop.SetWindow(&form);
    form.Load();
    form.show();
    std::vector<std::string> named;
    for (const std::string& file : commandLine.files) {
        try {
            named.push_back(a5merge::AbsolutePath(file));
        } catch (const a5merge::RuntimeError&) {
            named.push_back(file);  // the zone then says it cannot find it
        }
    }
    form.TakeFilesOnceShown(std::move(named));
    return QApplication::exec();
}
