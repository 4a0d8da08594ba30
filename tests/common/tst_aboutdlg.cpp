#include "testsupport.h"

#include "gen/plugins.h"
#include "gui/aboutdlg.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

// Records the addresses the dialog asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class AboutDlgTest : public QObject
{
    Q_OBJECT

    UrlRecorder recorder;

    static QPushButton* button(QWidget* pDialog, const QString& text)
    {
        for (QPushButton* pButton : pDialog->findChildren<QPushButton*>())
            if (pButton->text() == text)
                return pButton;
        return nullptr;
    }

    static QPushButton* okButton(QWidget* pDialog)
    {
        QDialogButtonBox* pBox = pDialog->findChild<QDialogButtonBox*>();
        return pBox ? pBox->button(QDialogButtonBox::Ok) : nullptr;
    }

    // Ends a dialog that a failed check left open, so exec() returns.
    static void guard(QDialog& dialog)
    {
        QTimer::singleShot(5000, &dialog, [&dialog] {
            if (dialog.isVisible())
                dialog.done(-1);
        });
    }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler("https", &recorder, "open");
        QDesktopServices::setUrlHandler("http", &recorder, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    }

    void aboutShowsLogoAndOpensLinkInPlace()
    {
        recorder.opened.clear();
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
        QVERIFY(pLogo);
        const QImage logo = pLogo->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(logo.size(), QSize(150, 150));
        // The logo is drawn, not a blank picture.
        QVERIFY(logo.pixelColor(75, 75).alpha() > 0);

        QVERIFY(pLink);
        const QString address = QStringLiteral("https://www.pelmora.com");
        const int iTextWidth = pLink->fontMetrics().horizontalAdvance(address);
        QTest::mouseClick(pLink, Qt::LeftButton, Qt::NoModifier, QPoint(iTextWidth / 2, pLink->height() / 2));
        QCOMPARE(recorder.opened, QList<QUrl>() << QUrl(address));
        QVERIFY(about.isVisible());
    }

    void creditsOpenOnTopAndReturn()
    {
        PLMAboutDlg about;
        guard(about);
        QPointer<QWidget> pModalInCredits;
        QPointer<QWidget> pCreditsParent;
        QString sCreditsTitle;
        bool bAboutVisibleUnderCredits = false;
        QWidget* pModalAfterCredits = nullptr;

        QTimer::singleShot(0, this, [&] {
            QPushButton* pCreditsBtn = button(&about, QStringLiteral("Credits"));
            if (!pCreditsBtn) {
                about.done(-2);
                return;
            }
            QTimer::singleShot(0, this, [&] {
                QWidget* pModal = QApplication::activeModalWidget();
                pModalInCredits = pModal;
                if (!pModal)
                    return;
                pCreditsParent = pModal->parentWidget();
                sCreditsTitle = pModal->windowTitle();
                bAboutVisibleUnderCredits = about.isVisible();
                if (QPushButton* pOk = okButton(pModal))
                    QTest::mouseClick(pOk, Qt::LeftButton);
                else
                    static_cast<QDialog*>(pModal)->done(-1);
            });
            QTest::mouseClick(pCreditsBtn, Qt::LeftButton);
            pModalAfterCredits = QApplication::activeModalWidget();
            QPushButton* pOk = okButton(&about);
            if (pOk)
                QTest::mouseClick(pOk, Qt::LeftButton);
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));

        QCOMPARE(sCreditsTitle, QStringLiteral("Credits"));
        QCOMPARE(pCreditsParent.data(), static_cast<QWidget*>(&about));
        QVERIFY(bAboutVisibleUnderCredits);
        // The credits dialog is gone once it is closed, and the about box is
        // the modal window again.
        QVERIFY(pModalInCredits.isNull());
        QCOMPARE(pModalAfterCredits, static_cast<QWidget*>(&about));
    }

    void creditsShowTextAndScroll()
    {
        PLMInitPlugins();
        PLMAboutCreditsDlg credits;
        credits.show();
        QVERIFY(QTest::qWaitForWindowExposed(&credits));

        QScrollArea* pArea = credits.findChild<QScrollArea*>();
        QVERIFY(pArea);
        QLabel* pLabel = pArea->widget()->findChild<QLabel*>();
        QVERIFY(pLabel);
        QCOMPARE(pLabel->textFormat(), Qt::RichText);
        const QString text = pLabel->text();
        QCOMPARE(text, PLMCredits());
        const QString separator = QStringLiteral("<br><br/><br><br/>");
        QVERIFY(text.startsWith(separator));
        const int iFreeImage = text.indexOf(QStringLiteral("FreeImage Public License Version 1.0"));
        const int iXpdf = text.indexOf(QStringLiteral("Xpdf GPL Version 2 or 3"));
        QVERIFY(iFreeImage > 0);
        QVERIFY(iXpdf > iFreeImage);
        QVERIFY(text.lastIndexOf(separator, iXpdf) > iFreeImage);

        // Two licence notices do not fit into the dialog: they scroll
        // vertically and are wrapped, not cut, horizontally.
        QVERIFY(pArea->verticalScrollBar()->maximum() > 0);
        QCOMPARE(pArea->horizontalScrollBar()->maximum(), 0);

        // A short text fits and does not scroll.
        ClearCredits();
        AppendCredits(QStringLiteral("<span>Short notice</span>"));
        PLMAboutCreditsDlg shortCredits;
        shortCredits.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shortCredits));
        QScrollArea* pShortArea = shortCredits.findChild<QScrollArea*>();
        QVERIFY(pShortArea);
        QCOMPARE(pShortArea->verticalScrollBar()->maximum(), 0);
        PLMInitPlugins();
    }
};

KORVANE_TEST_MAIN(AboutDlgTest)
#include "tst_aboutdlg.moc"
