#pragma once

// What the Qt window's tests share: the window made and loaded with a fake
// desktop, drops through the window system, modal steps, and the samples.

#include "app/form1.h"
#include "app/qt_options.h"


#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalSocket>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <memory>

#include <gtest/gtest.h>

#include "handlers/command_line.h"
#include "app/drawing_tooltips.h"
#include "app/drop_frame.h"
#include "app/file_channel.h"
#include "app/fonts.h"
#include "app/preview_window.h"
#include "app/qt_desktop.h"
#include "ghostscript/ghostscript.h"
#include "ghostscript/raster.h"
#include "platform/single_instance.h"
#include "platform/text_files.h"
#include "support/fake_desktop.h"
#include "support/fake_form.h"
#include "support/private_cups.h"
#include "support/ps_samples.h"
#include "support/run_process.h"
#include "support/temp_folder.h"

namespace a5merge {

using testing::AcceptedInput;
using testing::FakeDesktop;
using testing::ProgramEnded;
using testing::ReadBytes;
using testing::ScriptedInstances;
using testing::TempFolder;
using testing::TestData;

// Runs `step` on the first modal widget of type T to show up.
template <typename T>
void WhenModal(std::function<void(T*)> step) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget());
            widget != nullptr && widget->isVisible()) {
            timer->stop();
            timer->deleteLater();
            step(widget);
        }
    });
    timer->start(10);
}

inline bool TahomaAvailable() { return QFontDatabase::hasFamily(QStringLiteral("Tahoma")); }

class Form1Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tahomaIds = RegisterTahoma(); }

    static inline QList<int> tahomaIds;  // what this suite registered

    void SetUp() override {
        form = std::make_unique<Form1>(desktop, files, firstCopy);
        form->Load();
    }

    template <typename T>
    T* Control(const char* name) {
        T* control = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    void ShowActive() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    TextFiles files;
    testing::FakeDesktop desktop;
    testing::ScriptedInstances firstCopy{false};
    std::unique_ptr<Form1> form;
};

// Drags `data` over the window to `pos` and releases it there, through the
// window system's own delivery. Returns whether the drop was accepted.
inline bool DropAt(QWidget& window, QPoint pos, const QMimeData& data) {
    QWindow* handle = window.windowHandle();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    if (!move.isAccepted()) {  // the source then leaves instead of dropping
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(handle, &leave);
        return false;
    }
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &drop);
    return drop.isAccepted();
}

inline QMimeData* FilesData(const std::vector<std::string>& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const auto& p : paths) urls.append(QUrl::fromLocalFile(QString::fromStdString(p)));
    data->setUrls(urls);
    return data;
}

class Form1MergeTest : public Form1Test {
protected:
    // Drops the two sample inputs, copied to `dir` as left.ps (TOP) and right.ps.
    void DropSamples() {
        ShowActive();
        const std::string top = dir.Write("left.ps", testing::ReadBytes(testing::TestData("top.ps")));
        const std::string bottom = dir.Write("right.ps", testing::ReadBytes(testing::TestData("bottom.ps")));
        DropOn("lblTop", top);
        DropOn("lblBottom", bottom);
        ASSERT_EQ(Control<QLabel>("lblTop")->text(), "OK");
        ASSERT_EQ(Control<QLabel>("lblBottom")->text(), "    OK");
    }

    void DropOn(const char* control, const std::string& path) {
        std::unique_ptr<QMimeData> data(FilesData({path}));
        DropAt(*form, Control<QWidget>(control)->mapTo(form.get(), QPoint(5, 5)), *data);
    }

    testing::TempFolder dir;
};

}  // namespace a5merge
