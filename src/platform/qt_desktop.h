#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "desktop.h"

class QMessageBox;

namespace psmerge {

// The desktop of a Qt Widgets program: real message boxes and a real end.
class QtDesktop : public Desktop {
public:
    // `appTitle` shows on boxes without a title; `beforeEnd` runs just before
    // the process ends (closing files, releasing the instance lock).
    explicit QtDesktop(QString appTitle, std::function<void()> beforeEnd = {});

    int MsgBox(const std::string& text, int style,
               const std::optional<std::string>& title = std::nullopt) override;

    // The box MsgBox shows for these arguments, built but not shown.
    std::unique_ptr<QMessageBox> MakeBox(const std::string& text, int style,
                                         const std::optional<std::string>& title) const;

protected:
    void EndProgram(int status) override;

private:
    QString appTitle_;
    std::function<void()> beforeEnd_;
};

}  // namespace psmerge
