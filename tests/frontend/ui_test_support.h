#pragma once
// Helpers shared by the widget tests.

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <QtTest>

// Creates an empty file (the dialogs only test that a chosen file exists).
inline bool touchFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

inline QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Drops the given URLs on the widget as a file manager would.
inline void dropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPointF centre(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

template <typename T> T* child(QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        qWarning("no child named %s", name);
    }
    return found;
}
