#include "testsupport.h"

#include "convertdlgs.h"
#include "dialogdriver.h"
#include "mainwindow.h"
#include "tst_multipagetiff.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QPushButton>
#include <QProgressDialog>
#include <QSettings>
#include <QStandardItemModel>
#include <QToolTip>
#include <QTreeView>

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    QString freshFolder()
    {
        const QString folder = dir.path() + QString("/case%1").arg(++counter);
        QDir().mkpath(folder + "/out");
        return folder;
    }

    static QString makePicture(const QString& path, int width = 64, int height = 48)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        image.setPixel(0, 0, qRgb(255, 0, 0));
        return image.save(path) ? path : QString();
    }

    static QString makeBroken(const QString& path)
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("\x89PNG\r\n\x1a\n this is not really a picture");
        return path;
    }

    static void addFiles(MainWindow& window, const QStringList& files)
    {
        KorvaneTest::ChooseFiles(files);
        window.pAddSrcFilesAct->trigger();
    }

    static void setTarget(MainWindow& window, const QString& folder, const QString& format)
    {
        window.pTgtFoldersCmB->setEditText(folder);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText(format));
    }

    // Outcome text of the row that shows `path`, found through the index column.
    static QString outcome(MainWindow& window, const QString& path)
    {
        for (int row = 0; row < window.pSrcModel->rowCount(); ++row) {
            const int index = window.pSrcModel->index(row, 5).data(Qt::UserRole).toInt();
            if (window.SourceFileList.value(index) == path)
                return window.pSrcModel->index(row, 4).data().toString();
        }
        return "<no row>";
    }

    // Answers the results dialog with "OK" and returns its counts text.
    static QString *expectResults()
    {
        static QString text;
        text.clear();
        KorvaneTest::AnswerNextModal<ConvertResultsDlg>([](ConvertResultsDlg* dialog) {
            for (QLabel* label : dialog->findChildren<QLabel*>())
                text += label->text() + "\n";
            QMetaObject::invokeMethod(dialog, "reject");
        }, 2000);
        return &text;
    }

