// The encode and decode dialogs, driven through their controls as a user would.

#include "dialog_tests.h"

#include "fake_services.h"
#include "frontend/ui/decode_dialog.h"
#include "frontend/ui/encode_dialog.h"
#include "frontend/ui/splash_window.h"
#include "frontend/ui/text_fit.h"
#include "ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>

using vekmrk::DecodeDialog;
using vekmrk::EncodeDialog;
using vekmrk::grownRect;

namespace {

struct Fixture {
    QTemporaryDir dir;
    QSettings settings{dir.filePath("vekmrkwin.ini"), QSettings::IniFormat};
    FakeServices services;

    QString file(const QString& name) const { return nativePath(dir.filePath(name)); }

    // Creates the file and makes it the next file dialog's answer.
    QString chooseNext(const QString& name) {
        const QString path = file(name);
        nextFiles().append(path);
        return touchFile(path) ? path : QString();
    }
    QStringList& nextFiles() { return services.nextFiles; }
};

} // namespace

namespace {

// The text a control shows, whatever its kind.
QString caption(QWidget* control) {
    if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        return frame->title();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    return control->windowTitle();
}

} // namespace

void DialogTests::captionsAndPlaces() {
    Fixture f;
    EncodeDialog encode(f.settings, f.services.make());
    DecodeDialog decode(f.settings, f.services.make());
    const struct {
        QWidget* dialog;
        const char* name;
        const char* text;
    } captions[] = {
        {&encode, "frmEncode", "Vek Audio Watermark - Encoding"},
        {&encode, "frameSrc",
         "Original WAVE file to encode: (you may either drag-and-drop or use "
         "the Browse button)"},
        {&encode, "Frame2", "Encoded WAVE file to be created"},
        {&encode, "butBrowseOut", "Change"},
        {&encode, "Frame4", "User data payload (a hexadecimal string)"},
        {&encode, "optLayer0", "public"},
        {&encode, "optLayer1", "private"},
        {&encode, "Label1", "A mark anyone can read"},
        {&encode, "chkTimeStamp", "Add 12-bit time stamp to the data payload"},
        {&encode, "Label8", "(Less audible)"},
        {&encode, "Label9", "(More persistent)"},
        {&encode, "Label3", "Current value:"},
        {&encode, "butDefaultGain", "reset to default"},
        {&decode, "frmDecode", "Vek Audio Watermark - Decoding"},
        {&decode, "frameSrc",
         " WAVE file to decode: (you may either drag-and-drop or use the "
         "Browse button)"},
        {&decode, "optLayer0", "public layer"},
        {&decode, "optLayer1", "your private layer"},
        {&decode, "optLayer2", "others private layer using this code:"},
        {&decode, "butBrowseIn", "Browse"},
    };
    for (const auto& expected : captions) {
        QWidget* control = QString(expected.name).startsWith("frm")
                               ? expected.dialog
                               : child<QWidget>(expected.dialog, expected.name);
        QVERIFY2(control != nullptr, expected.name);
        QCOMPARE(caption(control), QString::fromLatin1(expected.text));
    }
    // Twips / 15 = pixels: the client areas and a few controls, relative to their frames, all
    // grown alike when the font's texts need more room than Arial's.
    const double encodeGrowth = encode.property("textGrowth").toDouble();
    const double decodeGrowth = decode.property("textGrowth").toDouble();
    QVERIFY(encodeGrowth >= 1.0 && decodeGrowth >= 1.0);
    QCOMPARE(encode.size(), grownRect(QRect(0, 0, 525, 350), encodeGrowth).size());
    QCOMPARE(decode.size(), grownRect(QRect(0, 0, 525, 171), decodeGrowth).size());
    QCOMPARE(child<QWidget>(&encode, "butOK")->geometry(),
             grownRect(QRect(432, 312, 81, 25), encodeGrowth));
    QCOMPARE(child<QWidget>(&encode, "sldGain")->geometry(),
             grownRect(QRect(56, 24, 185, 17), encodeGrowth));
    QCOMPARE(child<QWidget>(&decode, "txtLayerCode")->geometry(),
             grownRect(QRect(208, 32, 185, 21), decodeGrowth));
}

