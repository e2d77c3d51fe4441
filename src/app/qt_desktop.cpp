#include "app/qt_desktop.h"

#include "app/icon.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrintEngine>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

namespace a5merge {

namespace {

// Line ends as a label shows them: CR LF and lone CR become LF, and trailing
// ones are dropped.
QString DisplayText(const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    while (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
    return shown;
}

}  // namespace

QtDesktop::QtDesktop(QString appTitle, std::function<void()> beforeEnd)
    : appTitle_(std::move(appTitle)), beforeEnd_(std::move(beforeEnd)) {}

std::unique_ptr<QMessageBox> QtDesktop::MakeBox(const std::string& text, int style,
                                                const std::optional<std::string>& title) const {
    auto box = std::make_unique<QMessageBox>(window_);
    box->setWindowIcon(AppIcon());  // also before the window has given it to the application
    box->setWindowTitle(title ? QString::fromStdString(*title) : appTitle_);
    box->setText(DisplayText(text));
    box->setTextFormat(Qt::PlainText);

    switch (style & 0x70) {
        case kMbIconStop:
            box->setIcon(QMessageBox::Critical);
            break;
        case kMbIconQuestion:
            box->setIcon(QMessageBox::Question);
            break;
        default:
            box->setIcon(QMessageBox::NoIcon);
            break;
    }

    if ((style & 0x0F) == kMbOkCancel) {
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Cancel);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Ok);
    }

