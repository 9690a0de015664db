#include "frontend/ui/owner_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vekmrk {

namespace {

#ifndef VEKMRKWIN_SYSCONFDIR
#define VEKMRKWIN_SYSCONFDIR "/etc"
#endif

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

OwnerPlaces installedOwnerPlaces(const QString& programFolder) {
    OwnerPlaces places;
    places.programFolder = programFolder;
#ifdef Q_OS_WIN
    const QString data = qEnvironmentVariable("ProgramData", QStringLiteral("C:\\ProgramData"));
    places.systemFolder = QDir(data).filePath(QStringLiteral("vekmrk"));
#else
    places.systemFolder = QStringLiteral(VEKMRKWIN_SYSCONFDIR "/vekmrk");
#endif
    places.environment = qgetenv(kOwnerEnvironment);
    return places;
}

OwnerDialog::OwnerDialog(OwnerPlaces places, QWidget* parent)
    : QDialog(parent), m_places(std::move(places)),
      m_folders(ownerNameFolders(m_places.programFolder, m_places.systemFolder)) {
    setObjectName(QStringLiteral("frmOwner"));
    setWindowTitle(QStringLiteral("Vek Audio Watermark - Owner Name"));

    auto* intro = new QLabel(
        QStringLiteral("The owner name keys your private layer: marks written on it can be read "
                       "only by those who know it, as their layer code."),
        this);
    intro->setWordWrap(true);
    m_current = new QLabel(this);
    m_current->setObjectName(QStringLiteral("lblCurrent"));
    m_current->setWordWrap(true);
    m_current->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txtOwner"));
    connect(m_name, &QLineEdit::textChanged, this, &OwnerDialog::nameEdited);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("lblProblem"));
    m_problem->setWordWrap(true);
    m_place = new QLabel(this);
    m_place->setObjectName(QStringLiteral("lblPlace"));
    m_place->setWordWrap(true);
    m_place->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_save = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::ApplyRole);
    m_save->setObjectName(QStringLiteral("butSave"));
    connect(m_save, &QPushButton::clicked, this, &OwnerDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("New owner name:"), m_name);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_current);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(m_place);
    layout->addStretch();
    layout->addWidget(buttons);
    resize(520, sizeHint().height());
    refresh();
}

void OwnerDialog::refresh() {
    const OwnerNameSource source = findOwnerName(m_places.environment, m_folders, readFile);
    QString current;
    if (source.name.isEmpty()) {
        current = QStringLiteral("No owner name is configured: the private layer cannot be used.");
    } else {
        current = QStringLiteral("The programs use the owner name \"%1\", from %2.")
                      .arg(QString::fromUtf8(source.name),
                           source.fromEnvironment
                               ? QStringLiteral("the environment variable VEKMRK_OWNER")
                               : native(source.file));
        const QString problem = ownerNameProblem(source.name, m_places.systemFolder);
        if (!problem.isEmpty()) {
            current += QStringLiteral(" It cannot be used: ") + problem;
        }
    }
    m_current->setText(current);

    m_writeFolder = ownerNameWriteFolder(m_folders, source, ownerFolderWritable);
    QString place;
    if (m_writeFolder.isEmpty()) {
        place = QStringLiteral("You cannot write any of the places the programs read (%1): ask "
                               "an administrator to write the name on the first line of %2, or "
                               "set VEKMRK_OWNER.")
                    .arg(native(m_folders.join(QStringLiteral(", "))),
                         native(m_places.systemFolder + u'/' + QString::fromLatin1(kOwnerFile)));
    } else {
        place = QStringLiteral("A new name is saved to %1.")
                    .arg(native(m_writeFolder + u'/' + QString::fromLatin1(kOwnerFile)));
        if (source.fromEnvironment) {
            place += QStringLiteral(" VEKMRK_OWNER is set and comes first: the saved name is used "
                                    "once it is unset.");
        }
    }
    m_place->setText(place);
    nameEdited();
}

void OwnerDialog::nameEdited() {
    const QByteArray name = m_name->text().toUtf8();
    const QString problem =
        name.isEmpty() ? QString() : ownerNameProblem(name, m_places.systemFolder);
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    m_save->setEnabled(!name.isEmpty() && problem.isEmpty() && !m_writeFolder.isEmpty());
}

bool OwnerDialog::save() {
    const QByteArray name = m_name->text().toUtf8();
    if (name.isEmpty() || !ownerNameProblem(name, m_places.systemFolder).isEmpty() ||
        m_writeFolder.isEmpty()) {
        return false;
    }
    const QString failure = writeOwnerName(m_writeFolder, name);
    if (!failure.isEmpty()) {
        m_problem->setText(failure);
        m_problem->setVisible(true);
        return false;
    }
    m_name->clear();
    refresh();
    return true;
}

} // namespace vekmrk