private slots:
    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        QSettings("Pelmora", "Korvane").setValue("MainWindow/FirstRun", false);
    }

    void removeTheMiddleAndConvertTheRest()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/alpha.png");
        const QString b = makePicture(folder + "/beta.png");
        const QString c = makePicture(folder + "/gamma.png", 30, 20);
        MainWindow window;
        window.show();
        addFiles(window, {a, b, c});
        window.pSrcSelModel->select(window.pSrcModel->index(window.SrcRowOf(b), 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window.pRemoveAct->trigger();
        window.pSelectAllAct->trigger();
        QCOMPARE(window.lSelSrcFiles.size(), 2);

        setTarget(window, folder + "/out", "BMP (.bmp)");
        QString* results = expectResults();
        window.pConvertAct->trigger();

        QCOMPARE(outcome(window, a), QString("Succeeded"));
        QCOMPARE(outcome(window, c), QString("Succeeded"));
        QVERIFY(!window.pSrcModel->item(window.SrcRowOf(a), 0)->icon().isNull());
        QCOMPARE(QImage(folder + "/out/gamma.bmp").size(), QSize(30, 20));
        QVERIFY(QFile::exists(folder + "/out/alpha.bmp"));
        QVERIFY(!QFile::exists(folder + "/out/beta.bmp"));
        QVERIFY(results->contains("Selected Files:2\nSucceeded Files:2\nFailed Files:0\nCanceled Files:0"));
        QVERIFY(!results->contains("multi-core"));

        // The target list holds the written files, the first row selected.
        QCOMPARE(window.pTgtModel->rowCount(), 2);
        QStringList names;
        for (int row = 0; row < 2; ++row)
            names << window.pTgtModel->index(row, 0).data().toString();
        names.sort();
        QCOMPARE(names, QStringList({"alpha", "gamma"}));
        QCOMPARE(window.pTgtModel->index(0, 1).data().toString(), QString("BMP"));
        QCOMPARE(window.pTgtSelModel->selectedRows().size(), 1);
        QCOMPARE(window.aConvertCounts[0], 0);      // reset after the dialog
    }

    void outcomesFollowTheirSourcesThroughASort()
    {
        const QString folder = freshFolder();
        QStringList good;
        for (int i = 0; i < 6; ++i)
            good << makePicture(folder + QString("/p%1.png").arg(i), 400, 300);
        const QString broken = makeBroken(folder + "/zz-broken.png");
        MainWindow window;
        window.show();
        addFiles(window, good + QStringList(broken));
        window.pSrcTreeView->sortByColumn(0, Qt::AscendingOrder);
        window.pSelectAllAct->trigger();
        setTarget(window, folder + "/out", "TIFF (.tif)");

        // Reverse the list while the batch runs: the recorded rows go stale.
        QTimer::singleShot(0, &window, [&window]() { window.pSrcTreeView->sortByColumn(0, Qt::DescendingOrder); });
        QString* results = expectResults();
        window.pConvertAct->trigger();

        for (const QString& path : good)
            QCOMPARE(outcome(window, path), QString("Succeeded"));
        QCOMPARE(outcome(window, broken), QString("Failed"));
        QVERIFY(results->contains("Selected Files:7\nSucceeded Files:6\nFailed Files:1\nCanceled Files:0"));
        QVERIFY(results->contains("multi-core"));
        QCOMPARE(window.pTgtModel->rowCount(), 6);
    }

    void cancellingHalfway()
    {
        const QString folder = freshFolder();
        QStringList sources;
        for (int i = 0; i < 24; ++i)
            sources << makePicture(folder + QString("/big%1.png").arg(i, 2, 10, QChar('0')), 1200, 900);
        MainWindow window;
        window.show();
        addFiles(window, sources);
        setTarget(window, folder + "/out", "PNG (.png)");

        // Press the progress dialog's Cancel as soon as the first result is in.
        QMetaObject::Connection cancelOnFirst = connect(&window.convertWatcher, &QFutureWatcherBase::resultReadyAt, [] {
            if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                progress->findChild<QPushButton*>()->click();
        });
        QString* results = expectResults();
        window.pConvertAct->trigger();
        disconnect(cancelOnFirst);

        int succeeded = 0, canceled = 0;
        for (const QString& path : sources) {
            const QString text = outcome(window, path);
            QVERIFY2(text == "Succeeded" || text == "Canceled", qPrintable(text));
            (text == "Succeeded" ? succeeded : canceled)++;
        }
        QVERIFY(succeeded >= 1);
        QVERIFY(canceled >= 1);
        QVERIFY(results->contains(QString("Selected Files:24\nSucceeded Files:%1\nFailed Files:0\nCanceled Files:%2")
                                      .arg(succeeded).arg(canceled)));
        // What is on disk is exactly what was counted as succeeded and listed:
        // a job finished after the cancel is listed, a canceled one left nothing.
        QStringList listed;
        for (int row = 0; row < window.pTgtModel->rowCount(); ++row)
            listed << window.TgtFileList.value(window.pTgtModel->index(row, 4).data(Qt::UserRole).toInt());
        listed.sort();
        QStringList onDisk;
        for (const QString& name : QDir(folder + "/out").entryList(QDir::Files))
            onDisk << folder + "/out/" + name;
        QCOMPARE(listed, onDisk);
        QCOMPARE(onDisk.size(), succeeded);

        // The next batch starts with these rows blank, not with this outcome.
        QStringList atStart;
        QMetaObject::Connection started = connect(&window.convertWatcher, &QFutureWatcherBase::started, [&] {
            for (const QString& path : sources)
                atStart << outcome(window, path);
        });
        expectResults();
        window.pConvertAct->trigger();
        disconnect(started);
        QCOMPARE(atStart.size(), sources.size());
        QCOMPARE(atStart.filter(QRegularExpression(".")), QStringList());
    }

    // Overwrite next to the sources spares the batch's own files (and says
    // how many targets took a number instead); a multi-page source that
    // fails halfway still lists the page it wrote.
    void aBatchKeepsItsOwnFilesAndListsWhatItWrote()
    {
        const QString folder = freshFolder();
        const QString jpeg = folder + "/photo.jpg";
        QVERIFY(QImage(makePicture(folder + "/tmp.png")).save(jpeg, "JPEG"));
        QFile::remove(folder + "/tmp.png");
        const QString png = makePicture(folder + "/photo.png", 30, 30);
        const auto bytesOf = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray pngBytes = bytesOf(png);
        const QString tiff = folder + "/scan.tif";
        const QImage page(makePicture(folder + "/p.bmp"));
        QFile tiffFile(tiff);
        QVERIFY(tiffFile.open(QIODevice::WriteOnly));
        tiffFile.write(MakeMultiPageTiff({page, page, page}, 1));
        tiffFile.close();
        QFile::remove(folder + "/p.bmp");
        MainWindow window;
        window.show();
        addFiles(window, {jpeg, png, tiff});
        window.pTgtFoldersCmB->setCurrentIndex(0);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("PNG (.png)"));
        window.pTgtExistsCmB->setCurrentIndex(1);
        QString* results = expectResults();
        window.pConvertAct->trigger();

        QCOMPARE(bytesOf(png), pngBytes);
        QCOMPARE(outcome(window, tiff), QString("Failed"));
        QVERIFY(results->contains("Succeeded Files:2\nFailed Files:1"));
        QVERIFY2(results->contains("2 target file(s) got a numbered name"), qPrintable(*results));
        QStringList listed;
        for (int row = 0; row < window.pTgtModel->rowCount(); ++row)
            listed << window.pTgtModel->index(row, 0).data().toString();
        listed.sort();
        QCOMPARE(listed, QStringList({"photo-1", "photo-2", "scan-page1"}));
    }

    // A typed folder that does not exist is created on request, goes to the
    // top of the history and is there after a restart.
    void aTypedFolderIsCreatedAndRemembered_data()
    {
        QTest::addColumn<bool>("create");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }

    void aTypedFolderIsCreatedAndRemembered()
    {
        QFETCH(bool, create);
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/typed.png");
        const QString typed = folder + "/new/deeper";
        {
            MainWindow window;
            window.show();
            addFiles(window, {a});
            setTarget(window, typed, "BMP (.bmp)");
            QString question;
            KorvaneTest::AnswerNextModal<QMessageBox>([&question, create](QMessageBox* box) {
                question = box->text();
                box->button(create ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            if (create)
                expectResults();
            QToolTip::hideText();
            window.pConvertAct->trigger();
            QVERIFY(question.contains(typed));
            QCOMPARE(QFile::exists(typed + "/typed.bmp"), create);
            if (!create) {
                QCOMPARE(QToolTip::text(), QString("Invalid targt folder!"));
                QVERIFY(!QFileInfo::exists(typed));
                return;
            }
            QCOMPARE(window.pTgtFoldersCmB->itemText(1), typed);
        }
        MainWindow restarted;
        QCOMPARE(restarted.pTgtFoldersCmB->currentText(), typed);
        QCOMPARE(restarted.pTgtFoldersCmB->findText(typed), 1);
    }

    // The stored target folder is shown even when the history lacks it, and a
    // folder used again moves to the top without a duplicate.
    void historyKeepsTheLastFolderOnTop()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/h.png");
        QStringList others;
        for (int i = 0; i < 10; ++i) {
            others << folder + QString("/h%1").arg(i);
            QDir().mkpath(others.last());
        }
        {
            QSettings s("Pelmora", "Korvane");
            s.setValue("CSettings/TgtFolder", folder + "/out");
            s.setValue("TgtFolder/Count", 10);
            for (int i = 0; i < 10; ++i)
                s.setValue(QString("TgtFolder/%1").arg(i), others.at(i));
        }
        MainWindow window;
        window.show();
        QCOMPARE(window.pTgtFoldersCmB->currentText(), folder + "/out");
        addFiles(window, {a});
        window.pTgtFoldersCmB->setEditText(others.at(6));
        expectResults();
        window.pConvertAct->trigger();
        QCOMPARE(window.pTgtFoldersCmB->itemText(1), others.at(6));
        QCOMPARE(window.pTgtFoldersCmB->findText(others.at(6)), 1);
        QSettings s("Pelmora", "Korvane");
        QCOMPARE(s.value("TgtFolder/Count").toInt(), 10);
        QCOMPARE(s.value("TgtFolder/0").toString(), others.at(6));
        QCOMPARE(s.value("TgtFolder/1").toString(), folder + "/out");
    }

    void resultsDialogCanBeSwitchedOff()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/one.png");
        QSettings("Pelmora", "Korvane").setValue("Settings/ReportCResults", false);
        MainWindow window;
        window.show();
        addFiles(window, {a});
        setTarget(window, folder + "/out", "JPEG (.jpg)");
        bool dialogShown = false;
        KorvaneTest::AnswerNextModal<ConvertResultsDlg>([&dialogShown](ConvertResultsDlg* dialog) {
            dialogShown = true;
            QMetaObject::invokeMethod(dialog, "reject");
        }, 20);
        window.pConvertAct->trigger();
        QTest::qWait(300);
        QVERIFY(!dialogShown);
        QCOMPARE(outcome(window, a), QString("Succeeded"));
        QVERIFY(QFile::exists(folder + "/out/one.jpg"));
        // The counts stay until the next batch.
        QCOMPARE(window.aConvertCounts[0], 1);
        QCOMPARE(window.aConvertCounts[1], 1);
    }

    void sameAsSourceWritesBesideEachSource()
    {
        const QString folder = freshFolder();
        QDir().mkpath(folder + "/sub");
        const QString a = makePicture(folder + "/top.png");
        const QString b = makePicture(folder + "/sub/inner.png");
        MainWindow window;
        window.show();
        addFiles(window, {a});
        KorvaneTest::DropFiles(&window, {b});
        window.pTgtFoldersCmB->setCurrentIndex(0);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("PNG (.png)"));
        QString* results = expectResults();
        window.pConvertAct->trigger();
        // Same folder, same format: a unique name, the source untouched.
        QVERIFY(QFile::exists(folder + "/top-1.png"));
        QVERIFY(QFile::exists(folder + "/sub/inner-1.png"));
        QVERIFY(results->contains("Succeeded Files:2"));
    }

    void folderAndDpiAreCheckedFirst()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/check.png");
        MainWindow window;
        window.show();
        addFiles(window, {a});

        // Empty, relative, or the name of a file: refused without a question.
        for (const QString& bad : {QString(), QString("relative/out"), a}) {
            QToolTip::hideText();
            window.pTgtFoldersCmB->setEditText(bad);
            window.pConvertAct->trigger();
            QCOMPARE(QToolTip::text(), QString("Invalid targt folder!"));
        }
        QVERIFY(!QSettings("Pelmora", "Korvane").contains("CSettings/TgtFormat"));   // nothing saved

        window.pTgtFoldersCmB->setEditText(folder + "/out");
        window.pTgtDPICB->setChecked(false);
        for (const char* bad : {"59", "2401"}) {
            QToolTip::hideText();
            window.pTgtDPICmB->lineEdit()->setText(bad);
            window.pConvertAct->trigger();
            QCOMPARE(QToolTip::text(), QString("DPI should be between 60 and 2400"));
        }
        QVERIFY(!QFile::exists(folder + "/out/check.png"));

        QToolTip::hideText();
        window.pTgtDPICmB->lineEdit()->setText("2400");
        QString* results = expectResults();
        window.pConvertAct->trigger();
        QVERIFY(results->contains("Succeeded Files:1"));
        QCOMPARE(qRound(QImage(folder + "/out/check.png").dotsPerMeterX() * 0.0254), 2400);
        // The custom DPI was stored by the batch.
        QCOMPARE(QSettings("Pelmora", "Korvane").value("TgtDPI/0").toString(), QString("2400"));
    }

    void browsingAddsAFolderOnce()
    {
        const QString folder = freshFolder() + "/out";
        MainWindow window;
        window.show();
        const int before = window.pTgtFoldersCmB->count();
        KorvaneTest::ChooseFolder(folder);
        QTest::mouseClick(window.pTgtFolderBrowseBtn, Qt::LeftButton);
        QCOMPARE(window.pTgtFoldersCmB->count(), before + 1);
        QCOMPARE(window.pTgtFoldersCmB->currentText(), folder);
        window.pTgtFoldersCmB->setCurrentIndex(0);
        KorvaneTest::ChooseFolder(folder);
        QTest::mouseClick(window.pTgtFolderBrowseBtn, Qt::LeftButton);
        QCOMPARE(window.pTgtFoldersCmB->count(), before + 1);
        QCOMPARE(window.pTgtFoldersCmB->currentText(), folder);
    }

};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_convertcontrol.moc"
