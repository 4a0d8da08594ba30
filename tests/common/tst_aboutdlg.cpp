// The about box: its logo, its link, and the credits dialog it opens.
#include "testsupport.h"

#include "app/dialogdriver.h"
#include "gen/plugins.h"
#include "gui/aboutdlg.h"

class AboutDlgTest : public QObject
{
    Q_OBJECT

    KorvaneTest::UrlRecorder recorder;

    static QPushButton* okButton(QWidget* pDialog)
    {
        QDialogButtonBox* pBox = pDialog->findChild<QDialogButtonBox*>();
        return pBox ? pBox->button(QDialogButtonBox::Ok) : nullptr;
    }

    static QScrollBar* creditsScrollBar(PLMAboutCreditsDlg& credits, Qt::Orientation orientation)
    {
        credits.show();
        QScrollArea* pArea = QTest::qWaitForWindowExposed(&credits) ? credits.findChild<QScrollArea*>() : nullptr;
        return !pArea ? nullptr
                      : orientation == Qt::Vertical ? pArea->verticalScrollBar() : pArea->horizontalScrollBar();
    }

private slots:
    void aboutShowsLogoAndOpensLinkInPlace()
    {
        QDesktopServices::setUrlHandler("https", &recorder, "open");
        PLMAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QLabel* pLogo = nullptr;
        QLabel* pLink = nullptr;
        for (QLabel* pLabel : about.findChildren<QLabel*>()) {
            if (!pLabel->pixmap(Qt::ReturnByValue).isNull())
                pLogo = pLabel;
            else if (pLabel->text().contains(QStringLiteral("<a href")))
                pLink = pLabel;
        }
        // The logo is drawn, not a blank picture.
        QVERIFY(pLogo && pLink);
        QVERIFY(pLogo->pixmap(Qt::ReturnByValue).toImage().pixelColor(75, 75).alpha() > 0);
        const QString address = QStringLiteral("https://www.pelmora.com");
        const int iTextWidth = pLink->fontMetrics().horizontalAdvance(address);
        QTest::mouseClick(pLink, Qt::LeftButton, Qt::NoModifier, QPoint(iTextWidth / 2, pLink->height() / 2));
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(recorder.opened, QList<QUrl>() << QUrl(address));
        QVERIFY(about.isVisible());
    }

    // "Credits" opens on top of the about box, which is the modal window
    // again once the credits are closed.
    void creditsOpenOnTopAndReturn()
    {
        PLMAboutDlg about;
        QTimer::singleShot(5000, &about, [&about] { about.done(-1); });
        QPointer<QWidget> pCredits;
        QWidget* pCreditsParent = nullptr;
        QWidget* pModalAfterCredits = nullptr;
        QTimer::singleShot(0, this, [&] {
            KorvaneTest::AnswerNextModal<QDialog>([&](QDialog* pModal) {
                pCredits = pModal;
                pCreditsParent = pModal->parentWidget();
                QTest::mouseClick(okButton(pModal), Qt::LeftButton);
            });
            for (QPushButton* pButton : about.findChildren<QPushButton*>())
                if (pButton->text() == QStringLiteral("Credits"))
                    QTest::mouseClick(pButton, Qt::LeftButton);
            pModalAfterCredits = QApplication::activeModalWidget();
            QTest::mouseClick(okButton(&about), Qt::LeftButton);
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QCOMPARE(pCreditsParent, static_cast<QWidget*>(&about));
        QVERIFY(pCredits.isNull());
        QCOMPARE(pModalAfterCredits, static_cast<QWidget*>(&about));
    }

    // The notices scroll vertically and are wrapped, not cut; a short text fits.
    void creditsShowTextAndScroll()
    {
        PLMInitPlugins();
        {
            PLMAboutCreditsDlg credits;
            QScrollBar* pVertical = creditsScrollBar(credits, Qt::Vertical);
            QVERIFY(pVertical);
            QCOMPARE(credits.findChild<QScrollArea*>()->widget()->findChild<QLabel*>()->text(), PLMCredits());
            QVERIFY(pVertical->maximum() > 0);
            QCOMPARE(creditsScrollBar(credits, Qt::Horizontal)->maximum(), 0);
        }
        ClearCredits();
        AppendCredits(QStringLiteral("<span>Short notice</span>"));
        PLMAboutCreditsDlg shortCredits;
        QScrollBar* pVertical = creditsScrollBar(shortCredits, Qt::Vertical);
        QVERIFY(pVertical);
        QCOMPARE(pVertical->maximum(), 0);
        PLMInitPlugins();
    }
};

KORVANE_TEST_MAIN(AboutDlgTest)
#include "tst_aboutdlg.moc"
