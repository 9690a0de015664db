#pragma once
// A titled frame that accepts local files dropped on it.

#include <QGroupBox>
#include <QStringList>

class QMimeData;

namespace vekmrk {

class DropFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit DropFrame(const QString& title, QWidget* parent = nullptr);

signals:
    // The dropped local files in their order, native separators; never empty.
    void filesDropped(const QStringList& files);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The local file names that dropped data carries, in order; empty when it carries none.
QStringList droppedFileNames(const QMimeData* data);

} // namespace vekmrk