    box->setWindowModality(Qt::ApplicationModal);
    if (style & kMbSystemModal) {
        box->setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    return box;
}

// Runs a modal dialog over the window, then makes the window active again
// and gives the focus back where it was: window managers and screen readers
// do not always do so (Orca with Qt 6.4 leaves no window active at all).
template <class Run>
auto QtDesktop::OverTheWindow(QWidget& dialog, Run run) {
    QPointer<QWidget> focus = QApplication::focusWidget();
    dialog.adjustSize();
    if (window_ != nullptr && window_->windowHandle() != nullptr &&
        window_->windowHandle()->isExposed()) {
        // Centred over the window, where the window manager has put it.
        const QRect over = window_->frameGeometry();
        dialog.move(over.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // No window (a second copy's box): centred on the screen, not at its
        // corner, where some window managers leave a box without a parent.
        const QRect over = screen->availableGeometry();
        dialog.move(over.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
    }
    auto result = run();
    if (window_ != nullptr && window_->isVisible()) {
        window_->activateWindow();
        window_->raise();
        if (focus != nullptr && focus->window() == window_) focus->setFocus(Qt::OtherFocusReason);
    }
    return result;
}

int QtDesktop::MsgBox(const std::string& text, int style, const std::optional<std::string>& title) {
    auto box = MakeBox(text, style, title);
    OverTheWindow(*box, [&box] { return box->exec(); });
    return box->clickedButton() == box->button(QMessageBox::Ok) ? kIdOk : kIdCancel;
}

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters.append(description.contains(QLatin1Char('('))
                           ? description
                           : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}

namespace {

// Qt's own file dialog (the same on every desktop), named `name`, with name
// filters for "description|pattern|..." pairs that ignore case (*.PS shows
// a.ps too), opening in `folder` (bytes) or, when empty, `otherwise`.
void Prepare(QFileDialog& dialog, const char* name, const std::string& filter,
             const std::string& folder, const QString& otherwise) {
    dialog.setObjectName(QLatin1String(name));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(QtNameFilters(filter));
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setDirectory(folder.empty() ? otherwise : QFile::decodeName(folder.c_str()));
}

// The file chosen, as bytes, or nothing when the dialog was cancelled.
std::optional<std::string> Answer(QFileDialog& dialog, int result) {
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
}

}  // namespace

std::optional<std::string> QtDesktop::SaveAs(const SaveDialog& settings) {
    QFileDialog dialog(window_, QString::fromStdString(settings.title));
    Prepare(dialog, "CommonDialog1", settings.filter, settings.initDir, QDir::rootPath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(settings.defaultExt));
    dialog.selectFile(QFile::decodeName(settings.fileName.c_str()));
    dialog.setOption(QFileDialog::DontConfirmOverwrite,
                     (settings.flags & SaveDialog::kOverwritePrompt) == 0);
    return Answer(dialog, OverTheWindow(dialog, [&dialog] { return dialog.exec(); }));
}

std::optional<std::string> QtDesktop::OpenFile(const OpenDialog& settings) {
    QFileDialog dialog(window_, QString::fromStdString(settings.title));
    Prepare(dialog, "openDialog", settings.filter, settings.initDir, QDir::homePath());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return Answer(dialog, OverTheWindow(dialog, [&dialog] { return dialog.exec(); }));
}

std::vector<std::pair<std::string, std::string>> PrintOptionsFor(int copies, bool collate,
                                                                 int duplex, bool grayScale,
                                                                 const QPageSize& paper,
                                                                 const QStringList& cupsOptions) {
    std::vector<std::pair<std::string, std::string>> options;
    options.emplace_back("copies", std::to_string(copies < 1 ? 1 : copies));
    if (copies > 1) options.emplace_back("collate", collate ? "true" : "false");
    switch (duplex) {
        case QPrinter::DuplexShortSide:
            options.emplace_back("sides", "two-sided-short-edge");
            break;
        case QPrinter::DuplexLongSide:
        case QPrinter::DuplexAuto:
            options.emplace_back("sides", "two-sided-long-edge");
            break;
        default:
            options.emplace_back("sides", "one-sided");
            break;
    }
    if (grayScale) options.emplace_back("print-color-mode", "monochrome");
    const bool a4 = !paper.isValid() || paper.id() == QPageSize::A4;
    options.emplace_back("media", a4 ? "A4" : paper.key().toStdString());
    if (!a4) options.emplace_back("fit-to-page", "true");
    for (qsizetype i = 0; i + 1 < cupsOptions.size(); i += 2) {
        options.emplace_back(cupsOptions[i].toStdString(), cupsOptions[i + 1].toStdString());
    }
    return options;
}

PrintChoice PrintChoiceOf(QPrinter& printer) {
    PrintChoice choice;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        choice.file = QFile::encodeName(printer.outputFileName()).toStdString();
        return choice;
    }
    choice.printer = printer.printerName().toStdString();
    // Qt's dialog keeps the CUPS options of its own settings (pages per
    // sheet, banners, the printer's own choices) as name, value pairs in
    // this engine property, where Qt's CUPS engine reads them too.
    constexpr auto kCupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);
    const QStringList cupsOptions =
        printer.printEngine() != nullptr
            ? printer.printEngine()->property(kCupsOptions).toStringList()
            : QStringList();
    choice.options = PrintOptionsFor(printer.copyCount(), printer.collateCopies(), printer.duplex(),
                                     printer.colorMode() == QPrinter::GrayScale,
                                     printer.pageLayout().pageSize(), cupsOptions);
    return choice;
}

std::optional<PrintChoice> QtDesktop::ChoosePrinter(const std::string& title) {
    QPrinter printer;
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintDialog dialog(&printer, window_);
    dialog.setObjectName(QStringLiteral("printDialog"));
    dialog.setWindowTitle(QString::fromStdString(title));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setMinMax(1, 1);
    if (OverTheWindow(dialog, [&dialog] { return dialog.exec(); }) != QDialog::Accepted) {
        return std::nullopt;
    }
    return PrintChoiceOf(printer);
}

void QtDesktop::WhileBusy(const std::string& what,
                          const std::function<void(const std::atomic<bool>&)>& work) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::exception_ptr error;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work(cancel);
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // A short while with no input at all; then a modal box, which keeps
    // input from the window and can stop the work.
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!done) {
        QProgressDialog box(QString::fromStdString(what), QStringLiteral("Cancel"), 0, 0, window_);
        box.setObjectName(QStringLiteral("busyBox"));
        box.setWindowTitle(appTitle_);
        box.setWindowModality(Qt::ApplicationModal);
        box.setMinimumDuration(0);
        QObject::connect(&box, &QProgressDialog::canceled, [&cancel] { cancel = true; });
        OverTheWindow(box, [&] {
            box.show();
            while (!done) loop.exec();
            return 0;
        });
    }
    worker.join();
    if (error) std::rethrow_exception(error);
}

void QtDesktop::EndProgram(int status) {
    if (beforeEnd_) beforeEnd_();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace a5merge
