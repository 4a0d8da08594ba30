// The main window's source and target previews and the preview dialog they open.
#include "testsupport.h"

#include "dialogdriver.h"
#include "gui/label.h"
#include "imagepreviewdlg.h"
#include "imagereadthread.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QStandardItemModel>
#include <QTreeView>

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;
    QTimer previewAnswerer;
    QStringList previewTitles;

    QString picture(const QString& name, QSize size, QColor color = QColor(30, 120, 200),
                    QImage::Format format = QImage::Format_RGB32)
    {
        QImage image(size, format);
        image.fill(color);
        const QString path = dir.filePath(QString("%1-%2").arg(++counter).arg(name));
        return image.save(path) ? path : QString();
    }
    static void addFiles(MainWindow& window, const QStringList& files)
    {
        KorvaneTest::ChooseFiles(files);
        window.pAddSrcFilesAct->trigger();
    }
    static void selectSources(MainWindow& window, const QStringList& paths)
    {
        QItemSelection selection;
        for (const QString& path : paths) {
            const int row = window.SrcRowOf(path);
            selection.select(window.pSrcModel->index(row, 0), window.pSrcModel->index(row, 5));
        }
        window.pSrcSelModel->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    static bool hasPicture(const QLabel* label) { return !label->pixmap(Qt::ReturnByValue).isNull(); }
    // The preview dialogs opened during action(), by window title.
    QStringList previewsOpenedBy(const std::function<void()>& action)
    {
        previewTitles.clear();
        previewAnswerer.start();
        action();
        previewAnswerer.stop();
        return previewTitles;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The tests' own formats (the gated reader "kvgate") come first.
        QCoreApplication::setLibraryPaths(QStringList(KORVANE_TEST_PLUGIN_DIR) + QCoreApplication::libraryPaths());
        previewAnswerer.setInterval(10);
        connect(&previewAnswerer, &QTimer::timeout, this, [this]() {
            if (auto* dialog = qobject_cast<ImagePreviewDlg*>(QApplication::activeModalWidget())) {
                previewTitles << dialog->windowTitle();
                dialog->reject();
            }
        });
    }

    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        QSettings("Pelmora", "Korvane").setValue("MainWindow/FirstRun", false);
        QSettings("Pelmora", "Korvane").setValue("Settings/ReportCResults", false);
    }

    // Idle with no or several sources selected, loading until the picture
    // arrives, then the picture with the file's size.
    void sourceStates()
    {
        const QString a = picture("a.png", QSize(64, 48));
        const QString b = picture("b.png", QSize(30, 20));
        MainWindow window;
        window.show();
        addFiles(window, {a, b});
        QCOMPARE(window.pSrcPreviewLbl->text(), QString("Source Preview"));

        const struct { QStringList selected; QString dimension; } steps[] = {
            {{a}, "Source Dimension:64 x 48"},
            {{a, b}, ""},
            {{b}, "Source Dimension:30 x 20"},
            {{}, ""},
        };
        for (const auto& step : steps) {
            selectSources(window, step.selected);
            if (step.dimension.isEmpty()) {
                QCOMPARE(window.pSrcPreviewLbl->text(), QString("Source Preview"));
                QVERIFY(!hasPicture(window.pSrcPreviewLbl));
                QTest::qWait(50);
                QVERIFY(!hasPicture(window.pSrcPreviewLbl));
            } else {
                QCOMPARE(window.pSrcPreviewLbl->text(), QString("Loading..."));
                QVERIFY(window.pSrcInfoLbl->text().isEmpty());
                QTRY_COMPARE_WITH_TIMEOUT(window.pSrcInfoLbl->text(), step.dimension, 20000);
                QVERIFY(hasPicture(window.pSrcPreviewLbl));
            }
            QCOMPARE(window.pSrcInfoLbl->text(), step.dimension);
        }
    }

    void unreadableSource()
    {
        const QString path = dir.filePath("broken.png");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\n not a picture");
        file.close();
        QString title;
        QString text;
        KorvaneTest::AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }, 2000);
        MainWindow window;
        window.show();
        addFiles(window, {path});
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QCOMPARE(title, QString("Bramwick Image Converter"));
        QCOMPARE(text, QString("Load %1 failed.").arg(path));
        QCOMPARE(window.pSrcPreviewLbl->text(), QString("Source Preview"));
        QVERIFY(window.pSrcInfoLbl->text().isEmpty());
    }

    // Transparent parts show a white and light-grey checkerboard of 8-pixel
    // squares; opaque pictures are drawn as they are.
    void checkerboard_data()
    {
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<int>("format");
        QTest::addColumn<QList<QColor>>("colors");
        QTest::newRow("opaque") << QColor(30, 120, 200) << int(QImage::Format_RGB32)
                                << QList<QColor>{QColor(30, 120, 200)};
        QTest::newRow("transparent") << QColor(Qt::transparent) << int(QImage::Format_ARGB32)
                                     << QList<QColor>{QColor(230, 230, 230), QColor(Qt::white)};
    }
    void checkerboard()
    {
        QFETCH(QColor, fill);
        QFETCH(int, format);
        QFETCH(QList<QColor>, colors);
        const QString path = picture("alpha.png", QSize(64, 48), fill, QImage::Format(format));
        MainWindow window;
        window.show();
        addFiles(window, {path});
        QTRY_VERIFY_WITH_TIMEOUT(hasPicture(window.pSrcPreviewLbl), 20000);
        const QImage shown = window.pSrcPreviewLbl->pixmap(Qt::ReturnByValue).toImage();
        QRect picture;
        QSet<QRgb> found;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb pixel = shown.pixel(x, y);
                if (qAlpha(pixel) == 0)
                    continue;
                found << pixel;
                picture |= QRect(x, y, 1, 1);
            }
        }
        QSet<QRgb> expected;
        for (const QColor& color : colors)
            expected << color.rgba();
        QCOMPARE(found, expected);
        // The picture keeps its 4:3 shape.
        QVERIFY(qAbs(picture.width() * 3 - picture.height() * 4) <= 8);
        if (colors.size() == 2) {
            QCOMPARE(shown.pixelColor(picture.topLeft() + QPoint(7, 7)), QColor(230, 230, 230));
            QCOMPARE(shown.pixelColor(picture.topLeft() + QPoint(8, 0)), QColor(Qt::white));
            QCOMPARE(shown.pixelColor(picture.topLeft() + QPoint(8, 8)), QColor(230, 230, 230));
        }
    }

    // After a conversion the first target is selected and shown.
    void targetAfterConversion()
    {
        const QString source = picture("conv.png", QSize(40, 30));
        const QString out = dir.filePath("out");
        QDir().mkpath(out);
        MainWindow window;
        window.show();
        addFiles(window, {source});
        window.pTgtFoldersCmB->setEditText(out);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("BMP (.bmp)"));
        QCOMPARE(window.pTgtPreviewLbl->text(), QString("Converted Target"));
        window.pConvertAct->trigger();
        QCOMPARE(window.pTgtSelModel->selectedRows().size(), 1);
        QCOMPARE(window.sSelTgtFile, out + "/" + QFileInfo(source).completeBaseName() + ".bmp");
        QTRY_COMPARE_WITH_TIMEOUT(window.pTgtInfoLbl->text(), QString("Target Dimension:40 x 30"), 20000);
        QVERIFY(hasPicture(window.pTgtPreviewLbl));
        window.pTgtSelModel->clearSelection();
        QCOMPARE(window.pTgtPreviewLbl->text(), QString("Converted Target"));
        QVERIFY(window.pTgtInfoLbl->text().isEmpty());
    }

    // Rows always open the preview dialog; pictures only while they show one.
    void doubleClicks()
    {
        const QString source = picture("dbl.png", QSize(40, 30));
        const QString other = picture("other.png", QSize(20, 30));
        const QString out = dir.filePath("dblout");
        QDir().mkpath(out);
        MainWindow window;
        window.show();
        addFiles(window, {source});
        window.pTgtFoldersCmB->setEditText(out);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("BMP (.bmp)"));
        window.pConvertAct->trigger();
        addFiles(window, {other});
        selectSources(window, {source});
        QTRY_VERIFY_WITH_TIMEOUT(hasPicture(window.pSrcPreviewLbl) && hasPicture(window.pTgtPreviewLbl), 20000);
        const QString sourceTitle = "Preview - " + QFileInfo(source).fileName();
        const QString targetTitle = "Preview - " + QFileInfo(source).completeBaseName() + ".bmp";

        // As a person does it: a press, then the double click.
        const auto doubleClickRow = [](QTreeView* view, int row) {
            const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        };
        QCOMPARE(previewsOpenedBy([&]() { QTest::mouseDClick(window.pSrcPreviewLbl, Qt::LeftButton); }),
                 QStringList{sourceTitle});
        QCOMPARE(previewsOpenedBy([&]() { QTest::mouseDClick(window.pTgtPreviewLbl, Qt::LeftButton); }),
                 QStringList{targetTitle});
        QCOMPARE(previewsOpenedBy([&]() { doubleClickRow(window.pSrcTreeView, window.SrcRowOf(other)); }),
                 QStringList{"Preview - " + QFileInfo(other).fileName()});
        QCOMPARE(previewsOpenedBy([&]() { doubleClickRow(window.pTgtTreeView, 0); }), QStringList{targetTitle});

        // While loading, and with no target selected, the labels show text.
        selectSources(window, {source});
        QCOMPARE(window.pSrcPreviewLbl->text(), QString("Loading..."));
        QCOMPARE(previewsOpenedBy([&]() { QTest::mouseDClick(window.pSrcPreviewLbl, Qt::LeftButton); }), QStringList());
        window.pTgtSelModel->clearSelection();
        QCOMPARE(previewsOpenedBy([&]() { QTest::mouseDClick(window.pTgtPreviewLbl, Qt::LeftButton); }), QStringList());
    }

    // A picture sent by a superseded reader (finished before the newer request
    // was made, its picture still on the way) never reaches the label; the
    // finished reader leaves the list.
    void onlyTheNewestReaderIsShown()
    {
        const QString early = picture("early.png", QSize(64, 48));
        const QString gated = dir.filePath("late.kvgate");
        QFile(gated).open(QIODevice::WriteOnly);
        MainWindow window;
        window.show();
        addFiles(window, {early});
        // The file dialog lists pictures only: the gated file is added as a drop adds.
        window.bAddingSrc = true;
        window.AddSrcFile(gated);
        window.FinishAddingSrc(1);
        QCOMPARE(window.SourceFileList.size(), 2);

        selectSources(window, {early});
        const ImageReadThread* superseded = window.lSrcReaders.last().data();
        // Finished, with its picture posted but not yet delivered.
        QElapsedTimer timer;
        timer.start();
        while (!superseded->isFinished() && timer.elapsed() < 20000)
            QThread::msleep(2);
        QVERIFY(superseded->isFinished());

        selectSources(window, {gated});
        QCOMPARE(window.lSrcReaders.size(), 1);
        QVERIFY(window.lSrcReaders.last().data() != superseded);
        QTRY_VERIFY(QFile::exists(gated + ".started"));
        QTest::qWait(50);
        QCOMPARE(window.pSrcPreviewLbl->text(), QString("Loading..."));
        QVERIFY(!hasPicture(window.pSrcPreviewLbl));
        QVERIFY(window.pSrcInfoLbl->text().isEmpty());

        QFile(gated + ".go").open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(window.pSrcInfoLbl->text(), QString("Source Dimension:8 x 8"), 20000);
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_previews.moc"
