// Converting from the main window: outcomes per row, the results dialog, cancelling, the target folder checks and
// history; edits made in the edit dialog reach the converted pages where the dialog showed them, and on a page of
// another size where their percent placing puts them.
#include "testsupport.h"

#include "convertdlgs.h"
#include "dialogdriver.h"
#include "imageeditdlg.h"
#include "imageedititem.h"
#include "imageedittool.h"
#include "mainwindow.h"
#include "tst_multipagetiff.h"

namespace {

// The widget beside a label in a tool panel's group, found as a user finds it.
template <typename T>
T* field(QWidget* tool, const QString& group, const QString& label)
{
    for (QGroupBox* box : tool->findChildren<QGroupBox*>()) {
        QGridLayout* grid = qobject_cast<QGridLayout*>(box->layout());
        if (box->title() != group || !grid)
            continue;
        for (int row = 0; row < grid->rowCount(); ++row) {
            QLayoutItem* name = grid->itemAtPosition(row, 0);
            QLayoutItem* value = grid->itemAtPosition(row, 1);
            QLabel* text = name ? qobject_cast<QLabel*>(name->widget()) : nullptr;
            if (text && text->text() == label && value)
                return qobject_cast<T*>(value->widget());
        }
    }
    return nullptr;
}

QAction* action(QWidget* dialog, const QString& text)
{
    for (QAction* candidate : dialog->findChildren<QAction*>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

// Bounding box of the pixels that pass the test.
QRect pixelsWhere(const QImage& image, const std::function<bool(QRgb)>& test)
{
    QRect box;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if (test(rgb.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

bool IsRed(QRgb pixel) { return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60; }
bool IsDark(QRgb pixel) { return qRed(pixel) < 90 && qGreen(pixel) < 90 && qBlue(pixel) < 90; }

// Empty when every edge of actual is within dx, dy of expected's; else what differs.
QByteArray Off(const QRect& actual, const QRect& expected, int dx, int dy)
{
    if (qAbs(actual.left() - expected.left()) <= dx && qAbs(actual.right() - expected.right()) <= dx
        && qAbs(actual.top() - expected.top()) <= dy && qAbs(actual.bottom() - expected.bottom()) <= dy)
        return QByteArray();
    return QString("got %1,%2 %3x%4, expected %5,%6 %7x%8").arg(actual.x()).arg(actual.y()).arg(actual.width())
        .arg(actual.height()).arg(expected.x()).arg(expected.y()).arg(expected.width()).arg(expected.height()).toUtf8();
}

} // namespace

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
        return KorvaneTest::SavePicture(path, QSize(width, height));
    }
    static QString write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
    }
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

    // What the dialog showed: the mark's rectangle and the text's inked pixels, on the page it was opened with.
    struct Shown { QRect mark, text; QSize page; };

    static void editInDialog(EditDlg* dialog, const QString& markFile, Shown& shown)
    {
        EditScene* scene = dialog->findChild<EditScene*>();
        QGraphicsView* view = scene->views().first();
        QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(ok->isEnabled(), 20000);
        auto at = [view](QPointF scenePos) { return view->mapFromScene(scenePos); };
        // A text: placed by a click, typed, sized and placed in percent.
        action(dialog, "Add Text")->trigger();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(QPointF(120, 90)));
        QTest::keyClicks(view->viewport(), "KORVANE");
        TextTool* textTool = dialog->findChild<TextTool*>();
        QComboBox* size = field<QComboBox>(textTool, "Font", "Size:");
        QVERIFY(size && field<QComboBox>(textTool, "Font", "Unit:") && field<QComboBox>(textTool, "Pos", "Unit:"));
        size->lineEdit()->selectAll();
        QTest::keyClicks(size->lineEdit(), "28");
        field<QComboBox>(textTool, "Font", "Unit:")->setCurrentIndex(FontUnitPercent);
        field<QComboBox>(textTool, "Pos", "Unit:")->setCurrentIndex(SizeUnitPercent);
        // A picture: chosen, sized and placed in percent, dragged.
        KorvaneTest::ChooseFiles({markFile});
        action(dialog, "Add Image")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(scene->HasSelectedOfType(ImageItemType), 20000);
        ImageTool* imageTool = dialog->findChild<ImageTool*>();
        field<QComboBox>(imageTool, "Resize", "Unit:")->setCurrentIndex(SizeUnitPercent);
        field<QComboBox>(imageTool, "Pos", "Unit:")->setCurrentIndex(SizeUnitPercent);
        QGraphicsItem* mark = scene->selectedItems().first();
        const QPointF grip = mark->mapToScene(mark->boundingRect().center());
        QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(grip));
        QMouseEvent move(QEvent::MouseMove, at(grip + QPointF(160, 120)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(grip + QPointF(160, 120)));
        scene->clearSelection();
        shown.page = scene->sceneRect().size().toSize();
        shown.mark = QRect(mark->pos().toPoint(), static_cast<QGraphicsPixmapItem*>(mark)->pixmap().size());
        QImage rendered(shown.page, QImage::Format_RGB32);
        {
            QPainter painter(&rendered);
            scene->render(&painter, QRectF(rendered.rect()), scene->sceneRect());
        }
        shown.text = pixelsWhere(rendered, IsDark);
        KorvaneTest::AnswerNextModal<ImageEditInfoDlg>([](ImageEditInfoDlg* info) { info->accept(); });
        QTest::mouseClick(ok, Qt::LeftButton);
    }

    // The names in the target list, sorted.
    static QStringList targetNames(MainWindow& window)
    {
        QStringList names;
        for (int row = 0; row < window.pTgtModel->rowCount(); ++row)
            names << window.pTgtModel->index(row, 0).data().toString();
        names.sort();
        return names;
    }

    // Converts the selection, answers the results dialog with "OK" and returns its texts.
    static QString convert(MainWindow& window)
    {
        static QString text;
        text.clear();
        KorvaneTest::AnswerNextModal<ConvertResultsDlg>([](ConvertResultsDlg* dialog) {
            for (QLabel* label : dialog->findChildren<QLabel*>())
                text += label->text() + "\n";
            QMetaObject::invokeMethod(dialog, "reject");
        }, 2000);
        window.pConvertAct->trigger();
        return text;
    }

private slots:
    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        QSettings("Pelmora", "Korvane").setValue("MainWindow/FirstRun", false);
    }

