// The preview dialog: fit zoom, zoom controls, rotation, pages, metadata,
// GIF playback and its side panel's tool box.
#include "testsupport.h"

#include "gui/graphicsview.h"
#include "gui/toolbox.h"
#include "imagepreviewdlg.h"
#include "tst_multipagetiff.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QMovie>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QToolButton>
#include <QTreeView>

class ImagePreviewDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString picture(const QString& name, QSize size, QColor color = Qt::darkBlue)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        const QString path = dir.filePath(name);
        return image.save(path) ? path : QString();
    }
    static void waitForPicture(ImagePreviewDlg& dialog)
    {
        QTRY_VERIFY_WITH_TIMEOUT(dialog.pPixmapItem->isVisible(), 20000);
    }
    static QColor shownColor(ImagePreviewDlg& dialog)
    {
        return dialog.pPixmapItem->pixmap().toImage().pixelColor(2, 2);
    }
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

    // The picture fits the view when it arrives, within 5 … 500 %.
    void fitZoom_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("zoom");      // -1: the fit inside the view's frame
        QTest::newRow("10 x 10") << QSize(10, 10) << 500;
        QTest::newRow("12000 x 8000") << QSize(12000, 8000) << 5;
        QTest::newRow("1200 x 300") << QSize(1200, 300) << -1;
    }
    void fitZoom()
    {
        QFETCH(QSize, size);
        QFETCH(int, zoom);
        ImagePreviewDlg dialog(picture("small.png", QSize(4, 4)), nullptr);
        dialog.show();
        waitForPicture(dialog);
        QImage image(size, QImage::Format_Mono);
        image.fill(0);
        dialog.UpdatePreview(image, {}, {});
        const QSize room = dialog.pView->viewport()->size();
        if (zoom < 0)
            zoom = qMin(room.width() * 100 / size.width(), room.height() * 100 / size.height());
        // No scroll bars: the scaled picture fits the view.
        QVERIFY(size.width() * zoom / 100 <= room.width() || zoom == 5);
        QVERIFY(size.height() * zoom / 100 <= room.height() || zoom == 5);
        QCOMPARE(dialog.pZoomSlider->value(), zoom);
        QCOMPARE(dialog.pZoomLbl->text(), QString("%1%").arg(zoom));
        QCOMPARE(dialog.pView->transform().m11(), zoom / 100.0);
    }

    void ctrlWheel_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("change");
        QTest::newRow("Ctrl, up") << int(Qt::ControlModifier) << 120 << 6;
        QTest::newRow("Ctrl, down") << int(Qt::ControlModifier) << -120 << -6;
        QTest::newRow("no Ctrl") << int(Qt::NoModifier) << 120 << 0;
    }
    void ctrlWheel()
    {
        QFETCH(int, modifiers);
        QFETCH(int, delta);
        QFETCH(int, change);
        ImagePreviewDlg dialog(picture("wheel.png", QSize(300, 200)), nullptr);
        dialog.show();
        waitForPicture(dialog);
        dialog.pZoomSlider->setValue(100);
        const QPoint at = dialog.pView->viewport()->rect().center();
        QWheelEvent event(at, dialog.pView->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::KeyboardModifiers(modifiers), Qt::NoScrollPhase, false);
        QApplication::sendEvent(dialog.pView->viewport(), &event);
        QCOMPARE(dialog.pZoomSlider->value(), 100 + change);
    }

    // A click zooms by 2, held down the button repeats until let go; the
    // rotation adds up without wrapping, on top of the zoom.
    void buttons()
    {
        ImagePreviewDlg dialog(picture("zoom.png", QSize(300, 200)), nullptr);
        dialog.show();
        waitForPicture(dialog);
        dialog.pZoomSlider->setValue(100);
        QTest::mouseClick(dialog.pZoomInBtn, Qt::LeftButton);
        QCOMPARE(dialog.pZoomSlider->value(), 102);
        QTest::mouseClick(dialog.pZoomOutBtn, Qt::LeftButton);
        QTest::mouseClick(dialog.pZoomOutBtn, Qt::LeftButton);
        QCOMPARE(dialog.pZoomSlider->value(), 98);
        QTest::mousePress(dialog.pZoomInBtn, Qt::LeftButton);
        QTRY_VERIFY(dialog.pZoomSlider->value() >= 110);
        QTest::mouseRelease(dialog.pZoomInBtn, Qt::LeftButton);
        const int released = dialog.pZoomSlider->value();
        QTest::qWait(150);
        QCOMPARE(dialog.pZoomSlider->value(), released);

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

    // A three-page TIFF: the buttons move between pages and enable what leads
    // somewhere.
    void pageButtons()
    {
        const QColor colors[] = {Qt::red, Qt::green, Qt::blue};
        QList<QImage> pages;
        for (const QColor& color : colors) {
            QImage page(16, 12, QImage::Format_RGB32);
            page.fill(color);
            pages << page;
        }
        const QString path = dir.filePath("three.tif");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(MakeMultiPageTiff(pages));
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
            QCOMPARE(dialog.pFirstBtn->isEnabled(), step.page > 0);
            QCOMPARE(dialog.pPreviousBtn->isEnabled(), step.page > 0);
            QCOMPARE(dialog.pNextBtn->isEnabled(), step.page < 2);
            QCOMPARE(dialog.pLastBtn->isEnabled(), step.page < 2);
        }
    }

    // Keys carry their category in their first five characters.
    void metadataLayout_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("field under its category")
            << QStringList{"ABC01", "ABC01Make"} << QStringList{"x", "Acme"} << QStringList{"Exif-Tiff{Make=Acme}"};
        QTest::newRow("category 11 hidden")
            << QStringList{"FIM11", "FIM11ExifRaw", "FIM03", "FIM03GPSAltitude"} << QStringList{"", "AAAA", "", "12 m"}
            << QStringList{"Exif GPS{GPSAltitude=12 m}"};
        QTest::newRow("short keys and undeclared fields ignored")
            << QStringList{"FIM0", "FIM06City", "FIM00", "FIM00Comment"} << QStringList{"a", "Oslo", "", "hi"}
            << QStringList{"Comment{Comment=hi}"};
        QTest::newRow("categories sorted by name")
            << QStringList{"FIM07", "FIM07XMLPacket", "FIM02", "FIM02ISO"} << QStringList{"", "<x/>", "", "200"}
            << QStringList{"Adobe XMP{XMLPacket=<x/>}", "Exif-Specific{ISO=200}"};
    }
    void metadataLayout()
    {
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        QFETCH(QStringList, shown);
        ImagePreviewDlg dialog(picture("md.png", QSize(8, 8)), nullptr);
        waitForPicture(dialog);
        dialog.UpdateMetadata(keys, values);
        QCOMPARE(tree(dialog.pMetadataModel), shown);
        // A second picture's metadata replaces the first's.
        dialog.UpdateMetadata({"FIM10", "FIM10Note"}, {"", "n"});
        QCOMPARE(tree(dialog.pMetadataModel), QStringList{"Custom{Note=n}"});
    }

    // A JPEG with Exif written by exiftool: size and resolution under
    // "General", its Exif fields by category, the raw Exif block not at all.
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
        const QStringList shown = tree(dialog.pMetadataModel);
        const QString all = shown.join("\n");
        QVERIFY2(all.contains(QRegularExpression("^Exif-Tiff\\{.*Make=Acme.*\\}$", QRegularExpression::MultilineOption)), qPrintable(all));
        QVERIFY2(all.contains(QRegularExpression("^Exif-Tiff\\{.*Model=Roadrunner 7.*\\}$", QRegularExpression::MultilineOption)), qPrintable(all));
        QVERIFY2(all.contains(QRegularExpression("^Exif-Specific\\{.*ISO.*=400.*\\}$", QRegularExpression::MultilineOption)), qPrintable(all));
        QVERIFY2(!all.contains("Exif Raw") && !all.contains("ExifRaw"), qPrintable(all));
    }

    // A GIF plays on "Animation", in a loop; toggled off, the frame it stopped
    // on is shown as a page that can be navigated from.
    void gifAnimation()
    {
        const QString path = dir.filePath("three.gif");
        QCOMPARE(QProcess::execute("convert", {"-size", "16x12", "xc:red", "xc:lime", "xc:blue",
                                               "-set", "delay", "2", "-loop", "1", path}), 0);
        ImagePreviewDlg dialog(path, nullptr);
        dialog.show();
        waitForPicture(dialog);
        QVERIFY(dialog.pAnimationBtn && dialog.pAnimationBtn->isCheckable() && !dialog.pAnimationBtn->isChecked());
        QCOMPARE(dialog.pPageLbl->text(), QString("Page 1/3"));

        dialog.pAnimationBtn->setChecked(true);
        QVERIFY(dialog.pMovie && dialog.pMovie->isValid());
        QCOMPARE(dialog.pMovie->state(), QMovie::Running);
        QVERIFY(dialog.pMovieLbl->isVisible() && !dialog.pPixmapItem->isVisible());
        QVERIFY(!dialog.pNextBtn->isEnabled() && !dialog.pFirstBtn->isEnabled());
        QVERIFY(dialog.pPageLbl->text().isEmpty());
        // Three frames of 20 ms, played once by the file: it goes on looping.
        QTest::qWait(300);
        QCOMPARE(dialog.pMovie->state(), QMovie::Running);

        dialog.pAnimationBtn->setChecked(false);
        QCOMPARE(dialog.pMovie->state(), QMovie::Paused);
        const int frame = dialog.pMovie->currentFrameNumber();
        QCOMPARE(dialog.iPage, frame);
        waitForPicture(dialog);
        QCOMPARE(dialog.pPageLbl->text(), QString("Page %1/3").arg(frame + 1));
        QCOMPARE(dialog.pNextBtn->isEnabled(), frame < 2);
        QCOMPARE(dialog.pPreviousBtn->isEnabled(), frame > 0);
    }

    void titleAndUnreadableFile()
    {
        const QString path = dir.filePath("a.png");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\n not a picture");
        file.close();
        ImagePreviewDlg dialog(path, nullptr);
        QCOMPARE(dialog.windowTitle(), QString("Preview - a.png"));
        QVERIFY(!dialog.pAnimationBtn);
        QCOMPARE(dialog.pTextItem->toPlainText(), QString("Loading..."));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.pTextItem->toPlainText(), QString("Loading %1 failed.").arg(path), 20000);
        QVERIFY(dialog.pTextItem->isVisible() && !dialog.pPixmapItem->isVisible());
    }

    // Sections fold and unfold from their title, icon included; their heights
    // follow; a hidden section hides its title too.
    void toolBoxSections()
    {
        PLMToolBox box;
        QWidget* first = new QWidget;
        first->setFixedHeight(70);
        QWidget* second = new QWidget;
        second->setFixedHeight(40);
        box.AddItem(first, "First");
        box.AddItem(second, "Second");
        box.resize(220, 400);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QPushButton* title = nullptr;
        for (QPushButton* button : box.findChildren<QPushButton*>())
            if (button->text() == "First")
                title = button;
        QVERIFY(title);
        const auto iconIs = [title](const char* name) {
            return title->icon().pixmap(16, 16).toImage() == QIcon(name).pixmap(16, 16).toImage();
        };
        QVERIFY(iconIs(":IMG_TOOLBOXITEM_EXPAND"));
        QVERIFY(!QIcon(":IMG_TOOLBOXITEM_COLLAPSE").pixmap(16, 16).isNull());
        const int titleHeight = box.GetTitleHeight(first);
        QVERIFY(titleHeight > 0);
        QCOMPARE(box.GetItemHeight(first), titleHeight + 70);

        QTest::mouseClick(title, Qt::LeftButton);
        QVERIFY(!first->isVisible() && iconIs(":IMG_TOOLBOXITEM_COLLAPSE"));
        QCOMPARE(box.GetItemHeight(first), titleHeight);
        QTest::mouseClick(title, Qt::LeftButton);
        QVERIFY(first->isVisible() && iconIs(":IMG_TOOLBOXITEM_EXPAND"));

        box.SetItemExpanded(second, false);
        box.SetItemExpanded(second, false);
        QVERIFY(!second->isVisible());
        box.SetItemExpanded(second, true);
        QVERIFY(second->isVisible());
        box.ShowItem(first, false);
        QVERIFY(!title->isVisible() && !first->isVisible());
        QWidget stranger;
        QCOMPARE(box.GetItemHeight(&stranger), 0);
        QCOMPARE(box.GetTitleHeight(&stranger), 0);
    }
};

KORVANE_TEST_MAIN(ImagePreviewDlgTest)
#include "tst_imagepreviewdlg.moc"
