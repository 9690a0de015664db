#include "frontend/ui/drop_frame.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace vekmrk {

QStringList droppedFileNames(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.append(QDir::toNativeSeparators(url.toLocalFile()));
        }
    }
    return files;
}

DropFrame::DropFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent) {
    setAcceptDrops(true);
}

void DropFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFileNames(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void DropFrame::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedFileNames(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void DropFrame::dropEvent(QDropEvent* event) {
    const QStringList files = droppedFileNames(event->mimeData());
    if (files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(files);
}

} // namespace vekmrk
