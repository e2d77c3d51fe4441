// The time from a drop to the preview's picture: the window on the offscreen
// platform with its preview open, BOTTOM dropped again and again (two files
// in turn, so that each drop changes the sheet), timed until the preview has
// its new picture. The first render, which also starts the sandbox, is shown
// apart.
//
//   preview_bench TOP.ps BOTTOM.ps [ROUNDS]

#include <QApplication>
#include <QSignalSpy>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/fonts.h"
#include "app/form1.h"
#include "app/preview_window.h"
#include "platform/text_files.h"
#include "tools/quiet_desktop.h"

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TOP.ps BOTTOM.ps [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 21;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    a5merge::RegisterTahoma();

    // A second BOTTOM that draws more, so that the sheet changes each drop.
    const std::string other = (std::filesystem::temp_directory_path() / "a5merge-bench-other.ps");
    {
        std::ifstream in(argv[2], std::ios::binary);
        std::ofstream out(other, std::ios::binary);
        out << in.rdbuf() << "% another\r\n";
    }

    a5merge::TextFiles files;
    a5merge::tools::QuietDesktop desktop;
    a5merge::tools::FirstCopy first;
    a5merge::Form1 form(desktop, files, first);
    form.Load();
    form.show();
    form.frmTop_OLEDragDrop({argv[1]});

    using Clock = std::chrono::steady_clock;
    const auto timeDrop = [&](const std::string& bottom, bool open) {
        const auto start = Clock::now();
        if (open) {
            form.frmBottom_OLEDragDrop({bottom});
            form.Preview();
        } else {
            form.frmBottom_OLEDragDrop({bottom});
        }
        QSignalSpy done(form.preview(), &a5merge::PreviewWindow::renderDone);
        while (done.isEmpty()) done.wait(30000);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double firstTime = timeDrop(argv[2], true);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) times.push_back(timeDrop(i % 2 == 0 ? other : argv[2], false));
    std::sort(times.begin(), times.end());
    std::filesystem::remove(other);
    std::printf("%-52s %7.3f s median of %d (%.3f-%.3f s); the first %.3f s (aim: under 0.3 s)\n",
                "drop to the preview's picture, sample pair", times[times.size() / 2], rounds,
                times.front(), times.back(), firstTime);
    return 0;
}
