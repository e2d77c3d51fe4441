#include "app/qt_desktop.h"

#include "app/icon.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

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

int QtDesktop::MsgBox(const std::string& text, int style, const std::optional<std::string>& title) {
    auto box = MakeBox(text, style, title);
    box->exec();
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
std::optional<std::string> Answer(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
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
    return Answer(dialog);
}

std::optional<std::string> QtDesktop::OpenFile(const OpenDialog& settings) {
    QFileDialog dialog(window_, QString::fromStdString(settings.title));
    Prepare(dialog, "openDialog", settings.filter, settings.initDir, QDir::homePath());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return Answer(dialog);
}

void QtDesktop::EndProgram(int status) {
    if (beforeEnd_) beforeEnd_();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace a5merge
