#include "imageeditdlg.h"

#include "applyedits.h"
#include "dialogfolder.h"
#include "graphics/imagecodec.h"
#include "gui/toolbox.h"
#include "imagecodecvetoer.h"
#include "imageedititem.h"
#include "imageedittool.h"
#include "imagereadthread.h"

#include <QAction>
#include <QCheckBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTextDocument>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const char* const kOrganization = "Pelmora";
const char* const kApplication = "Korvane";

QSettings Store()
{
    return QSettings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
}

// A picture tiled with the white and light-grey checkerboard that stands for
// "no colour here".
QImage Checkerboard(const QSize& size)
{
    QImage tile(32, 32, QImage::Format_RGB32);
    tile.fill(Qt::white);
    {
        QPainter painter(&tile);
        painter.fillRect(0, 0, 16, 16, QColor(230, 230, 230));
        painter.fillRect(16, 16, 16, 16, QColor(230, 230, 230));
    }
    QImage page(size, QImage::Format_RGB32);
    QPainter painter(&page);
    painter.fillRect(page.rect(), QBrush(tile));
    return page;
}

QImage OnCheckerboard(const QImage& image)
{
    QImage page = Checkerboard(image.size());
    QPainter painter(&page);
    painter.drawImage(0, 0, image);
    return page;
}

QAction* MakeAction(QObject* parent, const QString& text, const char* icon)
{
    return new QAction(QIcon(QString::fromLatin1(icon)), text, parent);
}

} // namespace

// ---------------------------------------------------------- ImageEditInfoDlg

ImageEditInfoDlg::ImageEditInfoDlg(QWidget* parent)
    : QDialog(parent)
{
    QLabel* label = new QLabel(tr("Edit settings will be applied to all sources to be converted.") + QLatin1Char('\n'));
    label->setWordWrap(true);
    pNotShowCB = new QCheckBox(tr("Do not show again"));
    QDialogButtonBox* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, SIGNAL(accepted()), this, SLOT(accept()));
    connect(buttons, SIGNAL(rejected()), this, SLOT(reject()));

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(pNotShowCB);
    layout->addStretch();
    layout->addWidget(buttons);
    setFixedSize(410, 160);
}

void ImageEditInfoDlg::accept()
{
    qDebug() << "ImageEditInfoDlg::accept";
    QSettings settings = Store();
    settings.setValue(QStringLiteral("Settings/RemindESettings"), !pNotShowCB->isChecked());
    QDialog::accept();
}

// ------------------------------------------------------------------- EditDlg

