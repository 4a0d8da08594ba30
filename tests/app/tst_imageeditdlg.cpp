// The edit dialog, driven with the mouse and keys: placing, dragging and stacking watermarks, OK, Cancel and Reset,
// the saved edits that come back whatever happens to the page being loaded; the resize panel.
#include "testsupport.h"

#include "dialogdriver.h"
#include "imageeditdlg.h"
#include "imageedititem.h"
#include "imageedittool.h"

class EditDlgTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    QString picture(QSize size) { return KorvaneTest::SavePicture(dir.filePath(QString("picture%1.png").arg(++counter)), size); }
    QString damaged()
    {
        QFile file(dir.filePath(QString("damaged%1.png").arg(++counter)));
        return file.open(QIODevice::WriteOnly) && file.write("\x89PNG\r\n\x1a\n not a picture") > 0 ? file.fileName() : QString();
    }

    static bool open(EditDlg& dialog)
    {
        dialog.show();
        return QTest::qWaitForWindowExposed(&dialog) && QTest::qWaitFor([&dialog]() { return dialog.bEditsLoaded; }, 20000);
    }
    static QPushButton* okButton(EditDlg& dialog) { return dialog.pButtonBox->button(QDialogButtonBox::Ok); }
    static QPoint at(EditDlg& dialog, QPointF scenePos) { return dialog.pView->mapFromScene(scenePos); }
    static void click(EditDlg& dialog, QPointF scenePos)
    {
        QTest::mouseClick(dialog.pView->viewport(), Qt::LeftButton, Qt::NoModifier, at(dialog, scenePos));
    }
    static void drag(EditDlg& dialog, QPointF from, QPointF to)
    {
        QWidget* viewport = dialog.pView->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, at(dialog, from));
        QMouseEvent move(QEvent::MouseMove, at(dialog, to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, at(dialog, to));
    }
    static QList<QGraphicsItem*> ofType(EditDlg& dialog, int type)
    {
        QList<QGraphicsItem*> items;
        for (QGraphicsItem* item : dialog.pScene->Watermarks())
            if (item->type() == type)
                items << item;
        return items;
    }
    static TextItem* placeText(EditDlg& dialog, QPointF scenePos, const QString& text)
    {
        const int before = ofType(dialog, TextItemType).size();
        dialog.pAddTextAct->trigger();
        click(dialog, scenePos);
        if (ofType(dialog, TextItemType).size() != before + 1)
            return nullptr;
        QTest::keyClicks(dialog.pView->viewport(), text);
        return static_cast<TextItem*>(ofType(dialog, TextItemType).last());
    }
    static ImageItem* addWatermark(EditDlg& dialog, const QString& file)
    {
        const int before = ofType(dialog, ImageItemType).size();
        KorvaneTest::ChooseFiles({file});
        dialog.pAddImageAct->trigger();
        if (!QTest::qWaitFor([&]() { return ofType(dialog, ImageItemType).size() == before + 1; }, 20000))
            return nullptr;
        return static_cast<ImageItem*>(ofType(dialog, ImageItemType).last());
    }
    static void setRemind(bool remind) { QSettings("Pelmora", "Korvane").setValue("Settings/RemindESettings", remind); }
    static QSharedPointer<TextEdited> storedText(const QString& text, int unit, int x, int y)
    {
        QSharedPointer<TextEdited> stored(new TextEdited);
        stored->document.reset(new QTextDocument(text));
        stored->params.positionUnit = unit;
        stored->params.xValue = x;
        stored->params.yValue = y;
        stored->zValue = 1000.0;
        return stored;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // The tests' own formats (the gated reader "kvgate") come first.
        QCoreApplication::setLibraryPaths(QStringList(KORVANE_TEST_PLUGIN_DIR) + QCoreApplication::libraryPaths());
    }
    void init()
    {
        QSettings("Pelmora", "Korvane").clear();
        setRemind(false);
    }

    void placeTextByClick()
    {
        EditSettings settings;
        EditDlg dialog(QString(), &settings);
        QVERIFY(open(dialog));
        TextItem* item = placeText(dialog, QPointF(300, 400), "Hello");
        QVERIFY(item);
        const QPointF clicked = dialog.pView->mapToScene(at(dialog, QPointF(300, 400)));
        QCOMPARE(item->pos(), clicked);
        QCOMPARE(item->GetParams().xValue, qRound(clicked.x()));
        QCOMPARE(item->document()->toPlainText(), QString("Hello"));
        QVERIFY(!dialog.pAddTextAct->isChecked());
        QVERIFY(dialog.pTextTool->parentWidget()->isVisible() && !dialog.pResizeTool->parentWidget()->isVisible());
        // A click beside it puts the text away and brings the page tools back; a double click edits it again.
        click(dialog, QPointF(800, 900));
        QVERIFY(!item->isSelected());
        QCOMPARE(item->textInteractionFlags(), Qt::NoTextInteraction);
        QVERIFY(dialog.pResizeTool->parentWidget()->isVisible() && !dialog.pTextTool->parentWidget()->isVisible());
        QTest::mouseDClick(dialog.pView->viewport(), Qt::LeftButton, Qt::NoModifier,
                           at(dialog, item->mapToScene(item->boundingRect().center())));
        QVERIFY(item->isSelected());
        QTest::keyClick(dialog.pView->viewport(), Qt::Key_End);
        QTest::keyClicks(dialog.pView->viewport(), "!");
        QCOMPARE(item->document()->toPlainText(), QString("Hello!"));
        // Enter commits a typed page size; the dialog stays open.
        click(dialog, QPointF(800, 900));
        dialog.pResizeTool->pEnableCB->setChecked(true);
        QSpinBox* width = dialog.pResizeTool->pWidthSB;
        width->selectAll();
        QTest::keyClicks(width, "500");
        QTest::keyClick(width, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.pScene->sceneRect(), QRectF(0, 0, 500, 500));
        // A text placed and left empty does not stay behind invisibly.
        QVERIFY(placeText(dialog, QPointF(100, 100), QString()));
        click(dialog, QPointF(400, 400));
        QTRY_COMPARE(ofType(dialog, TextItemType).size(), 1);
        // A larger font pulls a text near the right edge back onto the page, so the page shows what a conversion
        // draws.
        TextItem* edge = placeText(dialog, QPointF(440, 300), "edge");
        QVERIFY(edge);
        QComboBox* size = dialog.pTextTool->pFontSizeCmB;
        size->setCurrentText("72");
        QTest::keyClick(size, Qt::Key_Return);
        QCOMPARE(edge->GetParams().fontSize, 72);
        QVERIFY(edge->pos().x() + edge->boundingRect().width() <= dialog.pScene->sceneRect().right());
        QVERIFY(edge->pos().x() < 400.0);
        dialog.pRemoveAct->trigger();
    }

    // A 300×100 picture on the 1000×1000 page is shown 500×166 in the middle; bring to front and send to back reorder
    // it against the texts it overlaps (the saved list is the stacking order); dragged past an edge it stops at the
    // edge.
    void addAndDragAWatermark()
    {
        EditSettings settings;
        EditDlg dialog(QString(), &settings);
        QVERIFY(open(dialog));
        ImageItem* item = addWatermark(dialog, picture(QSize(300, 100)));
        QVERIFY(item);
        QCOMPARE(item->pixmap().size(), QSize(500, 166));
        QCOMPARE(item->pos(), QPointF(250, 417));
        QCOMPARE(item->GetParams().aspectRatio, 0.332);
        QVERIFY(item->isSelected() && dialog.pRemoveAct->isEnabled() && dialog.pImageTool->parentWidget()->isVisible());
        QCOMPARE(QSettings("Pelmora", "Korvane").value("ESettings/WIFolder").toString(), dir.path());
        TextItem* over = placeText(dialog, QPointF(300, 450), "over");
        TextItem* far = placeText(dialog, QPointF(40, 40), "far");
        QVERIFY(over && far);
        click(dialog, QPointF(700, 550));
        QVERIFY(item->isSelected());
        dialog.pBringToFrontAct->trigger();
        QCOMPARE(item->zValue(), 1000.1);
        dialog.pSendToBackAct->trigger();
        QCOMPARE(item->zValue(), 0.0);
        click(dialog, over->mapToScene(over->boundingRect().center()));
        QVERIFY(over->isSelected());
        dialog.pSendToBackAct->trigger();
        QCOMPARE(over->zValue(), -0.1);
        QCOMPARE(far->zValue(), 1000.0);
        click(dialog, QPointF(700, 550));
        drag(dialog, QPointF(500, 500), QPointF(1400, 520));
        QVERIFY(item->pos().x() == 500.0 && qAbs(item->pos().y() - 437) < 2);
        QCOMPARE(QPoint(dialog.pImageTool->pXSB->value(), item->GetParams().xValue), QPoint(500, 500));
        drag(dialog, QPointF(700, 500), QPointF(-800, -900));
        QCOMPARE(item->pos(), QPointF(0, 0));
        QCOMPARE(dialog.pImageTool->pYSB->value(), 0);
        dialog.pRemoveAct->trigger();
        QVERIFY(dialog.pScene->Watermarks().size() == 2 && !dialog.pRemoveAct->isEnabled());
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        QCOMPARE(settings.items.size(), 2);
        QCOMPARE(settings.items.at(1).dynamicCast<TextEdited>()->document->toPlainText(), QString("far"));
    }

    void okAndTheReminder_data()
    {
        QTest::addColumn<bool>("remind");
        QTest::addColumn<int>("answer");        // 0 OK, 1 OK and "Do not show again", 2 Cancel
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("remindAfter");
        QTest::newRow("no reminder") << false << -1 << true << false;
        QTest::newRow("reminder, OK") << true << 0 << true << true;
        QTest::newRow("reminder, do not show again") << true << 1 << true << false;
        QTest::newRow("reminder cancelled") << true << 2 << false << true;
    }
    void okAndTheReminder()
    {
        QFETCH(bool, remind);
        QFETCH(int, answer);
        QFETCH(bool, saved);
        QFETCH(bool, remindAfter);
        setRemind(remind);
        EditSettings settings;
        EditDlg dialog(QString(), &settings);
        QVERIFY(open(dialog));
        QVERIFY(placeText(dialog, QPointF(100, 100), "note"));
        static bool reminded;
        reminded = false;
        if (remind) {
            KorvaneTest::AnswerNextModal<ImageEditInfoDlg>([answer](ImageEditInfoDlg* info) {
                reminded = true;
                info->findChild<QCheckBox*>()->setChecked(answer == 1);
                info->findChild<QDialogButtonBox*>()->button(answer == 2 ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)->click();
            });
        }
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        QCOMPARE(reminded, remind);
        QCOMPARE(QVector<bool>({settings.edited, settings.items.size() == 1, !dialog.isVisible()}), QVector<bool>(3, saved));
        QCOMPARE(QSettings("Pelmora", "Korvane").value("Settings/RemindESettings", true).toBool(), remindAfter);
    }

    // Reset clears the page and its watermarks in the dialog only: Cancel keeps what was saved, OK saves the cleared
    // state.
    void resetThenCancelOrOk()
    {
        EditSettings settings;
        settings.edited = true;
        settings.rfr.flip = FlipVertical;
        settings.items << storedText("kept", SizeUnitPixels, 10, 10);
        const QSharedPointer<ItemEdited> kept = settings.items.first();
        for (bool confirm : {false, true}) {
            EditDlg dialog(QString(), &settings);
            QVERIFY(open(dialog));
            QVERIFY(dialog.pScene->Watermarks().size() == 1 && dialog.pFlipTool->GetFlip() == FlipVertical);
            dialog.pResetAct->trigger();
            QVERIFY(dialog.pScene->Watermarks().isEmpty() && dialog.pFlipTool->GetFlip() == FlipNone);
            QTest::mouseClick(dialog.pButtonBox->button(confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                              Qt::LeftButton);
            QCOMPARE(settings.items.size(), confirm ? 0 : 1);
            QCOMPARE(settings.rfr.flip, int(confirm ? FlipNone : FlipVertical));
            if (!confirm)
                QCOMPARE(settings.items.first(), kept);
        }
    }

    // OK is not offered before the saved edits are in the dialog, and they come in also when the page cannot be read.
    void savedEditsSurviveThePageLoad_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("slow page") << false;
        QTest::newRow("unreadable page") << true;
    }
    void savedEditsSurviveThePageLoad()
    {
        QFETCH(bool, fails);
        EditSettings settings;
        settings.edited = true;
        settings.rfr.resizeEnabled = true;
        settings.rfr.resizeUnit = SizeUnitPercent;
        settings.rfr.widthValue = settings.rfr.heightValue = 50;
        settings.rfr.flip = FlipHorizontal;
        settings.rfr.angle = 90;
        settings.items << storedText("saved", SizeUnitPercent, 10, 20);
        const QString gated = dir.filePath(QString("slow%1.kvgate").arg(++counter));
        QFile(gated).open(QIODevice::WriteOnly);
        const QString source = fails ? damaged() : gated;
        EditDlg dialog(source, &settings);
        dialog.show();
        if (!fails) {
            QTRY_VERIFY(QFile::exists(gated + ".started"));
            QVERIFY(!okButton(dialog)->isEnabled());
            dialog.accept();
            QVERIFY(dialog.isVisible());
            QFile(gated + ".go").open(QIODevice::WriteOnly);
        }
        QTRY_VERIFY_WITH_TIMEOUT(okButton(dialog)->isEnabled(), 20000);
        // The neutral 1000×1000 page or the 8×8 one, at 50 % and turned.
        const QSize page = fails ? QSize(500, 500) : QSize(4, 4);
        QCOMPARE(dialog.pScene->sceneRect().size(), QSizeF(page));
        QCOMPARE(dialog.pLoadingText->isVisible(), fails);
        if (fails)
            QVERIFY(dialog.pLoadingText->toPlainText().contains(QFileInfo(source).fileName()));
        QCOMPARE(dialog.pScene->Watermarks().size(), 1);
        QTest::mouseClick(okButton(dialog), Qt::LeftButton);
        QVERIFY(settings.rfr.resizeEnabled && settings.items.size() == 1);
        QCOMPARE(QVector<int>({settings.rfr.widthValue, settings.rfr.heightValue, settings.rfr.flip, settings.rfr.angle}),
                 QVector<int>({50, 50, FlipHorizontal, 90}));
        const QSharedPointer<TextEdited> text = settings.items.first().dynamicCast<TextEdited>();
        QCOMPARE(text->document->toPlainText(), QString("saved"));
        QCOMPARE(QPoint(text->params.xValue, text->params.yValue), QPoint(10, 20));
    }

    // A watermark picture that cannot be read is named in a message box.
    void unreadableWatermarks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("damaged file") << "damaged";
        QTest::newRow("file gone before it is read") << "vanished";
        QTest::newRow("saved picture empty") << "saved";
    }
    void unreadableWatermarks()
    {
        QFETCH(QString, how);
        EditSettings settings;
        if (how == "saved") {
            settings.items << QSharedPointer<ImageEdited>(new ImageEdited) << storedText("text", SizeUnitPixels, 5, 5);
        }
        QString message;
        KorvaneTest::AnswerNextModal<QMessageBox>([&message](QMessageBox* box) {
            message = box->text();
            box->accept();
        }, 2000);
        EditDlg dialog(QString(), &settings);
        QVERIFY(open(dialog));
        const QString file = how == "damaged" ? damaged() : picture(QSize(20, 20));
        if (how == "damaged") {
            KorvaneTest::ChooseFiles({file});
            dialog.pAddImageAct->trigger();
        } else if (how == "vanished") {
            KorvaneTest::AnswerNextModal<QFileDialog>([file](QFileDialog* chooser) {
                chooser->setDirectory(QFileInfo(file).absolutePath());
                KorvaneTest::TypeFileName(chooser, QFileInfo(file).fileName());
                QMetaObject::invokeMethod(chooser, "accept");
                QFile::remove(file);
            });
            dialog.pAddImageAct->trigger();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!message.isEmpty(), 20000);
        if (how != "saved")
            QVERIFY2(message.contains(QFileInfo(file).fileName()), qPrintable(message));
        QVERIFY(ofType(dialog, ImageItemType).isEmpty());
        QCOMPARE(ofType(dialog, TextItemType).size(), how == "saved" ? 1 : 0);
    }

    // The page resize panel: a unit switch keeps the size; "Keep aspect ratio" makes the height follow the width.
    void resizePanel()
    {
        ResizeTool tool;
        tool.SetSourceSize(400, 300);
        tool.Reset();
        tool.pEnableCB->setChecked(true);
        tool.pKeepARCB->setChecked(false);
        tool.pWidthSB->setValue(200);
        tool.pHeightSB->setValue(90);
        tool.pKeepARCB->setChecked(true);
        QVERIFY(tool.pHeightSB->value() == 150 && !tool.pHeightSB->isEnabled());
        tool.pUnitCmB->setCurrentIndex(SizeUnitPercent);
        QCOMPARE(QSize(tool.pWidthSB->value(), tool.pHeightSB->value()), QSize(50, 50));
        tool.pUnitCmB->setCurrentIndex(SizeUnitPixels);
        QCOMPARE(tool.pWidthSB->value(), 200);
    }

    // The colour dialog opens on black; cancelling it keeps the colour.
    void textColor()
    {
        TextTool tool;
        QSignalSpy spy(&tool, SIGNAL(textColorChanged()));
        QColor offered;
        KorvaneTest::AnswerNextModal<QColorDialog>([&offered](QColorDialog* dialog) {
            offered = dialog->currentColor();
            dialog->setCurrentColor(QColor(200, 20, 20));
            dialog->accept();
        });
        tool.pColorBtn->click();
        QVERIFY(offered == QColor(Qt::black) && spy.count() == 1);
        KorvaneTest::AnswerNextModal<QColorDialog>([](QColorDialog* dialog) { dialog->reject(); });
        tool.pColorBtn->click();
        QCOMPARE(spy.count(), 1);
        TextParams params;
        tool.GetParams(params);
        QCOMPARE(params.color, QColor(200, 20, 20));
        QVERIFY(tool.pColorBtn->styleSheet().contains("#c81414"));
    }
};

KORVANE_TEST_MAIN(EditDlgTest)
#include "tst_imageeditdlg.moc"
