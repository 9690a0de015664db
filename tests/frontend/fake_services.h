#pragma once
// Dialog services for tests: file dialogs answer from a queue, beeps and questions are counted,
// and nothing modal is ever shown.

#include "frontend/ui/dialog_services.h"

#include <QList>
#include <QStringList>

struct FakeServices {
    QStringList nextFiles; // answers of the file dialogs, in order; empty string = cancelled
    QList<vekmrk::FileRequest> requests;
    int beeps = 0;
    int questions = 0;
    bool answerYes = true;
    QStringList messages;

    vekmrk::DialogServices make() {
        vekmrk::DialogServices services;
        services.chooseFile = [this](QWidget*, const vekmrk::FileRequest& request) {
            requests.append(request);
            return nextFiles.isEmpty() ? QString() : nextFiles.takeFirst();
        };
        services.beep = [this] { ++beeps; };
        services.askYesNo = [this](QWidget*, const QString&, const QString&) {
            ++questions;
            return answerYes;
        };
        services.showMessage = [this](QWidget*, const QString&, const QString& text) {
            messages.append(text);
        };
        return services;
    }
};
