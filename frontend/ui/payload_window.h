#pragma once
// The payloads a decode job found, as a table beside the main window's report: payload,
// instances and time range, one row per payload. Rows are selected and copied with Ctrl+C or
// the Copy button (all rows when none is selected), as tab-separated lines.

#include "frontend/core/job_result.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;

namespace vekmrk {

class PayloadWindow : public QWidget {
    Q_OBJECT
public:
    explicit PayloadWindow(QWidget* parent = nullptr);

    // Fills the table with the payloads found in `file`.
    void setPayloads(const QList<FoundPayload>& found, const QString& file);

    // The selected rows (all rows when none is selected) as the clipboard gets them.
    QString selectedText() const;

public slots:
    void copy();

private:
    QList<FoundPayload> m_found;
    QLabel* m_file = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_copy = nullptr;
};

} // namespace vekmrk