EditDlg::EditDlg(const QString& sourcePath, EditSettings* settings, QWidget* parent)
    : QDialog(parent)
    , sSourcePath(sourcePath)
    , pSettings(settings)
{
    qDebug() << "EditDlg::EditDlg";
    spItemMenu.reset(new QMenu);
    pAddTextAct = MakeAction(this, tr("Add Text"), ":IMG_WATERMARK_TEXT");
    pAddTextAct->setCheckable(true);
    pAddImageAct = MakeAction(this, tr("Add Image"), ":IMG_WATERMARK_IMAGE");
    pRemoveAct = MakeAction(this, tr("Remove Text/Image"), ":IMG_REMOVE");
    pBringToFrontAct = MakeAction(this, tr("Bring To Front"), ":IMG_TO_FRONT");
    pSendToBackAct = MakeAction(this, tr("Send To Back"), ":IMG_TO_BACK");
    pResetAct = MakeAction(this, tr("Reset"), ":IMG_RESET");
    spItemMenu->addAction(pRemoveAct);
    spItemMenu->addAction(pBringToFrontAct);
    spItemMenu->addAction(pSendToBackAct);

    pInnerWindow = new QMainWindow;
    pInnerWindow->setWindowFlags(Qt::Widget);
    QToolBar* toolBar = pInnerWindow->addToolBar(tr("Edit"));
    toolBar->setMovable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->addSeparator();
    toolBar->addAction(pAddTextAct);
    toolBar->addAction(pAddImageAct);
    toolBar->addSeparator();
    toolBar->addAction(pRemoveAct);
    toolBar->addAction(pBringToFrontAct);
    toolBar->addAction(pSendToBackAct);
    toolBar->addSeparator();
    toolBar->addAction(pResetAct);

    pScene = new EditScene(spItemMenu.data(), this);
    if (!sSourcePath.isEmpty()) {
        pLoadingText = pScene->addText(QString());
        pLoadingText->setPos(0, 0);
        // Readable at any zoom, above the page.
        pLoadingText->setFlag(QGraphicsItem::ItemIgnoresTransformations);
        pLoadingText->setZValue(1e9);
    }
    pView = new QGraphicsView(pScene);
    pView->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pView->setOptimizationFlags(QGraphicsView::DontSavePainterState);
    pView->setContentsMargins(0, 0, 0, 0);
    pView->setBackgroundBrush(QBrush(Qt::lightGray, Qt::SolidPattern));
    // The whole page is always fitted into the view: nothing to scroll.
    pView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    pToolBox = new PLMToolBox;
    pToolBox->setFixedWidth(240);
    pResizeTool = new ResizeTool;
    pFlipTool = new FlipTool;
    pRotateTool = new RotateTool;
    pTextTool = new TextTool;
    pImageTool = new ImageTool;
    pToolBox->AddItem(pResizeTool, tr("Resize Source"));
    pToolBox->AddItem(pFlipTool, tr("Flip Source"));
    pToolBox->AddItem(pRotateTool, tr("Rotate Source"));
    pToolBox->AddItem(pTextTool, tr("Text"));
    pToolBox->AddItem(pImageTool, tr("Image"));
    pToolBox->ShowItem(pTextTool, false);
    pToolBox->ShowItem(pImageTool, false);

    QWidget* central = new QWidget;
    QHBoxLayout* centralLayout = new QHBoxLayout(central);
    centralLayout->addWidget(pView);
    centralLayout->addWidget(pToolBox);
    pInnerWindow->setCentralWidget(central);

    pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal);
    pButtonBox->setContentsMargins(11, 11, 11, 11);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pInnerWindow);
    layout->addWidget(pButtonBox);

    spBgReader.reset(new ImageReadThread);
    spWatermarkReader.reset(new ImageReadThread);

    connect(pAddTextAct, SIGNAL(triggered()), this, SLOT(AddText()));
    connect(pAddImageAct, SIGNAL(triggered()), this, SLOT(AddImage()));
    connect(pRemoveAct, SIGNAL(triggered()), this, SLOT(Remove()));
    connect(pBringToFrontAct, SIGNAL(triggered()), this, SLOT(BringToFront()));
    connect(pSendToBackAct, SIGNAL(triggered()), this, SLOT(SendToBack()));
    connect(pResetAct, SIGNAL(triggered()), this, SLOT(Reset()));
    connect(pScene, SIGNAL(textAdded(QGraphicsTextItem*)), this, SLOT(textAdded(QGraphicsTextItem*)));
    connect(pScene, SIGNAL(selectedChanged(QGraphicsItem*)), this, SLOT(selectedChanged(QGraphicsItem*)));
    connect(pScene, SIGNAL(selectedMoved(QGraphicsItem*)), this, SLOT(selectedMoved(QGraphicsItem*)));
    connect(pResizeTool, SIGNAL(resized()), this, SLOT(bgRFRChanged()));
    connect(pFlipTool, SIGNAL(flipped()), this, SLOT(bgRFRChanged()));
    connect(pRotateTool, SIGNAL(rotated()), this, SLOT(bgRFRChanged()));
    connect(pTextTool, SIGNAL(textFontChanged()), this, SLOT(textFontChanged()));
    connect(pTextTool, SIGNAL(textColorChanged()), this, SLOT(textColorChanged()));
    connect(pTextTool, SIGNAL(textOpaChanged()), this, SLOT(textOpaChanged()));
    connect(pTextTool, SIGNAL(textPosChanged()), this, SLOT(textPosChanged()));
    connect(pTextTool, SIGNAL(textFontUnitChanged()), this, SLOT(textFontUnitChanged()));
    connect(pTextTool, SIGNAL(textPosUnitChanged()), this, SLOT(textPosUnitChanged()));
    connect(pImageTool, SIGNAL(imageRFRChanged()), this, SLOT(imageRFRChanged()));
    connect(pImageTool, SIGNAL(imageOpaChanged()), this, SLOT(imageOpaChanged()));
    connect(pImageTool, SIGNAL(imagePosChanged()), this, SLOT(imagePosChanged()));
    connect(pImageTool, SIGNAL(imageResizeUnitChanged()), this, SLOT(imageResizeUnitChanged()));
    connect(pImageTool, SIGNAL(imagePosUnitChanged()), this, SLOT(imagePosUnitChanged()));
    connect(pImageTool, SIGNAL(imageKeepAspectRatioChanged()), this, SLOT(imageKeepAspectRatioChanged()));
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(pButtonBox, SIGNAL(rejected()), this, SLOT(reject()));
    connect(spBgReader.data(), SIGNAL(readImage(QImage)), this, SLOT(UpdateBg(QImage)));
    connect(spWatermarkReader.data(), SIGNAL(readImage(QImage)), this, SLOT(AddImage(QImage)));

    setWindowTitle(tr("Edit Source"));
    resize(770, 580);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);

    // New texts and pictures start with what the tools show now.
    TextParams textParams;
    pTextTool->GetParams(textParams);
    pScene->CurrentText() = textParams;
    ImageParams imageParams;
    pImageTool->GetParams(imageParams);
    pScene->CurrentImage() = imageParams;
    pRemoveAct->setEnabled(false);
    pBringToFrontAct->setEnabled(false);
    pSendToBackAct->setEnabled(false);
    SetEditable(false);
    UpdateBg();
}

