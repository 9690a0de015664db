#pragma once
// The owner name that keys the programs' private layer: whether one is configured and where
// from, and a box to set a new one, checked as the programs check it and written where they
// read it.

#include "frontend/core/owner_name.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vekmrk {

struct OwnerPlaces {
    QString programFolder;  // where vekmrkenc and vekmrkdec live
    QString systemFolder;   // the system-wide folder they read last (/etc/vekmrk)
    QByteArray environment; // the VEKMRK_OWNER the programs are started with
};

// The places of the running front end: its folder, the installed system folder and its own
// environment, which the programs inherit.
OwnerPlaces installedOwnerPlaces(const QString& programFolder);

class OwnerDialog : public QDialog {
    Q_OBJECT
public:
    explicit OwnerDialog(OwnerPlaces places, QWidget* parent = nullptr);

    // Writes the typed name; false (with the reason shown) when it cannot be.
    bool save();

private:
    void refresh();
    void nameEdited();

    OwnerPlaces m_places;
    QStringList m_folders;
    QString m_writeFolder;

    QLabel* m_current = nullptr;
    QLineEdit* m_name = nullptr;
    QLabel* m_problem = nullptr;
    QLabel* m_place = nullptr;
    QPushButton* m_save = nullptr;
};

} // namespace vekmrk
