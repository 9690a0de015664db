#include "frontend/ui/payload_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace vekmrk {

PayloadWindow::PayloadWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmPayloads"));
    setWindowTitle(QStringLiteral("Vek Audio Watermark - Payloads Found"));

    m_file = new QLabel(this);
    m_file->setObjectName(QStringLiteral("lblFile"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_file->setWordWrap(true);

    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("lstPayloads"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Payload"), QStringLiteral("Instances"), QStringLiteral("Time range")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);

    auto* copyAction = new QAction(this);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyAction, &QAction::triggered, this, &PayloadWindow::copy);
    addAction(copyAction);

    m_copy = new QPushButton(QStringLiteral("&Copy"), this);
    m_copy->setObjectName(QStringLiteral("butCopy"));
    m_copy->setToolTip(QStringLiteral("Copies the selected rows, or all of them (Ctrl+C)"));
    connect(m_copy, &QPushButton::clicked, this, &PayloadWindow::copy);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("butClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_copy);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_file);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(420, 220);
}

void PayloadWindow::setPayloads(const QList<FoundPayload>& found, const QString& file) {
    m_found = found;
    m_file->setText(QStringLiteral("Found in %1:").arg(file));
    m_table->clearContents();
    m_table->setRowCount(static_cast<int>(found.size()));
    for (int row = 0; row < found.size(); ++row) {
        const FoundPayload& entry = found.at(row);
        m_table->setItem(row, 0, new QTableWidgetItem(entry.payload));
        auto* count = new QTableWidgetItem(QString::number(entry.instances));
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_table->setItem(row, 1, count);
        m_table->setItem(row, 2, new QTableWidgetItem(timeRange(entry)));
    }
}

QString PayloadWindow::selectedText() const {
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty()) {
        return foundPayloadsText(m_found);
    }
    QList<FoundPayload> chosen;
    for (const int row : rows) {
        chosen.append(m_found.at(row));
    }
    return foundPayloadsText(chosen);
}

void PayloadWindow::copy() {
    QApplication::clipboard()->setText(selectedText());
}

} // namespace vekmrk
