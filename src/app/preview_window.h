#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include "app/post_to.h"
#include "ghostscript/raster.h"
#include "ghostscript/sheet_output.h"
#include "handlers/background_run.h"
#include "handlers/sheet_preview.h"

class QLabel;
class QPushButton;

namespace a5merge {

class Ghostscript;

// A rendered page as a picture.
QImage ImageOf(const Raster& raster);

// The sheet as Ghostscript renders it, in a window of its own: resizable,
// not modal, fitted to the window on a grey ground so that the page's edge
// shows, rendered at the screen's own pixel density. Renders run in the
// background; a newer one replaces an older one, and the window says while
// one runs. Where Ghostscript fails, its text stands in place of the picture.
// "Print..." and "Save as PDF..." ask the main window to do so. It opens
// beside the main window where the screen has room; Escape and Ctrl+W close
// it.
class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    PreviewWindow(const Ghostscript& ghostscript, QWidget* owner);

    // Shows the window over its owner and renders `sources`.
    void Show(const SheetSources& sources);
    // Renders `sources` from now on, at once when the window is shown.
    void SetSources(const SheetSources& sources);

    // What it shows now.
    const QImage& picture() const { return picture_; }
    QString message() const { return QString::fromStdString(render_.message()); }
    QString statusText() const;
    bool rendering() const { return render_.rendering(); }

signals:
    void printRequested();
    void saveAsPdfRequested();
    void renderDone();  // a render ended: a picture or a message

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Render();
    void PlaceBesideOwner();
    QRectF PageRect() const;
    void ShowStatus();

    QImage picture_;
    bool placed_ = false;
    QLabel* status_;
    QPushButton* print_;
    QPushButton* savePdf_;
    QTimer resized_;
    SheetRender render_;
};

}  // namespace a5merge
