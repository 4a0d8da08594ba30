// Edits made in the edit dialog and confirmed reach the converted pages:
// the watermarks are drawn where the dialog showed them, and on a page of
// another size where their percent placing puts them.
#include "testsupport.h"

#include "dialogdriver.h"
#include "imageeditdlg.h"
#include "imageedititem.h"
#include "imageedittool.h"
#include "mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGraphicsView>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>

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

bool Near(const QRect& actual, const QRect& expected, int dx, int dy)
{
    return qAbs(actual.left() - expected.left()) <= dx && qAbs(actual.right() - expected.right()) <= dx
           && qAbs(actual.top() - expected.top()) <= dy && qAbs(actual.bottom() - expected.bottom()) <= dy;
}

QByteArray Describe(const QRect& actual, const QRect& expected)
{
    return QString("got %1,%2 %3x%4, expected %5,%6 %7x%8")
        .arg(actual.x()).arg(actual.y()).arg(actual.width()).arg(actual.height())
        .arg(expected.x()).arg(expected.y()).arg(expected.width()).arg(expected.height())
        .toUtf8();
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString picture(const QString& name, QSize size, QColor color)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        const QString path = dir.filePath(name);
        return image.save(path) ? path : QString();
    }

    // What the dialog showed: the mark's rectangle and the text's inked
    // pixels, on the page it was opened with.
    struct Shown
    {
        QRect mark;
        QRect text;
        QSize page;
    };

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

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Each edit action opens the dialog on the one selected source (two
    // selected: the neutral page) with the page tools it is not about folded.
    void theSixActions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expanded");     // of Resize, Flip, Rotate
        QTest::newRow("Edit Source(s)") << "Edit Source(s)" << "RFO";
        QTest::newRow("Resize") << "Resize" << "R--";
        QTest::newRow("Flip") << "Flip" << "-F-";
        QTest::newRow("Rotate") << "Rotate" << "--O";
        QTest::newRow("Watermark Text") << "Watermark Text" << "---";
        QTest::newRow("Watermark Image") << "Watermark Image" << "---";
    }
    void theSixActions()
    {
        QFETCH(QString, action);
        QFETCH(QString, expanded);
        const QString one = picture("one.png", QSize(320, 240), Qt::white);
        const QString two = picture("two.png", QSize(100, 100), Qt::white);
        MainWindow window;
        window.show();
        KorvaneTest::ChooseFiles({one, two});
        window.pAddSrcFilesAct->trigger();
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
            for (QAction* candidate : window.findChildren<QAction*>())
                if (candidate->text() == action)
                    candidate->trigger();
            QCOMPARE(folded, expanded);
            QCOMPARE(page, both ? QSizeF(1000, 1000) : QSizeF(320, 240));
        }
        QVERIFY(!window.convertSettings.edited);
    }

    void confirmedEditsAreDrawnWhereTheDialogShowedThem()
    {
        QSettings("Pelmora", "Korvane").setValue("MainWindow/FirstRun", false);
        QSettings("Pelmora", "Korvane").setValue("Settings/ReportCResults", false);
        const QColor paper(225, 225, 225);
        const QString first = picture("first.png", QSize(800, 600), paper);
        const QString second = picture("second.png", QSize(500, 1000), paper);
        const QString markFile = picture("mark.png", QSize(60, 30), QColor(255, 0, 0));
        QDir().mkpath(dir.filePath("out"));

        MainWindow window;
        window.show();
        KorvaneTest::ChooseFiles({first, second});
        window.pAddSrcFilesAct->trigger();
        QCOMPARE(window.SourceFileList.size(), 2);
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
        const QImage onFirst(dir.filePath("out/first.png"));
        const QImage onSecond(dir.filePath("out/second.png"));
        QCOMPARE(onFirst.size(), QSize(800, 600));
        QCOMPARE(onSecond.size(), QSize(500, 1000));

        // On the page the dialog showed: exactly there.
        QCOMPARE(pixelsWhere(onFirst, IsRed), shown.mark);
        const QRect textOnFirst = pixelsWhere(onFirst, IsDark);
        QVERIFY2(Near(textOnFirst, shown.text, 1, 1), Describe(textOnFirst, shown.text));

        // On a page of another size: placed and sized in percent of it, the
        // mark keeping its proportions and the text its share of the height,
        // within the whole percents they are stored in.
        const double sx = 500.0 / 800.0;
        const double sy = 1000.0 / 600.0;
        const int markWidth = qRound(shown.mark.width() * sx);
        const QRect mark(qRound(shown.mark.x() * sx), qRound(shown.mark.y() * sy), markWidth,
                         qRound(markWidth * double(shown.mark.height()) / shown.mark.width()));
        const QRect markOnSecond = pixelsWhere(onSecond, IsRed);
        QVERIFY2(Near(markOnSecond, mark, 5, 10), Describe(markOnSecond, mark));
        const QRect textOnSecond = pixelsWhere(onSecond, IsDark);
        const QRect text(QPoint(qRound(shown.text.x() * sx), qRound(shown.text.y() * sy)),
                         (QSizeF(shown.text.size()) * sy).toSize());
        QVERIFY2(Near(textOnSecond, text, 10, 20), Describe(textOnSecond, text));
    }
};

KORVANE_TEST_MAIN(MainWindowTest)
#include "tst_editconvert.moc"
