#include "testsupport.h"

#include "dialogdriver.h"
#include "imagecodecdlg.h"
#include "mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>

class MainWindowTest : public QObject
{
    Q_OBJECT

    static void press(QDialog& dialog, QDialogButtonBox::StandardButton which)
    {
        QDialogButtonBox* box = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(box);
        QTest::mouseClick(box->button(which), Qt::LeftButton);
    }

    static QCheckBox* sizeBox(QDialog& dialog, const QString& text)
    {
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
            if (box->text() == text)
                return box;
        }
        return nullptr;
    }

    static QLabel* labelWithToolTip(QDialog& dialog)
    {
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->toolTip().isEmpty())
                return label;
        }
        return nullptr;
    }

private slots:
    void iconSizes()
    {
        ConvertSettings settings;
        QCOMPARE(settings.ICODim, 32);
        {
            ICODlg dialog(&settings, nullptr);
            QCOMPARE(dialog.windowTitle(), QString("ICO Settings"));
            QCOMPARE(dialog.findChildren<QCheckBox*>().size(), 6);
            for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
                QCOMPARE(box->isChecked(), box->text() == "256 x 256");
            sizeBox(dialog, "16 x 16")->setChecked(true);
            dialog.show();
            press(dialog, QDialogButtonBox::Ok);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(settings.ICODim, 33);

        // No size at all: refused with a message, the dialog stays, nothing changes.
        ICODlg dialog(&settings, nullptr);
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            box->setChecked(false);
        dialog.show();
        QString message;
        KorvaneTest::AnswerNextModal<QMessageBox>([&message](QMessageBox* box) {
            message = box->windowTitle() + "|" + box->text();
            box->accept();
        });
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(message, QString("ICO Settings|Invalid dimension(s)."));
        QVERIFY(dialog.isVisible());
        QCOMPARE(settings.ICODim, 33);
        sizeBox(dialog, "48 x 48")->setChecked(true);
        sizeBox(dialog, "128 x 128")->setChecked(true);
        press(dialog, QDialogButtonBox::Ok);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(settings.ICODim, 4 | 16);
    }

    void jpegQuality()
    {
        ConvertSettings settings;
        settings.JPEGCmpsnQuality = 250;        // out of range in the store
        JPEGDlg dialog(&settings, nullptr);
        QSlider* slider = dialog.findChild<QSlider*>();
        QCOMPARE(slider->maximum(), 100);
        QCOMPARE(slider->value(), 100);
        QCOMPARE(labelWithToolTip(dialog)->text(), QString("100"));
        slider->setValue(42);
        QCOMPARE(labelWithToolTip(dialog)->text(), QString("42"));
        QCOMPARE(settings.JPEGCmpsnQuality, 250);
        dialog.show();
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(settings.JPEGCmpsnQuality, 42);
    }

    void losslessOrLossy()
    {
        ConvertSettings settings;
        settings.J2000LlCmpsn = true;
        settings.J2000CmpsnRate = 1;            // below the slider's range
        JPEG2000Dlg dialog(&settings, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("JPEG2000 Settings"));
        QComboBox* type = dialog.findChild<QComboBox*>();
        QSlider* slider = dialog.findChild<QSlider*>();
        QCOMPARE(type->currentText(), QString("Lossless Compression"));
        QVERIFY(!slider->isEnabled());
        QCOMPARE(slider->value(), 2);
        QCOMPARE(labelWithToolTip(dialog)->text(), QString("2"));
        QVERIFY(slider->toolTip().startsWith("The smaller the value"));
        type->setCurrentIndex(1);
        QVERIFY(slider->isEnabled());
        QVERIFY(labelWithToolTip(dialog)->isEnabled());
        slider->setValue(20);
        dialog.show();
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(settings.J2000LlCmpsn, false);
        QCOMPARE(settings.J2000CmpsnRate, 20);

        settings.JPEGXRCmpsnQuality = 100;
        JPEGXRDlg xr(&settings, nullptr);
        QCOMPARE(xr.findChild<QSlider*>()->maximum(), 99);
        QCOMPARE(xr.findChild<QSlider*>()->value(), 99);
        QCOMPARE(xr.findChild<QComboBox*>()->currentIndex(), 1);   // JPEG XR lossless is off by default
        xr.show();
        press(xr, QDialogButtonBox::Ok);
        QCOMPARE(settings.JPEGXRCmpsnQuality, 99);

        WEBPDlg webp(&settings, nullptr);
        QCOMPARE(webp.windowTitle(), QString("WebP Settings"));
        QCOMPARE(webp.findChild<QSlider*>()->maximum(), 100);
        webp.findChild<QComboBox*>()->setCurrentIndex(0);
        webp.findChild<QSlider*>()->setValue(55);  // moved while lossless: still stored
        webp.show();
        press(webp, QDialogButtonBox::Ok);
        QCOMPARE(settings.WEBPLlCmpsn, true);
        QCOMPARE(settings.WEBPCmpsnQuality, 55);
    }

    void pdfPageLayout()
    {
        ConvertSettings settings;
        settings.PageSize = 7;                  // not a size the dialog offers
        PDFDlg dialog(&settings, nullptr);
        QList<QComboBox*> combos = dialog.findChildren<QComboBox*>();
        QCOMPARE(combos.size(), 3);
        QComboBox* size = combos.at(0);
        QCOMPARE(size->currentText(), QString("A4"));
        size->setCurrentIndex(size->findText("Letter"));
        combos.at(1)->setCurrentIndex(combos.at(1)->findText("Landscape"));
        combos.at(2)->setCurrentIndex(combos.at(2)->findText("Top Left"));
        dialog.show();
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(settings.PageSize, 2);
        QCOMPARE(settings.PageOri, 1);
        QCOMPARE(settings.Align, 1);

        PDFDlg again(&settings, nullptr);
        combos = again.findChildren<QComboBox*>();
        QCOMPARE(combos.at(0)->currentText(), QString("Letter"));
        combos.at(0)->setCurrentIndex(combos.at(0)->findText("Legal"));
        again.show();
        press(again, QDialogButtonBox::Ok);
        QCOMPARE(settings.PageSize, 3);
    }

    void cancelLeavesTheOptions()
    {
        ConvertSettings settings;
        WEBPDlg dialog(&settings, nullptr);
        dialog.findChild<QSlider*>()->setValue(10);
        dialog.findChild<QComboBox*>()->setCurrentIndex(0);
        dialog.show();
        press(dialog, QDialogButtonBox::Cancel);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(settings.WEBPCmpsnQuality, 100);
        QCOMPARE(settings.WEBPLlCmpsn, false);
    }

    // "Format Settings..." opens the dialog of the chosen format, and what it
    // sets is stored when the window goes.
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
        QCOMPARE(store.value("CSettings/WEBPLlCmpsn").toBool(), true);
        QCOMPARE(store.value("CSettings/AVIFLlCmpsn").toBool(), true);
        QCOMPARE(store.value("CSettings/JXLLlCmpsn").toBool(), false);
        QCOMPARE(store.value("CSettings/HEIFCmpsnQuality").toInt(), 63);
        QCOMPARE(store.value("CSettings/JXLCmpsnQuality").toInt(), 63);
        QCOMPARE(store.value("CSettings/TgtFormat").toString(), QString(".jxl"));
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_imagecodecdlg.moc"
