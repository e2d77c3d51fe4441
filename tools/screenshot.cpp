// Renders the window as it looks at start to a PNG file, with the program's own code.
//   a5merge-screenshot OUT.png [SCALE]

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>

#include "app/fonts.h"
#include "app/form1.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"

namespace {

// Start-up as a first copy; nothing is ever asked.
class NoDesktop : public a5merge::Desktop {
public:
    int MsgBox(const std::string&, int, const std::optional<std::string>&) override {
        return a5merge::kIdOk;
    }
    std::optional<std::string> SaveAs(const a5merge::SaveDialog&) override { return {}; }
    std::optional<std::string> OpenFile(const a5merge::OpenDialog&) override { return {}; }

protected:
    void EndProgram(int status) override { std::exit(status); }
};

class FirstCopy : public a5merge::InstanceTest {
public:
    bool AnotherRunning() override { return false; }
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [SCALE]\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc > 2) ::setenv("QT_SCALE_FACTOR", argv[2], 1);
    QApplication app(argc, argv);
    a5merge::RegisterTahoma();

    a5merge::TextFiles files;
    NoDesktop desktop;
    FirstCopy first;
    a5merge::Form1 form(desktop, files, first);
    form.Load();
    form.show();
    QApplication::processEvents();
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
