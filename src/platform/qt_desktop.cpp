#include "qt_desktop.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace psmerge {

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
    auto box = std::make_unique<QMessageBox>();
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

void QtDesktop::EndProgram(int status) {
    if (beforeEnd_) beforeEnd_();
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace psmerge