void DialogTests::textsFitWithTheFontAtHand() {
    // The test machine's Arial is whatever fontconfig gives (DejaVu Sans on a stock system):
    // every caption, the longest byte count and the splash's lines fit their controls.
    Fixture f;
    EncodeDialog encode(f.settings, f.services.make());
    auto* payload = child<QLineEdit>(&encode, "txtPayload");
    payload->setText(QString(98, u'F'));
    DecodeDialog decode(f.settings, f.services.make());
    vekmrk::SplashWindow splash;
    for (QWidget* window : {static_cast<QWidget*>(&encode), static_cast<QWidget*>(&decode),
                            static_cast<QWidget*>(&splash)}) {
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const QSize room = vekmrk::textRoom(control);
            QVERIFY2(room.width() <= control->width() && room.height() <= control->height(),
                     qPrintable(control->objectName()));
        }
        // Grown windows still hold every control.
        for (QWidget* control : window->findChildren<QWidget*>()) {
            QVERIFY2(control->parentWidget()->rect().contains(control->geometry()),
                     qPrintable(control->objectName()));
        }
    }
}

void DialogTests::payloadFilterBeepsAndCountsBytes() {
    Fixture f;
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* payload = child<QLineEdit>(&dialog, "txtPayload");
    auto* bytes = child<QLabel>(&dialog, "lblNbBytes");
    QCOMPARE(bytes->text(), QString());

    QTest::keyClicks(payload, "1a2g");
    QCOMPARE(payload->text(), QString("1A2"));
    QCOMPARE(f.services.beeps, 1);
    QCOMPARE(bytes->text(), QString("(2 bytes)"));
    QCOMPARE(payload->cursorPosition(), 3);

    payload->setText("zz 0a1b"); // a paste goes through the same rule
    QCOMPARE(payload->text(), QString("0A1B"));
    QCOMPARE(f.services.beeps, 2);

    payload->clear();
    QCOMPARE(bytes->text(), QString());
    QCOMPARE(f.services.beeps, 2);
}

void DialogTests::payloadKeepsCursorAndRefusesExcess() {
    Fixture f;
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* payload = child<QLineEdit>(&dialog, "txtPayload");
    QTest::keyClicks(payload, "AAAA");
    payload->setCursorPosition(2);
    QTest::keyClicks(payload, "b1");
    QCOMPARE(payload->text(), QString("AAB1AA"));
    QCOMPARE(payload->cursorPosition(), 4);

    const QString full(98, u'C'); // the encoder takes 98 hexadecimal digits at most
    payload->setText(full);
    const int beeps = f.services.beeps;
    QTest::keyClicks(payload, "D");
    QCOMPARE(payload->text(), full);
    QCOMPARE(f.services.beeps, beeps + 1);
}

void DialogTests::encodeOkNeedsAllThreeTexts() {
    Fixture f;
    const QString original = f.chooseNext("song.wav");
    QVERIFY(!original.isEmpty());
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* ok = child<QPushButton>(&dialog, "butOK");
    auto* outFile = child<QLineEdit>(&dialog, "txtOutFile");
    auto* payload = child<QLineEdit>(&dialog, "txtPayload");
    QVERIFY(!ok->isEnabled());
    QVERIFY(!outFile->isEnabled());
    QVERIFY(!child<QPushButton>(&dialog, "butBrowseOut")->isEnabled());

    QTest::keyClicks(payload, "0A");
    QVERIFY(!ok->isEnabled());
    QTest::mouseClick(child<QPushButton>(&dialog, "butBrowseIn"), Qt::LeftButton);
    QCOMPARE(f.services.requests.first().title, QString("Original Audio File Selection"));
    QCOMPARE(child<QLineEdit>(&dialog, "txtInFile")->text(), original);
    QCOMPARE(outFile->text(), f.file("song-e.wav"));
    QVERIFY(outFile->isEnabled());
    QVERIFY(ok->isEnabled());

    payload->clear();
    QVERIFY(!ok->isEnabled());
}