    // A removed row is not converted; outcomes follow their sources through a sort made while the batch runs; the
    // target list holds what was written.
    void removeTheMiddleAndConvertTheRest()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/alpha.png");
        const QString b = makePicture(folder + "/beta.png");
        const QString c = makePicture(folder + "/gamma.png", 30, 20);
        const QString broken = write(folder + "/zz-broken.png", "\x89PNG\r\n\x1a\n not a picture");
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a, b, c, broken});
        window.pSrcTreeView->sortByColumn(0, Qt::AscendingOrder);
        window.pSrcSelModel->select(window.pSrcModel->index(window.SrcRowOf(b), 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window.pRemoveAct->trigger();
        window.pSelectAllAct->trigger();
        QCOMPARE(window.lSelSrcFiles.size(), 3);
        setTarget(window, folder + "/out", "BMP (.bmp)");
        QTimer::singleShot(0, &window, [&window]() { window.pSrcTreeView->sortByColumn(0, Qt::DescendingOrder); });
        const QString results = convert(window);
        QCOMPARE(QStringList({outcome(window, a), outcome(window, c), outcome(window, broken)}),
                 QStringList({"Succeeded", "Succeeded", "Failed"}));
        QVERIFY(!window.pSrcModel->item(window.SrcRowOf(a), 0)->icon().isNull());
        QCOMPARE(QImage(folder + "/out/gamma.bmp").size(), QSize(30, 20));
        QCOMPARE(QDir(folder + "/out").entryList(QDir::Files), QStringList({"alpha.bmp", "gamma.bmp"}));
        QVERIFY(results.contains("Selected Files:3\nSucceeded Files:2\nFailed Files:1\nCanceled Files:0"));
        QVERIFY(results.contains("multi-core"));
        QCOMPARE(targetNames(window), QStringList({"alpha", "gamma"}));
        QCOMPARE(window.pTgtModel->index(0, 1).data().toString(), QString("BMP"));
        // One target selected; the counts reset after the dialog.
        QCOMPARE(QPoint(window.pTgtSelModel->selectedRows().size(), window.aConvertCounts[0]), QPoint(1, 0));
    }

    void cancellingHalfway()
    {
        const QString folder = freshFolder();
        QStringList sources;
        for (int i = 0; i < 24; ++i)
            sources << makePicture(folder + QString("/big%1.png").arg(i, 2, 10, QChar('0')), 1200, 900);
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, sources);
        setTarget(window, folder + "/out", "PNG (.png)");
        // Press the progress dialog's Cancel as soon as the first result is in.
        QMetaObject::Connection cancelOnFirst = connect(&window.convertWatcher, &QFutureWatcherBase::resultReadyAt, [] {
            if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
                progress->findChild<QPushButton*>()->click();
        });
        const QString results = convert(window);
        disconnect(cancelOnFirst);
        int succeeded = 0, canceled = 0;
        for (const QString& path : sources) {
            const QString text = outcome(window, path);
            QVERIFY2(text == "Succeeded" || text == "Canceled", qPrintable(text));
            (text == "Succeeded" ? succeeded : canceled)++;
        }
        QVERIFY(succeeded >= 1 && canceled >= 1);
        QVERIFY(results.contains(QString("Selected Files:24\nSucceeded Files:%1\nFailed Files:0\nCanceled Files:%2")
                                      .arg(succeeded).arg(canceled)));
        // What is on disk is exactly what was counted as succeeded and listed: a job finished after the cancel is
        // listed, a canceled one left nothing.
        QStringList listed;
        for (int row = 0; row < window.pTgtModel->rowCount(); ++row)
            listed << QFileInfo(window.TgtFileList.value(window.pTgtModel->index(row, 4).data(Qt::UserRole).toInt())).fileName();
        listed.sort();
        QCOMPARE(listed, QDir(folder + "/out").entryList(QDir::Files));
        QCOMPARE(listed.size(), succeeded);
        // The next batch starts with these rows blank, not with this outcome.
        QStringList atStart;
        QMetaObject::Connection started = connect(&window.convertWatcher, &QFutureWatcherBase::started, [&] {
            for (const QString& path : sources)
                atStart << outcome(window, path);
        });
        convert(window);
        disconnect(started);
        QCOMPARE(atStart, QStringList(QVector<QString>(sources.size()).toList()));
    }

    // Overwrite next to the sources spares the batch's own files (and says how many targets took a number instead); a
    // multi-page source that fails halfway still lists the page it wrote.
    void aBatchKeepsItsOwnFilesAndListsWhatItWrote()
    {
        const QString folder = freshFolder();
        const QString jpeg = KorvaneTest::SavePicture(folder + "/photo.jpg", QSize(64, 48));
        const QString png = makePicture(folder + "/photo.png", 30, 30);
        const QByteArray pngBytes = read(png);
        QImage page(64, 48, QImage::Format_RGB32);
        page.fill(Qt::gray);
        const QString tiff = write(folder + "/scan.tif", MakeMultiPageTiff({page, page, page}, 1));
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {jpeg, png, tiff});
        window.pTgtFoldersCmB->setCurrentIndex(0);
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("PNG (.png)"));
        window.pTgtExistsCmB->setCurrentIndex(1);
        const QString results = convert(window);
        QCOMPARE(read(png), pngBytes);
        QCOMPARE(outcome(window, tiff), QString("Failed"));
        QVERIFY(results.contains("Succeeded Files:2\nFailed Files:1"));
        QVERIFY2(results.contains("2 target file(s) got a numbered name"), qPrintable(results));
        QCOMPARE(targetNames(window), QStringList({"photo-1", "photo-2", "scan-page1"}));
    }

    // A typed folder that does not exist is created on request, goes to the top of the history and is there after a
    // restart.
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
            KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a});
            setTarget(window, typed, "BMP (.bmp)");
            QString question;
            KorvaneTest::AnswerNextModal<QMessageBox>([&question, create](QMessageBox* box) {
                question = box->text();
                box->button(create ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            QToolTip::hideText();
            if (create)
                convert(window);
            else
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

    // The stored target folder is shown even when the history lacks it, and a folder used again moves to the top
    // without a duplicate. The results dialog switched off, the counts stay until the next batch.
    void historyKeepsTheLastFolderOnTop()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/h.png");
        QSettings s("Pelmora", "Korvane");
        QStringList others;
        for (int i = 0; i < 10; ++i) {
            others << folder + QString("/h%1").arg(i);
            QDir().mkpath(others.last());
            s.setValue(QString("TgtFolder/%1").arg(i), others.last());
        }
        s.setValue("CSettings/TgtFolder", folder + "/out");
        s.setValue("TgtFolder/Count", 10);
        s.setValue("Settings/ReportCResults", false);
        MainWindow window;
        window.show();
        QCOMPARE(window.pTgtFoldersCmB->currentText(), folder + "/out");
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a});
        window.pTgtFoldersCmB->setEditText(others.at(6));
        bool dialogShown = false;
        KorvaneTest::AnswerNextModal<ConvertResultsDlg>([&dialogShown](ConvertResultsDlg* dialog) {
            dialogShown = true;
            QMetaObject::invokeMethod(dialog, "reject");
        }, 20);
        window.pConvertAct->trigger();
        QTest::qWait(300);
        QVERIFY(!dialogShown);
        QCOMPARE(outcome(window, a), QString("Succeeded"));
        QVERIFY(QFile::exists(others.at(6) + "/h.png"));
        QCOMPARE(QPoint(window.aConvertCounts[0], window.aConvertCounts[1]), QPoint(1, 1));
        QCOMPARE(window.pTgtFoldersCmB->findText(others.at(6)), 1);
        QCOMPARE(QStringList({s.value("TgtFolder/Count").toString(), s.value("TgtFolder/0").toString(),
                              s.value("TgtFolder/1").toString()}), QStringList({"10", others.at(6), folder + "/out"}));
        // A folder chosen by browsing joins the list once.
        const QString browsed = freshFolder() + "/out";
        int count = -1;
        for (int i = 0; i < 2; ++i) {
            window.pTgtFoldersCmB->setCurrentIndex(0);
            KorvaneTest::ChooseFolder(browsed);
            QTest::mouseClick(window.pTgtFolderBrowseBtn, Qt::LeftButton);
            QCOMPARE(window.pTgtFoldersCmB->currentText(), browsed);
            QVERIFY(count < 0 || window.pTgtFoldersCmB->count() == count);
            count = window.pTgtFoldersCmB->count();
        }
    }

    void folderAndDpiAreCheckedFirst()
    {
        const QString folder = freshFolder();
        const QString a = makePicture(folder + "/check.png");
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {a});
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
        const QString results = convert(window);
        QVERIFY(results.contains("Succeeded Files:1"));
        QCOMPARE(qRound(QImage(folder + "/out/check.png").dotsPerMeterX() * 0.0254), 2400);
        // The custom DPI was stored by the batch.
        QCOMPARE(QSettings("Pelmora", "Korvane").value("TgtDPI/0").toString(), QString("2400"));
    }

    // Each edit action opens the dialog on the one selected source (two selected: the neutral page) with the page
    // tools it is not about folded.
    void theSixActions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expanded");     // of Resize, Flip, Rotate
        for (const char* row : {"Edit Source(s):RFO", "Resize:R--", "Flip:-F-", "Rotate:--O", "Watermark Text:---",
                                "Watermark Image:---"})
            QTest::newRow(row) << QString(row).section(':', 0, 0) << QString(row).section(':', 1);
    }
    void theSixActions()
    {
        QFETCH(QString, action);
        QFETCH(QString, expanded);
        const QString one = KorvaneTest::SavePicture(dir.filePath("one.png"), QSize(320, 240), Qt::white);
        const QString two = KorvaneTest::SavePicture(dir.filePath("two.png"), QSize(100, 100), Qt::white);
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {one, two});
        for (bool both : {false, true}) {
            window.pSrcSelModel->select(window.pSrcModel->index(window.SrcRowOf(one), 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            if (both)
                window.pSelectAllAct->trigger();
            QString folded;
            QSizeF page;
            KorvaneTest::AnswerNextModal<EditDlg>([&](EditDlg* dialog) {
                QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
                if (QTest::qWaitFor([ok]() { return ok->isEnabled(); }, 20000)) {
                    folded = QString(dialog->GetResizeTool()->isVisible() ? "R" : "-")
                             + (dialog->GetFlipTool()->isVisible() ? "F" : "-")
                             + (dialog->GetRotateTool()->isVisible() ? "O" : "-");
                    page = dialog->findChild<EditScene*>()->sceneRect().size();
                }
                dialog->reject();
            });
            ::action(&window, action)->trigger();
            QCOMPARE(folded, expanded);
            QCOMPARE(page, both ? QSizeF(1000, 1000) : QSizeF(320, 240));
        }
        QVERIFY(!window.convertSettings.edited);
    }

    void confirmedEditsAreDrawnWhereTheDialogShowedThem()
    {
        QSettings("Pelmora", "Korvane").setValue("Settings/ReportCResults", false);
        const QColor paper(225, 225, 225);
        const QString first = KorvaneTest::SavePicture(dir.filePath("first.png"), QSize(800, 600), paper);
        const QString second = KorvaneTest::SavePicture(dir.filePath("second.png"), QSize(500, 1000), paper);
        const QString markFile = KorvaneTest::SavePicture(dir.filePath("mark.png"), QSize(60, 30), QColor(255, 0, 0));
        QDir().mkpath(dir.filePath("out"));
        MainWindow window;
        window.show();
        KorvaneTest::AddFiles(window.pAddSrcFilesAct, {first, second});
        window.pSrcSelModel->select(window.pSrcModel->index(window.SrcRowOf(first), 0),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Shown shown;
        bool edited = false;
        KorvaneTest::AnswerNextModal<EditDlg>([&](EditDlg* dialog) {
            editInDialog(dialog, markFile, shown);
            edited = !dialog->isVisible();
            if (dialog->isVisible())
                dialog->reject();
        }, 2000);
        window.pWatermarkImageAct->trigger();
        QVERIFY(edited);
        QCOMPARE(shown.page, QSize(800, 600));
        QVERIFY(window.convertSettings.edited);
        QCOMPARE(window.convertSettings.items.size(), 2);
        window.pSelectAllAct->trigger();
        window.pTgtFoldersCmB->setEditText(dir.filePath("out"));
        window.pTgtFmtCmB->setCurrentIndex(window.pTgtFmtCmB->findText("PNG (.png)"));
        window.pConvertAct->trigger();
        const QImage onFirst(dir.filePath("out/first.png")), onSecond(dir.filePath("out/second.png"));
        QCOMPARE(onFirst.size() + onSecond.size(), QSize(1300, 1600));
        // On the page the dialog showed: exactly there.
        QCOMPARE(pixelsWhere(onFirst, IsRed), shown.mark);
        QByteArray off = Off(pixelsWhere(onFirst, IsDark), shown.text, 1, 1);
        QVERIFY2(off.isEmpty(), off.constData());
        // On a page of another size: placed and sized in percent of it, the mark keeping its proportions and the text
        // its share of the height, within the whole percents they are stored in.
        const double sx = 500.0 / 800.0;
        const double sy = 1000.0 / 600.0;
        const int markWidth = qRound(shown.mark.width() * sx);
        const QRect mark(qRound(shown.mark.x() * sx), qRound(shown.mark.y() * sy), markWidth,
                         qRound(markWidth * double(shown.mark.height()) / shown.mark.width()));
        off = Off(pixelsWhere(onSecond, IsRed), mark, 5, 10);
        QVERIFY2(off.isEmpty(), off.constData());
        const QRect text(QPoint(qRound(shown.text.x() * sx), qRound(shown.text.y() * sy)),
                         (QSizeF(shown.text.size()) * sy).toSize());
        off = Off(pixelsWhere(onSecond, IsDark), text, 10, 20);
        QVERIFY2(off.isEmpty(), off.constData());
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_convertcontrol.moc"
