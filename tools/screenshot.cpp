// Renders the window as it looks at start to a PNG file, with the program's own code;
// or, with --preview, its preview window showing the sheet of TOP and BOTTOM.
//   a5merge-screenshot OUT.png [SCALE]
//   a5merge-screenshot --preview OUT.png TOP.ps BOTTOM.ps

#include <QApplication>
#include <QPixmap>
#include <QTest>

#include <cstring>

#include <cstdio>
#include <cstdlib>

#include "app/fonts.h"
#include "app/form1.h"
#include "app/preview_window.h"
#include "platform/text_files.h"
#include "tools/quiet_desktop.h"

int main(int argc, char* argv[]) {
    const bool preview = argc == 5 && std::strcmp(argv[1], "--preview") == 0;
    if (argc < 2 || (std::strcmp(argv[1], "--preview") == 0 && !preview)) {
        std::fprintf(stderr,
                     "usage: %s OUT.png [SCALE]\n       %s --preview OUT.png TOP.ps BOTTOM.ps\n",
                     argv[0], argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc > 2 && !preview) ::setenv("QT_SCALE_FACTOR", argv[2], 1);
    QApplication app(argc, argv);
    a5merge::RegisterTahoma();

    a5merge::TextFiles files;
    a5merge::tools::QuietDesktop desktop;
    a5merge::tools::FirstCopy first;
    a5merge::Form1 form(desktop, files, first);
    form.Load();
    form.show();
    QApplication::processEvents();
    QWidget* shown = &form;
    const char* out = argv[1];
    if (preview) {
        out = argv[2];
        form.frmTop_OLEDragDrop({argv[3]});
        form.frmBottom_OLEDragDrop({argv[4]});
        form.Preview();
        shown = form.preview();
        if (shown == nullptr) return 1;
        shown->resize(380, 580);
        QTest::qWait(300);  // the resize comes to rest, and its render starts
        if (!QTest::qWaitFor([&] { return !form.preview()->rendering(); }, 30000)) return 1;
    }
    if (!shown->grab().save(QString::fromLocal8Bit(out))) {
        std::fprintf(stderr, "cannot write %s\n", out);
        return 1;
    }
    return 0;
}