void DialogTests::encodeOkBuildsJobOptionsAndStoresSettings() {
    Fixture f;
    const QString original = f.chooseNext("take one.wav");
    QVERIFY(!original.isEmpty());
    {
        EncodeDialog dialog(f.settings, f.services.make());
        dialog.show();
        QTest::mouseClick(child<QPushButton>(&dialog, "butBrowseIn"), Qt::LeftButton);
        QTest::keyClicks(child<QLineEdit>(&dialog, "txtPayload"), "0a1b");
        QTest::mouseClick(child<QRadioButton>(&dialog, "optLayer1"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(&dialog, "chkTimeStamp"), Qt::LeftButton);
        child<QSlider>(&dialog, "sldGain")->setValue(15);
        QCOMPARE(child<QLabel>(&dialog, "lblGainval")->text(), QString("1.5"));
        QTest::mouseClick(child<QPushButton>(&dialog, "butOK"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.jobOptions(), " -gain 1.5 -layer private -addts 1 \"" + original +
                                          "\" 0A1B \"" + f.file("take one-e.wav") + "\"");
        QCOMPARE(f.services.questions, 0);
    }
    const QString folder = nativePath(f.dir.path());
    QCOMPARE(f.settings.value("encoding/gain").toString(), QString("1.5"));
    QCOMPARE(f.settings.value("encoding/layer").toString(), QString("private"));
    QCOMPARE(f.settings.value("encoding/addts").toString(), QString("1"));
    QCOMPARE(f.settings.value("encoding/orig").toString(), folder);
    QCOMPARE(f.settings.value("encoding/dest").toString(), folder + QDir::separator());

    // The next opening starts from the stored choices and empty boxes.
    EncodeDialog again(f.settings, f.services.make());
    QVERIFY(child<QRadioButton>(&again, "optLayer1")->isChecked());
    QVERIFY(child<QCheckBox>(&again, "chkTimeStamp")->isChecked());
    QCOMPARE(child<QSlider>(&again, "sldGain")->value(), 15);
    QCOMPARE(child<QLineEdit>(&again, "txtInFile")->text(), QString());
    QCOMPARE(child<QLineEdit>(&again, "txtPayload")->text(), QString());
}

void DialogTests::storedGainAndLayerOpen_data() {
    QTest::addColumn<QString>("gain");
    QTest::addColumn<QString>("layer");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("resetEnabled");
    QTest::addColumn<bool>("publicChecked");
    QTest::newRow("0.7, private") << "0.7"
                                  << "private" << 7 << "0.7" << true << false;
    QTest::newRow("1.0, public") << "1.0"
                                 << "public" << 10 << "1.0" << false << true;
    QTest::newRow("out of range, unknown layer") << "9.5"
                                                 << "secret" << 10 << "1.0" << false << false;
}

void DialogTests::storedGainAndLayerOpen() {
    Fixture f;
    QFETCH(QString, gain);
    QFETCH(QString, layer);
    f.settings.setValue("encoding/gain", gain);
    f.settings.setValue("encoding/layer", layer);
    EncodeDialog dialog(f.settings, f.services.make());
    auto* slider = child<QSlider>(&dialog, "sldGain");
    auto* reset = child<QPushButton>(&dialog, "butDefaultGain");
    QTEST(slider->value(), "slider");
    QTEST(child<QLabel>(&dialog, "lblGainval")->text(), "shown");
    QTEST(reset->isEnabled(), "resetEnabled");
    QTEST(child<QRadioButton>(&dialog, "optLayer0")->isChecked(), "publicChecked");

    slider->setValue(24);
    QVERIFY(reset->isEnabled());
    reset->click();
    QCOMPARE(slider->value(), 10);
    QCOMPARE(child<QLabel>(&dialog, "lblGainval")->text(), QString("1.0"));
    QVERIFY(!reset->isEnabled());
}

void DialogTests::browseUsesStoredDestAndIgnoresMissingFiles() {
    Fixture f;
    const QString original = f.file("song.wav");
    QVERIFY(touchFile(original));
    const QString dest = f.file("out") + QDir::separator();
    f.settings.setValue("encoding/dest", f.file("out")); // stored without its separator
    f.services.nextFiles = {original, QString(), f.file("missing.wav")};
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* browse = child<QPushButton>(&dialog, "butBrowseIn");
    auto* inFile = child<QLineEdit>(&dialog, "txtInFile");
    auto* outFile = child<QLineEdit>(&dialog, "txtOutFile");

    browse->click();
    QCOMPARE(outFile->text(), dest + "song-e.wav");

    // A cancelled file dialog keeps the name it gave before.
    browse->click();
    QCOMPARE(inFile->text(), original);
    QVERIFY(outFile->isEnabled());

    // A file that does not exist changes nothing, and the output box stays disabled.
    browse->click();
    QCOMPARE(inFile->text(), original);
    QVERIFY(!outFile->isEnabled());
    QVERIFY(!child<QPushButton>(&dialog, "butBrowseOut")->isEnabled());
}

void DialogTests::changeChoosesAnotherOutputFile() {
    Fixture f;
    const QString original = f.file("song.wav");
    QVERIFY(touchFile(original));
    QVERIFY(QDir(f.dir.path()).mkdir("elsewhere"));
    const QString chosen = nativePath(f.dir.filePath("elsewhere/marked.wav"));
    f.services.nextFiles = {original, chosen, QString()};
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    child<QPushButton>(&dialog, "butBrowseIn")->click();
    auto* change = child<QPushButton>(&dialog, "butBrowseOut");
    change->click();
    const vekmrk::FileRequest& save = f.services.requests.at(1);
    QCOMPARE(save.title, QString("Watermarked Audio File Creation"));
    QCOMPARE(save.proposedName, f.file("song-e.wav"));
    QCOMPARE(child<QLineEdit>(&dialog, "txtOutFile")->text(), chosen);

    change->click(); // cancelled: the name stays
    QCOMPARE(child<QLineEdit>(&dialog, "txtOutFile")->text(), chosen);
    QCOMPARE(f.services.requests.at(2).folder,
             nativePath(f.dir.filePath("elsewhere")) + QDir::separator());
}

void DialogTests::dropOnEncodeFrame() {
    Fixture f;
    const QString original = f.file("dropped.wav");
    QVERIFY(touchFile(original));
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    QWidget* frame = child<QWidget>(&dialog, "frameSrc");
    auto* inFile = child<QLineEdit>(&dialog, "txtInFile");

    dropUrls(frame, {QUrl("https://example.org/remote.wav")});
    QCOMPARE(inFile->text(), QString());

    dropUrls(frame, {QUrl::fromLocalFile(original), QUrl::fromLocalFile(f.file("second.wav"))});
    QCOMPARE(inFile->text(), original);
    QCOMPARE(child<QLineEdit>(&dialog, "txtOutFile")->text(), f.file("dropped-e.wav"));
    QVERIFY(child<QLineEdit>(&dialog, "txtOutFile")->isEnabled());
}

void DialogTests::dropOnPathBoxSetsThePath() {
    Fixture f;
    const QString original = f.file("dropped.wav");
    QVERIFY(touchFile(original));
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* inFile = child<QLineEdit>(&dialog, "txtInFile");
    dropUrls(inFile, {QUrl::fromLocalFile(original)});
    QCOMPARE(inFile->text(), original);
    QCOMPARE(child<QLineEdit>(&dialog, "txtOutFile")->text(), f.file("dropped-e.wav"));
}

void DialogTests::typedPathsProposeAndEnableOk() {
    Fixture f;
    const QString original = f.file("typed.wav");
    QVERIFY(touchFile(original));
    EncodeDialog encode(f.settings, f.services.make());
    encode.show();
    auto* ok = child<QPushButton>(&encode, "butOK");
    QCOMPARE(ok->toolTip(), QString("Choose, drop or type the WAVE file to encode."));
    QTest::keyClicks(child<QLineEdit>(&encode, "txtInFile"), original);
    QCOMPARE(child<QLineEdit>(&encode, "txtOutFile")->text(), f.file("typed-e.wav"));
    QCOMPARE(ok->toolTip(), QString("Type the payload in hexadecimal digits (0-9, A-F)."));
    QTest::keyClicks(child<QLineEdit>(&encode, "txtPayload"), "AB");
    QVERIFY(ok->isEnabled());

    DecodeDialog decode(f.settings, f.services.make());
    decode.show();
    QTest::keyClicks(child<QLineEdit>(&decode, "txtInFile"), original);
    QVERIFY(child<QPushButton>(&decode, "butOK")->isEnabled());
}

void DialogTests::overwriteQuestion() {
    Fixture f;
    const QString original = f.file("song.wav");
    QVERIFY(touchFile(original));
    QVERIFY(touchFile(f.file("song-e.wav")));
    f.services.nextFiles = {original};
    f.services.answerYes = false;
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    child<QPushButton>(&dialog, "butBrowseIn")->click();
    QTest::keyClicks(child<QLineEdit>(&dialog, "txtPayload"), "FF");
    auto* ok = child<QPushButton>(&dialog, "butOK");

    ok->click();
    QCOMPARE(f.services.questions, 1);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.jobOptions(), QString());
    QCOMPARE(child<QLineEdit>(&dialog, "txtPayload")->text(), QString("FF"));
    QVERIFY(!f.settings.contains("encoding/gain"));

    f.services.answerYes = true;
    ok->click();
    QCOMPARE(f.services.questions, 2);
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.jobOptions().endsWith(" FF \"" + f.file("song-e.wav") + "\""));
}

