#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "platform/desktop.h"

class QMessageBox;
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

    // The box MsgBox shows for these arguments, built but not shown.
    std::unique_ptr<QMessageBox> MakeBox(const std::string& text, int style,
                                         const std::optional<std::string>& title) const;

protected:
    void EndProgram(int status) override;

private:
    QPointer<QWidget> window_;
    QString appTitle_;
    std::function<void()> beforeEnd_;
};

// Qt name filters for "description|pattern|..." pairs.
QStringList QtNameFilters(const std::string& filter);

}  // namespace a5merge
