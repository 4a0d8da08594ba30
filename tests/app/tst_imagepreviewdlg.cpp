// The preview dialog (fit zoom, zoom controls, rotation, pages, metadata) and its background reader (orientation and
// preview-sized decoding).
#include "testsupport.h"

#include "gui/graphicsview.h"
#include "dialogdriver.h"
#include "imagepreviewdlg.h"
#include "imagereadthread.h"
#include "tst_multipagetiff.h"

class ImagePreviewDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    // Every signal the thread sent has arrived.
    static void settle(ImageReadThread& thread)
    {
        QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), 30000);
        QCoreApplication::processEvents();
    }
    static QImage last(const QSignalSpy& spy) { return spy.last().at(0).value<QImage>(); }

    QString picture(const QString& name, QSize size) { return KorvaneTest::SavePicture(dir.filePath(name), size); }
    static void waitForPicture(ImagePreviewDlg& dialog) { QTRY_VERIFY_WITH_TIMEOUT(dialog.pPixmapItem->isVisible(), 20000); }
    static QColor shownColor(ImagePreviewDlg& dialog) { return dialog.pPixmapItem->pixmap().toImage().pixelColor(2, 2); }
    // The tree as "Category{Name=Value,…}" entries, top-level rows in order.
    static QStringList tree(const QStandardItemModel* model)
    {
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r) {
            const QStandardItem* category = model->item(r, 0);
            QStringList fields;
            for (int c = 0; c < category->rowCount(); ++c)
                fields << category->child(c, 0)->text() + "=" + category->child(c, 1)->text();
            rows << category->text() + "{" + fields.join(",") + "}";
        }
        return rows;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // A small picture arrives fitted at the 500 % limit; a click zooms by 2; the rotation adds up without wrapping,
    // on top of the zoom.
    void buttons()
    {
        ImagePreviewDlg dialog(picture("zoom.png", QSize(10, 10)), nullptr);
        dialog.show();
        waitForPicture(dialog);
        QCOMPARE(dialog.pZoomSlider->value(), 500);
        dialog.pZoomSlider->setValue(100);
        QTest::mouseClick(dialog.pZoomInBtn, Qt::LeftButton);
        QCOMPARE(dialog.pZoomSlider->value(), 102);
        QTest::mouseClick(dialog.pZoomOutBtn, Qt::LeftButton);
        QTest::mouseClick(dialog.pZoomOutBtn, Qt::LeftButton);
        QCOMPARE(dialog.pZoomSlider->value(), 98);
        dialog.pZoomSlider->setValue(50);
        QTest::mouseClick(dialog.pRotateRightBtn, Qt::LeftButton);
        QVERIFY(qAbs(dialog.pView->transform().m11()) < 1e-9 && qAbs(dialog.pView->transform().m12() - 0.5) < 1e-9);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(dialog.pRotateRightBtn, Qt::LeftButton);
        QCOMPARE(dialog.iRotation, 360);
        const QTransform upright = dialog.pView->transform();
        QVERIFY(qAbs(upright.m11() - 0.5) < 1e-9 && qAbs(upright.m12()) < 1e-9 && qAbs(upright.m22() - 0.5) < 1e-9);
        QTest::mouseClick(dialog.pRotateLeftBtn, Qt::LeftButton);
        QCOMPARE(dialog.iRotation, 270);
    }

    // A three-page TIFF: the buttons move between pages and enable what leads somewhere.
    void pageButtons()
    {
        const QColor colors[] = {Qt::red, Qt::green, Qt::blue};
        QList<QImage> pages;
        for (const QColor& color : colors) {
            pages << QImage(16, 12, QImage::Format_RGB32);
            pages.last().fill(color);
        }
        const QString path = dir.filePath("three.tif");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(MakeMultiPageTiff(pages)) > 0);
        file.close();
        ImagePreviewDlg dialog(path, nullptr);
        dialog.show();
        waitForPicture(dialog);
        struct Step { QToolButton* button; int page; };
        const Step steps[] = {{nullptr, 0}, {dialog.pNextBtn, 1}, {dialog.pLastBtn, 2},
                              {dialog.pPreviousBtn, 1}, {dialog.pFirstBtn, 0}};
        for (const Step& step : steps) {
            if (step.button) {
                QVERIFY(step.button->isEnabled());
                QTest::mouseClick(step.button, Qt::LeftButton);
            }
            QCOMPARE(dialog.pPageLbl->text(), QString("Page %1/3").arg(step.page + 1));
            QTRY_COMPARE(shownColor(dialog), colors[step.page]);
            QCOMPARE(QVector<bool>({dialog.pFirstBtn->isEnabled(), dialog.pPreviousBtn->isEnabled(), dialog.pNextBtn->isEnabled(),
                                    dialog.pLastBtn->isEnabled()}), QVector<bool>({step.page > 0, step.page > 0, step.page < 2, step.page < 2}));
        }
    }

    // A JPEG with Exif written by exiftool: size and resolution under "General", its Exif fields by category, the raw
    // Exif block not at all.
    void metadataOfARealFile()
    {
        const QString path = picture("exif.jpg", QSize(64, 40));
        QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-Make=Acme", "-Model=Roadrunner 7",
                                                "-ISO=400", "-JFIF:XResolution=300", "-JFIF:YResolution=150",
                                                "-JFIF:ResolutionUnit=inches", path}), 0);
        ImagePreviewDlg dialog(path, nullptr);
        dialog.show();
        waitForPicture(dialog);
        QStringList general;
        for (int r = 0; r < dialog.pInfoModel->rowCount(); ++r)
            general << dialog.pInfoModel->item(r, 0)->text() + "=" + dialog.pInfoModel->item(r, 1)->text();
        QCOMPARE(general, QStringList({"Width=64", "Height=40", "DPI X=300", "DPI Y=150"}));
        QVERIFY(dialog.pMetadataModel);
        const QString all = tree(dialog.pMetadataModel).join("\n");
        for (const char* expected : {"^Exif-Tiff\\{.*Make=Acme.*\\}$", "^Exif-Tiff\\{.*Model=Roadrunner 7.*\\}$",
                                     "^Exif-Specific\\{.*ISO.*=400.*\\}$"})
            QVERIFY2(all.contains(QRegularExpression(expected, QRegularExpression::MultilineOption)), qPrintable(all));
        QVERIFY2(!all.contains("Exif Raw") && !all.contains("ExifRaw"), qPrintable(all));
    }

    void titleAndUnreadableFile()
    {
        const QString path = dir.filePath("a.png");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\x89PNG\r\n\x1a\n not a picture") > 0);
        file.close();
        ImagePreviewDlg dialog(path, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Preview - a.png"));
        QVERIFY(!dialog.pAnimationBtn);
        QCOMPARE(dialog.pTextItem->toPlainText(), QString("Loading..."));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.pTextItem->toPlainText(), QString("Loading %1 failed.").arg(path), 20000);
        QVERIFY(dialog.pTextItem->isVisible() && !dialog.pPixmapItem->isVisible());
    }

    // Pictures arrive upright (orientation written by exiftool); with a bound much smaller than the picture it is
    // decoded to fit the bound, and the thread still reports the file's own upright size.
    void uprightAndBounded_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("bound");
        QTest::addColumn<QSize>("delivered");
        QTest::addColumn<QSize>("fileSize");
        QTest::newRow("upright") << 1 << QSize() << QSize(400, 200) << QSize(400, 200);
        QTest::newRow("turned") << 6 << QSize() << QSize(200, 400) << QSize(200, 400);
        QTest::newRow("turned, small bound") << 6 << QSize(50, 50) << QSize(25, 50) << QSize(200, 400);
        QTest::newRow("upright, small bound") << 1 << QSize(100, 100) << QSize(100, 50) << QSize(400, 200);
        QTest::newRow("bound not much smaller") << 1 << QSize(300, 300) << QSize(400, 200) << QSize(400, 200);
    }
    void uprightAndBounded()
    {
        QFETCH(int, orientation);
        QFETCH(QSize, bound);
        QFETCH(QSize, delivered);
        QFETCH(QSize, fileSize);
        const QString path = dir.filePath(QString("o%1.jpg").arg(++counter));
        QImage image(400, 200, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(path, "JPEG"));
        QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-n",
                                                QString("-Orientation=%1").arg(orientation), path}), 0);
        ImageReadThread thread;
        thread.SetMaxPreviewSize(bound);
        QSignalSpy spy(&thread, SIGNAL(readImage(QImage)));
        thread.Read(path, false);
        settle(thread);
        QCOMPARE(last(spy).size(), delivered);
        QCOMPARE(thread.GetImageSize(), fileSize);
    }
};

KORVANE_TEST_MAIN(ImagePreviewDlgTest)
#include "tst_imagepreviewdlg.moc"