void DialogTests::cancelLeavesNoJob() {
    Fixture f;
    const QString original = f.chooseNext("song.wav");
    QVERIFY(!original.isEmpty());
    EncodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    child<QPushButton>(&dialog, "butBrowseIn")->click();
    QTest::keyClicks(child<QLineEdit>(&dialog, "txtPayload"), "FF");
    child<QPushButton>(&dialog, "butCancel")->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.jobOptions(), QString());
    QVERIFY(!f.settings.contains("encoding/orig"));
}

void DialogTests::decodeFirstOpening() {
    Fixture f;
    f.services.nextFiles = {f.file("marked.wav")};
    DecodeDialog dialog(f.settings, f.services.make());
    dialog.show();
    auto* code = child<QLineEdit>(&dialog, "txtLayerCode");
    auto* ok = child<QPushButton>(&dialog, "butOK");
    QVERIFY(child<QRadioButton>(&dialog, "optLayer0")->isChecked());
    QCOMPARE(code->text(), QString());
    QVERIFY(!code->isEnabled());
    QVERIFY(!ok->isEnabled());

    child<QPushButton>(&dialog, "butBrowseIn")->click();
    QCOMPARE(f.services.requests.first().title, QString("Watermarked Audio File Selection"));
    QVERIFY(ok->isEnabled());
    ok->click();
    QCOMPARE(dialog.jobOptions(), " -layer public \"" + f.file("marked.wav") + "\"");
    QCOMPARE(f.settings.value("decoding/src").toString(), nativePath(f.dir.path()));

    // The speed search is remembered and reaches the decoder's command line.
    DecodeDialog again(f.settings, f.services.make());
    auto* speed = child<QCheckBox>(&again, "chkSpeed");
    QVERIFY(!speed->isChecked());
    QVERIFY(speed->text().contains("1 %"));
    speed->click();
    f.services.nextFiles = {f.file("marked.wav")};
    child<QPushButton>(&again, "butBrowseIn")->click();
    child<QPushButton>(&again, "butOK")->click();
    QVERIFY(again.jobOptions().startsWith(" -speed 1 -layer public "));
    DecodeDialog third(f.settings, f.services.make());
    QVERIFY(child<QCheckBox>(&third, "chkSpeed")->isChecked());
}

