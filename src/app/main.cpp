#include <QApplication>

#include "fonts.h"
#include "form1.h"
#include "icon.h"
#include "qt_desktop.h"
#include "single_instance.h"
#include "text_files.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("psmerge"));
    QApplication::setWindowIcon(psmerge::AppIcon());
    psmerge::RegisterTahoma();

    psmerge::TextFiles files;
    psmerge::SingleInstance instance;
    psmerge::QtDesktop desktop(QStringLiteral("PS merge"), [&] {
        files.CloseAll();
        instance.Release();
    });

    psmerge::Form1 form(desktop, files, instance);
    desktop.SetWindow(&form);
    form.Load();
    form.show();
    return QApplication::exec();
}