EditDlg::~EditDlg()
{
    // The readers end before the scene they report to.
    spBgReader.reset();
    spWatermarkReader.reset();
}

void EditDlg::SetEditable(bool editable)
{
    pButtonBox->button(QDialogButtonBox::Ok)->setEnabled(editable);
    pAddTextAct->setEnabled(editable);
    pAddImageAct->setEnabled(editable);
    pResetAct->setEnabled(editable);
    pToolBox->setEnabled(editable);
}

void EditDlg::UpdateBg()
{
    qDebug() << "EditDlg::UpdateBg";
    if (!sSourcePath.isEmpty()) {
        pLoadingText->setPlainText(tr("Loading..."));
        spBgReader->Read(sSourcePath, false);
        return;
    }
    UpdateBg(Checkerboard(QSize(1000, 1000)));
}

void EditDlg::UpdateBg(const QImage image)
{
    qDebug() << "EditDlg::UpdateBg(const QImage)";
    QImage page = image;
    if (!sSourcePath.isEmpty()) {
        if (image.isNull()) {
            // The message stays over the neutral page, and the saved edits
            // still come in: OK must never store less than the user saved.
            pLoadingText->setPlainText(tr("Loading %1 failed.").arg(QDir::toNativeSeparators(sSourcePath)));
            page = Checkerboard(QSize(1000, 1000));
        } else {
            pLoadingText->hide();
            if (image.hasAlphaChannel())
                page = OnCheckerboard(image);
        }
    } else if (image.isNull()) {
        return;
    }
    pScene->SetBackground(page);
    pResizeTool->SetSourceSize(page.width(), page.height());
    pResizeTool->SetRange();
    pResizeTool->Reset();
    SetBackgroundTools(page.width(), page.height());
    LoadEdited();
    SetEditable(true);
}

void EditDlg::SetBackgroundTools(int width, int height)
{
    pTextTool->SetBackgroundSize(width, height);
    pImageTool->SetBackgroundSize(width, height);
    pImageTool->SetAspectRatio(width > 0 ? double(height) / width : 1.0);
    pImageTool->SetImageSizeRange();
}

void EditDlg::LoadEdited()
{
    qDebug() << "EditDlg::LoadEdited";
    const RFRParams& rfr = pSettings->rfr;
    if (rfr.resizeEnabled)
        pResizeTool->LoadParams(rfr);
    pFlipTool->SetFlip(rfr.flip);
    pRotateTool->SetAngle(rfr.angle);
    bgRFRChanged();
    const int empty = pScene->LoadItems(*pSettings);
    pScene->SetMode(EditScene::ModeEdit);
    bgSelected();
    bEditsLoaded = true;
    if (empty > 0)
        QMessageBox::warning(this, tr("Bramwick Image Converter"),
                             tr("%n saved watermark picture(s) could not be shown and will be left out.", "", empty),
                             QMessageBox::Ok);
}

void EditDlg::SaveEdited()
{
    qDebug() << "EditDlg::SaveEdited";
    pSettings->ResetEdits();
    RFRParams rfr;
    pResizeTool->GetParams(rfr);
    rfr.flip = pFlipTool->GetFlip();
    rfr.angle = pRotateTool->GetAngle();
    pSettings->rfr = rfr;
    pScene->GetItemsEdited(*pSettings);
    pSettings->edited = true;
}