void DialogTests::decodeLayerCodeRules() {
    Fixture f;
    const QString input = f.file("marked.wav");
    {
        DecodeDialog dialog(f.settings, f.services.make());
        dialog.show();
        auto* code = child<QLineEdit>(&dialog, "txtLayerCode");
        auto* ok = child<QPushButton>(&dialog, "butOK");
        dropUrls(child<QWidget>(&dialog, "frameSrc"), {QUrl::fromLocalFile(input)});
        QCOMPARE(child<QLineEdit>(&dialog, "txtInFile")->text(), input);
        QVERIFY(ok->isEnabled());

        QTest::mouseClick(child<QRadioButton>(&dialog, "optLayer2"), Qt::LeftButton);
        QVERIFY(code->isEnabled());
        QVERIFY(!ok->isEnabled()); // an empty code is no layer
        QTest::keyClicks(code, "Acme Records");
        QVERIFY(ok->isEnabled());

        // The code survives a trip to another option and back.
        QTest::mouseClick(child<QRadioButton>(&dialog, "optLayer1"), Qt::LeftButton);
        QVERIFY(!code->isEnabled());
        QTest::mouseClick(child<QRadioButton>(&dialog, "optLayer2"), Qt::LeftButton);
        QCOMPARE(code->text(), QString("Acme Records"));
        ok->click();
        QCOMPARE(dialog.jobOptions(), " -layer Acme Records \"" + input + "\"");
    }
    QCOMPARE(f.settings.value("decoding/layer").toString(), QString("Acme Records"));
    QCOMPARE(f.settings.value("decoding/otherlayer").toString(), QString("Acme Records"));
    {
        DecodeDialog dialog(f.settings, f.services.make());
        QVERIFY(child<QRadioButton>(&dialog, "optLayer2")->isChecked());
        auto* code = child<QLineEdit>(&dialog, "txtLayerCode");
        QVERIFY(code->isEnabled());
        QCOMPARE(code->text(), QString("Acme Records"));

        // A code typed as "private" reads as the user's own layer next time.
        code->setText("private");
        dropUrls(child<QWidget>(&dialog, "frameSrc"), {QUrl::fromLocalFile(input)});
        child<QPushButton>(&dialog, "butOK")->click();
    }
    DecodeDialog last(f.settings, f.services.make());
    QVERIFY(child<QRadioButton>(&last, "optLayer1")->isChecked());
    QCOMPARE(child<QLineEdit>(&last, "txtLayerCode")->text(), QString("private"));
    QVERIFY(!child<QLineEdit>(&last, "txtLayerCode")->isEnabled());
    QCOMPARE(f.settings.value("encoding/layer", "absent").toString(), QString("absent"));
}

void DialogTests::darkThemeKeepsTextReadable() {
    const QPalette saved = QApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    QApplication::setPalette(dark);
    Fixture f;
    EncodeDialog encode(f.settings, f.services.make());
    auto* label = child<QLabel>(&encode, "lblPayloadLimit");
    QApplication::setPalette(saved);
    QCOMPARE(encode.palette().color(QPalette::Window), QColor(0x20, 0x20, 0x20));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0xee, 0xee, 0xee));
}
