#pragma once

#include <QObject>

class MainWindowTests : public QObject {
    Q_OBJECT
private slots:
    void startsIdleWithWelcomeText();
    void menusHaveTheirCaptionsAndShortcuts();
    void resizeRuleLaysOutControls();
    void sizeIsRemembered();
    void cancelledDialogStartsNothing();
    void runningJobLocksTheMenus();
    void heartBeatShowsLogStates_data();
    void heartBeatShowsLogStates();
    void noLogFileYetChangesNothing();
    void endStateStaysInSight();
    void cancelEndsTheJob();
    void readBackAndPayloadsFoundAreShown();
    void ownerNameShownCheckedAndWritten();
    void finalReportWrittenJustBeforeExit();
    void programEndingWithoutReport_data();
    void programEndingWithoutReport();
    void programThatCannotStart();
    void staleProcessEndIsIgnored();
    void everyLogNameTaken();
    void missingProgramFile();
    void realProcessReports_data();
    void realProcessReports();
    void splashClosesOnCharacterKeysAndClicks();
    void missingHelpFileIsReported();
    void helpFileFoundInTheInstalledDataFolder();
};
