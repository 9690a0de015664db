// Runs every widget test class; the exit status counts the failed tests.

#include "dialog_tests.h"
#include "main_window_tests.h"

#include <QApplication>
#include <QtTest>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = 0;
    {
        DialogTests tests;
        failures += QTest::qExec(&tests, argc, argv);
    }
    {
        MainWindowTests tests;
        failures += QTest::qExec(&tests, argc, argv);
    }
    return failures;
}