void EditDlg::accept()
{
    qDebug() << "EditDlg::accept";
    if (!bEditsLoaded)
        return;
    if (Store().value(QStringLiteral("Settings/RemindESettings"), true).toBool()) {
        ImageEditInfoDlg info(this);
        if (info.exec() != QDialog::Accepted)
            return;
    }
    SaveEdited();
    QDialog::accept();
}

void EditDlg::reject()
{
    qDebug() << "EditDlg::reject";
    QDialog::reject();
}

// Enter commits a typed size or angle in the tools; it must not also close
// the dialog through its default button.
void EditDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void EditDlg::resizeEvent(QResizeEvent*)
{
    pScene->FitView();
}

void EditDlg::AddText()
{
    qDebug() << "EditDlg::AddText";
    if (!pAddTextAct->isChecked()) {
        // A second click on "Add Text" puts it away again.
        pScene->SetMode(EditScene::ModeEdit);
        return;
    }
    if (!pScene->selectedItems().isEmpty())
        pScene->clearSelection();
    pScene->SetMode(EditScene::ModePlaceText);
}

void EditDlg::textAdded(QGraphicsTextItem*)
{
    pScene->SetMode(EditScene::ModeEdit);
    pAddTextAct->setChecked(false);
}

void EditDlg::AddImage()
{
    qDebug() << "EditDlg::AddImage";
    if (pAddTextAct->isChecked())
        pAddTextAct->setChecked(false);
    pScene->SetMode(EditScene::ModeEdit);
    pScene->clearSelection();

    QSettings settings = Store();
    const QString folder = DialogStartFolder(settings.value(QStringLiteral("ESettings/WIFolder")).toString());
    QString filter;
    GetReadFilter(filter, ImageCodecVetoer());
    const QString file = QFileDialog::getOpenFileName(this, tr("Add Image"), folder, GetFileDialogFilter(filter));
    if (file.isEmpty())
        return;
    settings.setValue(QStringLiteral("ESettings/WIFolder"), QFileInfo(file).absolutePath());
    if (spWatermarkReader->isRunning()) {
        QMessageBox::warning(this, tr("Bramwick Image Converter"), tr("Another image is loading."), QMessageBox::Ok);
        return;
    }
    spWatermarkReader->ResetReader();
    sWatermarkPath = file;
    spWatermarkReader->Read(file, false);
}

void EditDlg::AddImage(const QImage image)
{
    qDebug() << "EditDlg::AddImage(const QImage)";
    if (image.isNull()) {
        // A file that vanished or that no reader can decode.
        QMessageBox::warning(this, tr("Bramwick Image Converter"),
                             tr("Loading %1 failed.").arg(QDir::toNativeSeparators(sWatermarkPath)), QMessageBox::Ok);
        return;
    }
    pScene->AddImage(image);
}

void EditDlg::Remove()
{
    qDebug() << "EditDlg::Remove";
    const QList<QGraphicsItem*> selected = pScene->selectedItems();
    for (QGraphicsItem* item : selected)
        delete item;
    bgSelected();
}

void EditDlg::BringToFront()
{
    pScene->BringToFront();
}

void EditDlg::SendToBack()
{
    pScene->SendToBack();
}

void EditDlg::Reset()
{
    qDebug() << "EditDlg::Reset";
    int width = 0;
    int height = 0;
    pScene->ResetBackground(width, height, true);
    pResizeTool->Reset();
    pFlipTool->SetFlip(FlipNone);
    pRotateTool->SetAngle(0);
    SetBackgroundTools(width, height);
    pAddTextAct->setChecked(false);
    pScene->SetMode(EditScene::ModeEdit);
    bgSelected();
}

void EditDlg::selectedChanged(QGraphicsItem* pItem)
{
    if (pItem->isSelected()) {
        if (pItem->type() == TextItemType)
            textSelected(pItem);
        else if (pItem->type() == ImageItemType)
            imageSelected(pItem);
        return;
    }
    // A text placed and left without a character is invisible: it goes.
    if (pItem->type() == TextItemType) {
        TextItem* text = static_cast<TextItem*>(pItem);
        if (text->document()->isEmpty())
            text->deleteLater();
    }
    // Another watermark may have taken over the selection already.
    const QList<QGraphicsItem*> selected = pScene->selectedItems();
    if (selected.isEmpty())
        bgSelected();
}

