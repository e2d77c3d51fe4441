#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "platform/desktop.h"

class QMessageBox;
class QPageSize;
class QPrinter;
class QWidget;

namespace a5merge {

// The desktop of a Qt Widgets program: real message boxes and a real end.
class QtDesktop : public Desktop {
public:
    // `appTitle` shows on boxes without a title; `beforeEnd` runs just before
    // the process ends (closing files, releasing the instance lock).
    explicit QtDesktop(QString appTitle, std::function<void()> beforeEnd = {});

    // Boxes and dialogs open over `window`.
    void SetWindow(QWidget* window) { window_ = window; }

    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override;
    // Qt's own Save dialog (the same on every desktop), as "CommonDialog1".
    std::optional<std::string> SaveAs(const SaveDialog& dialog) override;
    // Qt's own Open dialog, as "openDialog"; the name filters ignore case.
    std::optional<std::string> OpenFile(const OpenDialog& dialog) override;
    // Qt's own print dialog, as "printDialog", set for one A4 page; what it
    // chose, as CUPS job options. Nothing is ever painted on its printer.
    std::optional<PrintChoice> ChoosePrinter(const std::string& title) override;
    // The work runs on a thread of its own; the window takes no input
    // meanwhile, and after a moment a box says `what` with a Cancel button.
    void WhileBusy(const std::string& what,
                   const std::function<void(const std::atomic<bool>&)>& work) override;

    // The box MsgBox shows for these arguments, built but not shown.
    std::unique_ptr<QMessageBox> MakeBox(const std::string& text, int style,
                                         const std::optional<std::string>& title) const;

protected:
    void EndProgram(int status) override;

private:
    template <class Run>
    auto OverTheWindow(QWidget& dialog, Run run);

    QPointer<QWidget> window_;
    QString appTitle_;
    std::function<void()> beforeEnd_;
};

// What a print dialog chose on `printer`: a file to print into, or the
// printer with PrintOptionsFor its settings.
PrintChoice PrintChoiceOf(QPrinter& printer);

// A print dialog's settings as CUPS's job options: copies (and collation for
// more than one), sides, monochrome, the paper (A4 unless another was
// chosen, which the sheet is then fitted to), then the dialog's own CUPS
// options (name, value, name, value...) as they are.
std::vector<std::pair<std::string, std::string>> PrintOptionsFor(int copies, bool collate,
                                                                 int duplex, bool grayScale,
                                                                 const QPageSize& paper,
                                                                 const QStringList& cupsOptions);

// Qt name filters for "description|pattern|..." pairs.
QStringList QtNameFilters(const std::string& filter);

}  // namespace a5merge
