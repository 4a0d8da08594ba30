#include "testsupport.h"

#include "convertdlgs.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QTabWidget>

// Records the addresses a dialog asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class ConvertDlgsTest : public QObject
{
    Q_OBJECT

    UrlRecorder recorder;

    static QVariant stored(const QString& key)
    {
        const QVariant value = QSettings("Pelmora", "Korvane").value(QStringLiteral("Settings/") + key);
        return value.isValid() ? QVariant(value.toBool()) : QVariant();
    }

    static void store(const QString& key, bool value)
    {
        QSettings("Pelmora", "Korvane").setValue(QStringLiteral("Settings/") + key, value);
    }

    static QPushButton* button(QWidget* pDialog, const QString& text)
    {
        for (QPushButton* pButton : pDialog->findChildren<QPushButton*>())
            if (pButton->text() == text)
                return pButton;
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

    // Ends the dialog the way the user would: "click:<button text>", "ok"
    // (the standard OK button), "escape" or "close" (the title bar's close
    // button).
    static void finish(QDialog* pDialog, const QString& how)
    {
        if (how == QStringLiteral("ok")) {
            if (QPushButton* pButton = standardButton(pDialog, QDialogButtonBox::Ok))
                QTest::mouseClick(pButton, Qt::LeftButton);
        } else if (how.startsWith(QStringLiteral("click:"))) {
            QPushButton* pButton = button(pDialog, how.mid(6));
            if (pButton)
                QTest::mouseClick(pButton, Qt::LeftButton);
        } else if (how == QStringLiteral("escape")) {
            pDialog->activateWindow();
            if (QTest::qWaitForWindowActive(pDialog))
                QTest::keyClick(pDialog, Qt::Key_Escape);
        } else if (how == QStringLiteral("close")) {
            pDialog->close();
        }
    }

    // Runs the dialog modally; `answer` acts on it from inside its loop. A
    // dialog left open by a failed step ends with -1 after five seconds.
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

    void resultsReport_data()
    {
        QTest::addColumn<QVector<int>>("counts");
        QTest::addColumn<QString>("countsText");
        QTest::addColumn<bool>("note");
        QTest::addColumn<bool>("canOpen");
        QTest::newRow("two of three") << QVector<int>{3, 2, 1, 0}
                                      << "Selected Files:3\nSucceeded Files:2\nFailed Files:1\nCanceled Files:0"
                                      << true << true;
        QTest::newRow("nothing succeeded") << QVector<int>{12, 0, 0, 12}
                                           << "Selected Files:12\nSucceeded Files:0\nFailed Files:0\nCanceled Files:12"
                                           << false << false;
        QTest::newRow("one failed") << QVector<int>{1, 0, 1, 0}
                                    << "Selected Files:1\nSucceeded Files:0\nFailed Files:1\nCanceled Files:0"
                                    << true << false;
    }

    void resultsReport()
    {
        QFETCH(QVector<int>, counts);
        QFETCH(QString, countsText);
        QFETCH(bool, note);
        QFETCH(bool, canOpen);

        const QString folder = QDir::tempPath();
        ConvertResultsDlg dialog(counts.constData(), folder, nullptr);
        QStringList texts;
        for (QLabel* pLabel : dialog.findChildren<QLabel*>())
            texts << pLabel->text();
        QStringList expected{countsText};
        if (note)
            expected << "Note: Files failed in a batch conversion on a computer with multi-core processer\n"
                        "may succeed if they are converted separately.";
        QCOMPARE(texts, expected);

        QCheckBox* pNotShow = dialog.findChild<QCheckBox*>();
        QVERIFY(pNotShow);
        QCOMPARE(pNotShow->text(), QStringLiteral("Do not show again"));
        QVERIFY(!pNotShow->isChecked());

        QDialogButtonBox* pBox = dialog.findChild<QDialogButtonBox*>();
        QPushButton* pOpen = button(&dialog, QStringLiteral("Open Target"));
        QPushButton* pOk = button(&dialog, QStringLiteral("OK"));
        QVERIFY(pOpen && pOk);
        QCOMPARE(pBox->buttonRole(pOpen), QDialogButtonBox::AcceptRole);
        QCOMPARE(pBox->buttonRole(pOk), QDialogButtonBox::RejectRole);
        QCOMPARE(pOpen->isEnabled(), canOpen);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Convert Results"));
    }

    void resultsStoreChoice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("opens");
        for (bool tick : {false, true}) {
            const char* suffix = tick ? " ticked" : " unticked";
            QTest::newRow(qPrintable("Open Target" + QString(suffix)))
                << "click:Open Target" << tick << int(QDialog::Accepted) << true;
            QTest::newRow(qPrintable("OK" + QString(suffix))) << "click:OK" << tick << int(QDialog::Rejected) << false;
            QTest::newRow(qPrintable("Escape" + QString(suffix))) << "escape" << tick << int(QDialog::Rejected) << false;
            QTest::newRow(qPrintable("close" + QString(suffix))) << "close" << tick << int(QDialog::Rejected) << false;
        }
    }

    void resultsStoreChoice()
    {
        QFETCH(QString, how);
        QFETCH(bool, tick);
        QFETCH(int, result);
        QFETCH(bool, opens);

        // The stored value starts opposite to what the dialog must write.
        store("ReportCResults", tick);
        QTemporaryDir target(QDir::tempPath() + QStringLiteral("/korvane results #1-XXXXXX"));
        QVERIFY(target.isValid());
        const QString folder = target.path();
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

    void resultsOpenTargetWithoutFolder()
    {
        const QString folder = QStringLiteral("Same as source file");
        const int counts[4] = {2, 2, 0, 0};
        ConvertResultsDlg dialog(counts, folder, nullptr);
        const int code = run(dialog, [](QDialog* pDialog) { finish(pDialog, "click:Open Target"); });
        QCOMPARE(code, int(QDialog::Accepted));
        QVERIFY(recorder.opened.isEmpty());
        QCOMPARE(stored("ReportCResults"), QVariant(true));
    }

    void crashReport_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("OK unticked") << "ok" << false << QVariant(true);
        QTest::newRow("OK ticked") << "ok" << true << QVariant(false);
        QTest::newRow("close ticked") << "close" << true << QVariant();
        QTest::newRow("Escape ticked") << "escape" << true << QVariant();
    }

    void crashReport()
    {
        QFETCH(QString, how);
        QFETCH(bool, tick);
        QFETCH(QVariant, expected);

        ConvertCrashDlg dialog;
        QCOMPARE(dialog.findChild<QLabel*>()->text(),
                 QStringLiteral("Korvane Image Converter did not shut down correctly.\n"
                                "Note: Files failed in a batch conversion on a computer with multi-core processer\n"
                                "may succeed if they are converted separately."));
        const int code = run(dialog, [&](QDialog* pDialog) {
            if (tick)
                clickCheckBox(pDialog->findChild<QCheckBox*>());
            finish(pDialog, how);
        });
        // Any way out but OK leaves the report armed for the next time.
        QCOMPARE(code, expected.isValid() ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(stored("ReportCrash"), expected);
    }

    void preferencesLoad()
    {
        {
            SettingsDlg dialog(nullptr);
            QTabWidget* pTabs = dialog.findChild<QTabWidget*>();
            QVERIFY(pTabs);
            QCOMPARE(pTabs->count(), 3);
            const QStringList tabs{"Startup", "Edit", "Convert"};
            const QStringList boxes{"Do not show crash report after startup", "Do not show reminds after editing",
                                    "Do not show convert results after conversion"};
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(pTabs->tabText(i), tabs.at(i));
                QCheckBox* pBox = pTabs->widget(i)->findChild<QCheckBox*>();
                QVERIFY(pBox);
                QCOMPARE(pBox->text(), boxes.at(i));
                // Nothing stored means every report is on.
                QVERIFY(!pBox->isChecked());
            }
        }
        store("ReportCrash", false);
        store("RemindESettings", true);
        store("ReportCResults", false);
        SettingsDlg dialog(nullptr);
        QTabWidget* pTabs = dialog.findChild<QTabWidget*>();
        QVERIFY(pTabs->widget(0)->findChild<QCheckBox*>()->isChecked());
        QVERIFY(!pTabs->widget(1)->findChild<QCheckBox*>()->isChecked());
        QVERIFY(pTabs->widget(2)->findChild<QCheckBox*>()->isChecked());
    }

    void preferencesSave_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saves");
        QTest::newRow("OK") << "ok" << true;
        QTest::newRow("Cancel") << "cancel" << false;
        QTest::newRow("close") << "close" << false;
    }

    void preferencesSave()
    {
        QFETCH(QString, how);
        QFETCH(bool, saves);

        store("ReportCrash", true);
        store("RemindESettings", false);
        store("ReportCResults", true);
        SettingsDlg dialog(nullptr);
        const int code = run(dialog, [&](QDialog* pDialog) {
            QTabWidget* pTabs = pDialog->findChild<QTabWidget*>();
            for (int i = 0; i < pTabs->count(); ++i) {
                pTabs->setCurrentIndex(i);
                clickCheckBox(pTabs->widget(i)->findChild<QCheckBox*>());
            }
            if (how == QStringLiteral("cancel"))
                QTest::mouseClick(standardButton(pDialog, QDialogButtonBox::Cancel), Qt::LeftButton);
            else
                finish(pDialog, how);
        });
        QCOMPARE(code, saves ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(stored("ReportCrash"), QVariant(!saves));
        QCOMPARE(stored("RemindESettings"), QVariant(saves));
        QCOMPARE(stored("ReportCResults"), QVariant(!saves));
    }

    // Switching the results off in the dialog shows in the preferences,
    // and switching it back on there is what the next batch reads.
    void resultsChoiceRoundTripsThroughPreferences()
    {
        const QString folder = QDir::tempPath();
        const int counts[4] = {1, 1, 0, 0};
        ConvertResultsDlg results(counts, folder, nullptr);
        run(results, [](QDialog* pDialog) {
            clickCheckBox(pDialog->findChild<QCheckBox*>());
            finish(pDialog, "click:OK");
        });
        QCOMPARE(stored("ReportCResults"), QVariant(false));

        SettingsDlg preferences(nullptr);
        bool bShownTicked = false;
        const int code = run(preferences, [&](QDialog* pDialog) {
            QTabWidget* pTabs = pDialog->findChild<QTabWidget*>();
            pTabs->setCurrentIndex(2);
            QCheckBox* pBox = pTabs->widget(2)->findChild<QCheckBox*>();
            bShownTicked = pBox->isChecked();
            clickCheckBox(pBox);
            finish(pDialog, "ok");
        });
        QCOMPARE(code, int(QDialog::Accepted));
        QVERIFY(bShownTicked);
        QCOMPARE(stored("ReportCResults"), QVariant(true));
        QCOMPARE(stored("ReportCrash"), QVariant(true));
        QCOMPARE(stored("RemindESettings"), QVariant(true));
    }
};

KORVANE_TEST_MAIN(ConvertDlgsTest)
#include "tst_convertdlgs.moc"
