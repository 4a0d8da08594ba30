// The dialogs around a conversion: the format options (alone and opened from the main window), the results report
// and the preferences.
#include "testsupport.h"

#include "convertdlgs.h"
#include "dialogdriver.h"
#include "imagecodecdlg.h"
#include "mainwindow.h"

class MainWindowTest : public QObject
{
    Q_OBJECT

    KorvaneTest::UrlRecorder recorder;

    static QVariant stored(const QString& key)
    {
        const QVariant value = QSettings("Pelmora", "Korvane").value(QStringLiteral("Settings/") + key);
        return value.isValid() ? QVariant(value.toBool()) : QVariant();
    }

    static void store(const QString& key, bool value)
    {
        QSettings("Pelmora", "Korvane").setValue(QStringLiteral("Settings/") + key, value);
    }

    // The push button showing the text.
    static QPushButton* button(QWidget* pDialog, const QString& text)
    {
        for (QPushButton* pButton : pDialog->findChildren<QPushButton*>())
            if (pButton->text() == text)
                return pButton;
        return nullptr;
    }
    static void press(QDialog& dialog, QDialogButtonBox::StandardButton which) { QTest::mouseClick(standardButton(&dialog, which), Qt::LeftButton); }

    static QLabel* labelWithToolTip(QDialog& dialog)
    {
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->toolTip().isEmpty())
                return label;
        return nullptr;
    }

    static QPushButton* standardButton(QWidget* pDialog, QDialogButtonBox::StandardButton which)
    {
        QDialogButtonBox* pBox = pDialog->findChild<QDialogButtonBox*>();
        return pBox ? pBox->button(which) : nullptr;
    }

    // Ticks or unticks a check box with a click on its indicator.
    static void clickCheckBox(QCheckBox* pBox)
    {
        QStyleOptionButton option;
        option.initFrom(pBox);
        const QRect indicator = pBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, pBox);
        QTest::mouseClick(pBox, Qt::LeftButton, Qt::NoModifier, indicator.center());
    }

    // Ends the dialog the way the user would: "click:<button text>", "ok" or "cancel" (the standard buttons),
    // "escape" or "close" (the title bar's close button).
    static void finish(QDialog* pDialog, const QString& how)
    {
        QPushButton* pButton = how.startsWith("click:") ? button(pDialog, how.mid(6))
                               : how == "ok"            ? standardButton(pDialog, QDialogButtonBox::Ok)
                               : how == "cancel"        ? standardButton(pDialog, QDialogButtonBox::Cancel)
                                                        : nullptr;
        if (pButton) {
            QTest::mouseClick(pButton, Qt::LeftButton);
        } else if (how == QStringLiteral("escape")) {
            pDialog->activateWindow();
            if (QTest::qWaitForWindowActive(pDialog))
                QTest::keyClick(pDialog, Qt::Key_Escape);
        } else if (how == QStringLiteral("close")) {
            pDialog->close();
        }
    }

    // Runs the dialog modally; `answer` acts on it from inside its loop. A dialog left open by a failed step ends
    // with -1 after five seconds.
    template <typename Answer>
    static int run(QDialog& dialog, Answer answer)
    {
        QTimer::singleShot(0, &dialog, [&dialog, answer] {
            if (QApplication::activeModalWidget() == &dialog)
                answer(&dialog);
        });
        QTimer::singleShot(5000, &dialog, [&dialog] {
            if (dialog.isVisible())
                dialog.done(-1);
        });
        return dialog.exec();
    }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler("file", &recorder, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
    }

    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        recorder.opened.clear();
    }

    void resultsStoreChoice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<bool>("sameAsSource");     // no one folder to open
        QTest::newRow("Open Target, same as source") << "click:Open Target" << false << int(QDialog::Accepted) << false << true;
        for (bool tick : {false, true}) {
            const char* suffix = tick ? " ticked" : " unticked";
            QTest::newRow(qPrintable("Open Target" + QString(suffix)))
                << "click:Open Target" << tick << int(QDialog::Accepted) << true << false;
            QTest::newRow(qPrintable("OK" + QString(suffix))) << "click:OK" << tick << int(QDialog::Rejected) << false << false;
            QTest::newRow(qPrintable("Escape" + QString(suffix))) << "escape" << tick << int(QDialog::Rejected) << false << false;
            QTest::newRow(qPrintable("close" + QString(suffix))) << "close" << tick << int(QDialog::Rejected) << false << false;
        }
    }

    void resultsStoreChoice()
    {
        QFETCH(QString, how);
        QFETCH(bool, tick);
        QFETCH(int, result);
        QFETCH(bool, opens);
        QFETCH(bool, sameAsSource);
        // "Open Target" is offered when a file succeeded; the box starts unticked.
        const int none[4] = {12, 0, 0, 12};
        ConvertResultsDlg nothing(none, QDir::tempPath(), nullptr);
        QVERIFY(!button(&nothing, "Open Target")->isEnabled() && !nothing.findChild<QCheckBox*>()->isChecked());
        // The stored value starts opposite to what the dialog must write.
        store("ReportCResults", tick);
        QTemporaryDir target(QDir::tempPath() + QStringLiteral("/korvane results #1-XXXXXX"));
        QVERIFY(target.isValid());
        const QString folder = sameAsSource ? QStringLiteral("Same as source file") : target.path();
        const int counts[4] = {2, 1, 0, 1};
        ConvertResultsDlg dialog(counts, folder, nullptr);
        const int code = run(dialog, [&](QDialog* pDialog) {
            if (tick)
                clickCheckBox(pDialog->findChild<QCheckBox*>());
            finish(pDialog, how);
        });
        QCOMPARE(code, result);
        QCOMPARE(stored("ReportCResults"), QVariant(!tick));
        QCOMPARE(recorder.opened, opens ? QList<QUrl>{QUrl::fromLocalFile(folder)} : QList<QUrl>());
    }

    void preferencesSave_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saves");
        for (const char* how : {"ok", "cancel", "close"})
            QTest::newRow(how) << how << (QString(how) == "ok");
    }

    void preferencesSave()
    {
        QFETCH(QString, how);
        QFETCH(bool, saves);
        // Nothing stored means a report is on; a ticked box is a report switched off.
        store("ReportCrash", true);
        store("ReportCResults", false);
        SettingsDlg dialog(nullptr);
        const int code = run(dialog, [&](QDialog* pDialog) {
            QTabWidget* pTabs = pDialog->findChild<QTabWidget*>();
            QCOMPARE(pTabs->count(), 3);
            for (int i = 0; i < pTabs->count(); ++i) {
                QCOMPARE(pTabs->widget(i)->findChild<QCheckBox*>()->isChecked(), i == 2);
                pTabs->setCurrentIndex(i);
                clickCheckBox(pTabs->widget(i)->findChild<QCheckBox*>());
            }
            finish(pDialog, how);
        });
        QCOMPARE(code, saves ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(QVariantList({stored("ReportCrash"), stored("RemindESettings"), stored("ReportCResults")}),
                 QVariantList({!saves, saves ? QVariant(false) : QVariant(), saves}));
    }

    // A stored value out of the slider's range is shown in range; the label follows the slider; OK stores, Cancel
    // leaves the options.
    void qualityAndLossless()
    {
        ConvertSettings settings;
        settings.JPEGCmpsnQuality = 250;
        JPEGDlg jpeg(&settings, nullptr);
        QCOMPARE(jpeg.findChild<QSlider*>()->value(), 100);
        jpeg.findChild<QSlider*>()->setValue(42);
        QCOMPARE(labelWithToolTip(jpeg)->text(), QString("42"));
        QCOMPARE(settings.JPEGCmpsnQuality, 250);
        jpeg.show();
        press(jpeg, QDialogButtonBox::Ok);
        QCOMPARE(settings.JPEGCmpsnQuality, 42);
        settings.J2000LlCmpsn = true;
        settings.J2000CmpsnRate = 1;            // below the slider's range
        JPEG2000Dlg dialog(&settings, nullptr);
        QSlider* slider = dialog.findChild<QSlider*>();
        QCOMPARE(dialog.findChild<QComboBox*>()->currentText(), QString("Lossless Compression"));
        QVERIFY(!slider->isEnabled());
        QCOMPARE(labelWithToolTip(dialog)->text(), QString("2"));
        dialog.findChild<QComboBox*>()->setCurrentIndex(1);
        QVERIFY(slider->isEnabled() && labelWithToolTip(dialog)->isEnabled());
        slider->setValue(20);
        dialog.show();
        press(dialog, QDialogButtonBox::Ok);
        QVERIFY(!settings.J2000LlCmpsn && settings.J2000CmpsnRate == 20);
        settings.JPEGXRCmpsnQuality = 100;
        JPEGXRDlg xr(&settings, nullptr);
        QCOMPARE(xr.findChild<QSlider*>()->value(), 99);
        QCOMPARE(xr.findChild<QComboBox*>()->currentIndex(), 1);   // JPEG XR lossless is off by default
        xr.show();
        press(xr, QDialogButtonBox::Ok);
        QCOMPARE(settings.JPEGXRCmpsnQuality, 99);
        for (bool confirm : {false, true}) {
            WEBPDlg webp(&settings, nullptr);
            webp.findChild<QComboBox*>()->setCurrentIndex(0);
            webp.findChild<QSlider*>()->setValue(55);  // moved while lossless: still stored
            webp.show();
            press(webp, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
            QCOMPARE(settings.WEBPLlCmpsn, confirm);
            QCOMPARE(settings.WEBPCmpsnQuality, confirm ? 55 : 100);
        }
    }

    // "Format Settings..." opens the dialog of the chosen format, and what it sets is stored when the window goes.
    void formatSettingsButtonOpensTheMatchingDialog()
    {
        QSettings("Pelmora", "Korvane").clear();
        {
            MainWindow window;
            window.show();
            const QList<QPair<QString, QString>> formats = {
                {"ICO (.ico)", "ICO Settings"}, {"JPEG (.jpg)", "JPEG Settings"},
                {"JPEG2000 (.jp2)", "JPEG2000 Settings"}, {"JPEG XR (.jxr)", "JPEG XR Settings"},
                {"PDF (.pdf)", "PDF Settings"}, {"WEBP (.webp)", "WebP Settings"},
                {"HEIF (.heic)", "HEIF Settings"}, {"AVIF (.avif)", "AVIF Settings"},
                {"JPEG XL (.jxl)", "JPEG XL Settings"}};
            for (const auto& format : formats) {
                window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText(format.first));
                QVERIFY(window.pTgtFmtSettingsBtn->isEnabled());
                QString title;
                KorvaneTest::AnswerNextModal<ImageCodecDlg>([&title](ImageCodecDlg* dialog) {
                    title = dialog->windowTitle();
                    QComboBox* type = dialog->findChild<QComboBox*>();
                    if (dialog->windowTitle() == "WebP Settings" || dialog->windowTitle() == "AVIF Settings")
                        type->setCurrentIndex(0);
                    if (dialog->windowTitle() == "HEIF Settings" || dialog->windowTitle() == "JPEG XL Settings")
                        dialog->findChild<QSlider*>()->setValue(63);
                    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                                      Qt::LeftButton);
                });
                QTest::mouseClick(window.pTgtFmtSettingsBtn, Qt::LeftButton);
                QCOMPARE(title, format.second);
            }
            QVERIFY(window.convertSettings.WEBPLlCmpsn);
        }
        const QSettings store("Pelmora", "Korvane");
        QStringList stored;
        for (const char* key : {"WEBPLlCmpsn", "AVIFLlCmpsn", "JXLLlCmpsn", "HEIFCmpsnQuality", "JXLCmpsnQuality", "TgtFormat"})
            stored << store.value(QString("CSettings/") + key).toString();
        QCOMPARE(stored, QStringList({"true", "true", "false", "63", "63", ".jxl"}));
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_convertdlgs.moc"