void EditDlg::textSelected(QGraphicsItem* pItem)
{
    bSignalGate = false;
    pTextTool->LoadParams(static_cast<TextItem*>(pItem)->GetParams());
    ShowTools(pTextTool);
    bSignalGate = true;
}

void EditDlg::imageSelected(QGraphicsItem* pItem)
{
    bSignalGate = false;
    pImageTool->LoadParams(static_cast<ImageItem*>(pItem)->GetParams());
    ShowTools(pImageTool);
    bSignalGate = true;
}

void EditDlg::bgSelected()
{
    ShowTools(nullptr);
}

// A selected watermark shows its own tool and the actions on it; the page
// (markTool null) shows the resize, flip and rotate tools.
void EditDlg::ShowTools(QWidget* markTool)
{
    const bool mark = markTool != nullptr;
    pRemoveAct->setEnabled(mark);
    pBringToFrontAct->setEnabled(mark);
    pSendToBackAct->setEnabled(mark);
    for (QWidget* tool : {static_cast<QWidget*>(pTextTool), static_cast<QWidget*>(pImageTool)})
        pToolBox->ShowItem(tool, tool == markTool);
    for (QWidget* tool : {static_cast<QWidget*>(pResizeTool), static_cast<QWidget*>(pFlipTool),
                          static_cast<QWidget*>(pRotateTool)})
        pToolBox->ShowItem(tool, !mark);
}

// A moved watermark keeps its position values in its own unit; the tool
// follows the watermark it shows.
void EditDlg::selectedMoved(QGraphicsItem* pItem)
{
    const int width = pScene->GetBackgroundWidth();
    const int height = pScene->GetBackgroundHeight();
    auto value = [](int unit, int pixels, int size) {
        return unit == SizeUnitPercent && size > 0 ? RoundHalfUp(pixels * 100.0 / size) : pixels;
    };
    const QList<QGraphicsItem*> selected = pScene->selectedItems();
    const bool shown = !selected.isEmpty() && selected.first() == pItem;
    if (pItem->type() == TextItemType) {
        TextParams& p = static_cast<TextItem*>(pItem)->GetParams();
        p.xValue = value(p.positionUnit, p.x, width);
        p.yValue = value(p.positionUnit, p.y, height);
        if (shown) {
            pTextTool->SetX(p.x);
            pTextTool->SetY(p.y);
        }
    } else if (pItem->type() == ImageItemType) {
        ImageParams& p = static_cast<ImageItem*>(pItem)->GetParams();
        p.xValue = value(p.positionUnit, p.x, width);
        p.yValue = value(p.positionUnit, p.y, height);
        if (shown) {
            pImageTool->SetX(p.x);
            pImageTool->SetY(p.y);
        }
    }
}

void EditDlg::bgRFRChanged()
{
    if (!bSignalGate)
        return;
    RFRParams params;
    pResizeTool->GetParams(params);
    params.flip = pFlipTool->GetFlip();
    params.angle = pRotateTool->GetAngle();
    int width = 0;
    int height = 0;
    pScene->ApplyBackgroundRFR(params, width, height);
    SetBackgroundTools(width, height);
    pScene->RefitItems();
}

void EditDlg::textFontChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextFont(params);
}

void EditDlg::textColorChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextColor(params);
}

void EditDlg::textOpaChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextOpacity(params);
}

void EditDlg::textPosChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextPos(params);
}

void EditDlg::textFontUnitChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextFontUnit(params);
}

void EditDlg::textPosUnitChanged()
{
    if (!bSignalGate)
        return;
    TextParams params;
    pTextTool->GetParams(params);
    pScene->SetSelectedTextPosUnit(params);
}

void EditDlg::imageRFRChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImageRFR(params);
}

void EditDlg::imageOpaChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImageOpacity(params);
}

void EditDlg::imagePosChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImagePos(params);
}

void EditDlg::imageResizeUnitChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImageResizeUnit(params);
}

void EditDlg::imagePosUnitChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImagePosUnit(params);
}

void EditDlg::imageKeepAspectRatioChanged()
{
    if (!bSignalGate)
        return;
    ImageParams params;
    pImageTool->GetParams(params);
    pScene->SetSelectedImageKeepAspectRatio(params);
}
