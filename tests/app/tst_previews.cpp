// The main window's source and target previews and the preview dialog they open.
#include "testsupport.h"

#include "dialogdriver.h"
#include "gui/label.h"
#include "imagepreviewdlg.h"
#include "imagereadthread.h"
#include "mainwindow.h"

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;
    QTimer previewAnswerer;
    QStringList previewTitles;

    QString picture(const QString& name, QSize size)
    {
        return KorvaneTest::SavePicture(dir.filePath(QString("%1-%2").arg(++counter).arg(name)), size);
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

    // Idle with no or several sources selected, loading until the picture arrives, then the picture with the file's
    // size.
    void sourceStates()
    {
        const QString a = picture("a.png", QSize(64, 48));
        const QString b = picture("b.png", QSize(30, 20));
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a, b});
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
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\x89PNG\r\n\x1a\n not a picture") > 0);
        file.close();
        QString text;
        KorvaneTest::AnswerNextModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }, 2000);
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {path});
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QCOMPARE(text, QString("Load %1 failed.").arg(path));
        QVERIFY(window.pSrcPreviewLbl->text() == "Source Preview" && window.pSrcInfoLbl->text().isEmpty());
    }

    // After a conversion the first target is selected and shown. Rows always open the preview dialog; pictures only
    // while they show one.
    void doubleClicks()
    {
        const QString source = picture("dbl.png", QSize(40, 30));
        const QString other = picture("other.png", QSize(20, 30));
        const QString out = dir.filePath("dblout");
        QDir().mkpath(out);
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {source});
        window.pTgtFoldersCmB->setEditText(out);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("BMP (.bmp)"));
        QCOMPARE(window.pTgtPreviewLbl->text(), QString("Converted Target"));
        window.pConvertAct->trigger();
        QCOMPARE(window.pTgtSelModel->selectedRows().size(), 1);
        QCOMPARE(window.sSelTgtFile, out + "/" + QFileInfo(source).completeBaseName() + ".bmp");
        QTRY_COMPARE_WITH_TIMEOUT(window.pTgtInfoLbl->text(), QString("Target Dimension:40 x 30"), 20000);
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {other});
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
        QCOMPARE(window.pTgtPreviewLbl->text(), QString("Converted Target"));
        QVERIFY(window.pTgtInfoLbl->text().isEmpty());
        QCOMPARE(previewsOpenedBy([&]() { QTest::mouseDClick(window.pTgtPreviewLbl, Qt::LeftButton); }), QStringList());
    }

    // A picture sent by a superseded reader (finished before the newer request was made, its picture still on the
    // way) never reaches the label; the finished reader leaves the list.
    void onlyTheNewestReaderIsShown()
    {
        const QString early = picture("early.png", QSize(64, 48));
        const QString gated = dir.filePath("late.kvgate");
        QFile(gated).open(QIODevice::WriteOnly);
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {early});
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
