#pragma once

#include <QObject>

class DialogTests : public QObject {
    Q_OBJECT
private slots:
    void captionsAndPlaces();
    void textsFitWithTheFontAtHand();
    void payloadFilterBeepsAndCountsBytes();
    void payloadKeepsCursorAndRefusesExcess();
    void encodeOkNeedsAllThreeTexts();
    void encodeOkBuildsJobOptionsAndStoresSettings();
    void storedGainAndLayerOpen_data();
    void storedGainAndLayerOpen();
    void browseUsesStoredDestAndIgnoresMissingFiles();
    void changeChoosesAnotherOutputFile();
    void dropOnEncodeFrame();
    void dropOnPathBoxSetsThePath();
    void typedPathsProposeAndEnableOk();
    void overwriteQuestion();
    void cancelLeavesNoJob();
    void decodeFirstOpening();
    void decodeLayerCodeRules();
    void darkThemeKeepsTextReadable();
};
