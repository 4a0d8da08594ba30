#include "imagepreviewdlg.h"

#include "graphics/imagecodec.h"
#include "gui/graphicsview.h"
#include "gui/toolbox.h"
#include "imagereadthread.h"

#include <QDebug>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTransform>
#include <QMovie>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace {

// Names of the metadata categories, by the number in the keys' prefix.
const char* const kCategoryNames[] = {
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Comment"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif-Tiff"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif-Specific"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif GPS"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif Maker"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif Interoperability"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "IPTC/NAA"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Adobe XMP"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Geo Tiff"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Animation"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Custom"),
    QT_TRANSLATE_NOOP("ImagePreviewDlg", "Exif Raw"),
};
const int kShownCategories = 11;   // the raw Exif block (11) is never shown

QStandardItem* ReadOnlyItem(const QString& text)
{
    QStandardItem* item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

// A picture with alpha composed onto a white and light-grey checkerboard.
QPixmap OnCheckerboard(const QImage& image)
{
    QPixmap tile(32, 32);
    tile.fill(Qt::white);
    {
        QPainter painter(&tile);
        painter.fillRect(0, 0, 16, 16, QColor(230, 230, 230));
        painter.fillRect(16, 16, 16, 16, QColor(230, 230, 230));
    }
    QPixmap pixmap(image.size());
    QPainter painter(&pixmap);
    painter.drawTiledPixmap(pixmap.rect(), tile);
    painter.drawImage(0, 0, image);
    return pixmap;
}

} // namespace

ImagePreviewDlg::ImagePreviewDlg(const QString& path, QWidget* parent)
    : QDialog(parent)
    , sPath(path)
{
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    spReadThread.reset(new ImageReadThread);
    const bool animated = QFileInfo(sPath).suffix().compare(QLatin1String("gif"), Qt::CaseInsensitive) == 0;

    pScene = new QGraphicsScene(this);
    pTextItem = pScene->addText(QString());
    pPixmapItem = pScene->addPixmap(QPixmap());
    if (animated) {
        pMovieLbl = new QLabel;
        pScene->addWidget(pMovieLbl);
    }

    pView = new PLMGraphicsView;
    pView->setScene(pScene);
    pView->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pView->setRenderHint(QPainter::Antialiasing, false);
    pView->setDragMode(QGraphicsView::ScrollHandDrag);
    pView->setOptimizationFlags(QGraphicsView::DontSavePainterState);
    pView->setBackgroundBrush(QBrush(Qt::lightGray));
    pView->resize(600, 400);

    pToolBox = new PLMToolBox;
    pToolBox->setFrameShape(QFrame::NoFrame);
    pToolBox->setMinimumWidth(200);
    QSplitter* splitter = new QSplitter;
    splitter->addWidget(pView);
    splitter->addWidget(pToolBox);
    splitter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    splitter->setCollapsible(0, false);
    splitter->setStretchFactor(0, 1);

    const QFontMetrics metrics(font());
    pZoomLbl = new QLabel;
    pZoomLbl->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("100%")));
    pZoomOutBtn = MakeToolButton(":IMG_ZOOM_OUT");
    pZoomInBtn = MakeToolButton(":IMG_ZOOM_IN");
    for (QToolButton* button : {pZoomOutBtn, pZoomInBtn}) {
        button->setAutoRepeat(true);
        button->setAutoRepeatInterval(33);
        button->setAutoRepeatDelay(0);
    }
    pZoomSlider = new QSlider(Qt::Horizontal);
    pZoomSlider->setRange(5, 500);
    pZoomSlider->setValue(100);
    pFirstBtn = MakeToolButton(":IMG_PAGE_FIRST");
    pPreviousBtn = MakeToolButton(":IMG_PAGE_PREVIOUS");
    pNextBtn = MakeToolButton(":IMG_PAGE_NEXT");
    pLastBtn = MakeToolButton(":IMG_PAGE_LAST");
    pPageLbl = new QLabel;
    pPageLbl->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("Page 1000/1000")));
    pPageLbl->setAlignment(Qt::AlignCenter);
    pRotateLeftBtn = MakeToolButton(":IMG_ROTATE_LEFT");
    pRotateRightBtn = MakeToolButton(":IMG_ROTATE_RIGHT");

    QHBoxLayout* bar = new QHBoxLayout;
    bar->addWidget(pZoomLbl);
    bar->addWidget(pZoomOutBtn);
    bar->addWidget(pZoomSlider);
    bar->addWidget(pZoomInBtn);
    bar->addStretch();
    bar->addWidget(pFirstBtn);
    bar->addWidget(pPreviousBtn);
    bar->addWidget(pPageLbl);
    bar->addWidget(pNextBtn);
    bar->addWidget(pLastBtn);
    bar->addStretch();
    bar->addWidget(pRotateLeftBtn);
    bar->addWidget(pRotateRightBtn);
    if (animated) {
        bar->addStretch();
        pAnimationBtn = new QPushButton(tr("Animation"));
        pAnimationBtn->setCheckable(true);
        bar->addWidget(pAnimationBtn);
    }

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    layout->addLayout(bar);

    connect(pView, SIGNAL(wheelMoved(QWheelEvent*)), this, SLOT(wheelMoved(QWheelEvent*)));
    connect(pZoomInBtn, SIGNAL(clicked()), this, SLOT(ZoomIn()));
    connect(pZoomOutBtn, SIGNAL(clicked()), this, SLOT(ZoomOut()));
    connect(pZoomSlider, SIGNAL(valueChanged(int)), this, SLOT(SetMatrix()));
    connect(pRotateLeftBtn, SIGNAL(clicked()), this, SLOT(RotateLeft()));
    connect(pRotateRightBtn, SIGNAL(clicked()), this, SLOT(RotateRight()));
    connect(pFirstBtn, SIGNAL(clicked()), this, SLOT(FirstPage()));
    connect(pPreviousBtn, SIGNAL(clicked()), this, SLOT(PreviousPage()));
    connect(pNextBtn, SIGNAL(clicked()), this, SLOT(NextPage()));
    connect(pLastBtn, SIGNAL(clicked()), this, SLOT(LastPage()));
    if (pAnimationBtn)
        connect(pAnimationBtn, SIGNAL(toggled(bool)), this, SLOT(SetAnimation(bool)));
    connect(spReadThread.data(), SIGNAL(readImage(QImage, QStringList, QStringList)),
            this, SLOT(UpdatePreview(QImage, QStringList, QStringList)));

    setWindowTitle(tr("Preview") + QStringLiteral(" - ") + QFileInfo(sPath).fileName());
    setSizeGripEnabled(true);
    setMinimumSize(770, 580);
    resize(770, 580);
    SetMatrix();
    ReadImage();
}

ImagePreviewDlg::~ImagePreviewDlg()
{
    if (pMovie) {
        if (pMovie->state() != QMovie::NotRunning)
            pMovie->stop();
        delete pMovie;
        pMovie = nullptr;
    }
    pScene->clear();
    // Waits for a read in progress.
    spReadThread.reset();
}

QToolButton* ImagePreviewDlg::MakeToolButton(const char* icon)
{
    QToolButton* button = new QToolButton;
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    const int side = style()->pixelMetric(QStyle::PM_ToolBarIconSize);
    button->setIconSize(QSize(side, side));
    return button;
}

void ImagePreviewDlg::ShowText(const QString& text)
{
    pPixmapItem->hide();
    if (pMovieLbl)
        pMovieLbl->hide();
    pTextItem->setPlainText(text);
    pTextItem->show();
}

void ImagePreviewDlg::ReadImage()
{
    qDebug() << "ImagePreviewDlg::ReadImage  " << sPath;
    ShowText(tr("Loading..."));
    spReadThread->Read(sPath, true);
}

void ImagePreviewDlg::ReadPage()
{
    qDebug() << "ImagePreviewDlg::ReadPage";
    if (pMovie && pMovie->isValid() && pMovie->state() == QMovie::Running) {
        pMovie->setPaused(true);
        iPage = pMovie->currentFrameNumber();
    }
    if (iPage < iPageCount)
        spReadThread->ReadPage(iPage);
    else
        qWarning() << "ImagePreviewDlg::ReadPage  Invalid iPage and iPageCount: iPage " << iPage
                   << ", iPageCount " << iPageCount;
}

void ImagePreviewDlg::UpdatePreview(const QImage& image, const QStringList& slMetadataKey,
                                    const QStringList& slMetadataValue)
{
    qDebug() << "ImagePreviewDlg::UpdatePreview";
    if (image.isNull()) {
        ShowText(tr("Loading %1 failed.").arg(sPath));
        return;
    }
    iImageWidth = image.width();
    iImageHeight = image.height();
    pScene->setSceneRect(0, 0, iImageWidth, iImageHeight);
    pPixmapItem->setPixmap(image.hasAlphaChannel() ? OnCheckerboard(image) : QPixmap::fromImage(image));
    pView->centerOn(pPixmapItem);

    // The whole picture fits inside the view's frame, without scroll bars;
    // the rotation stays as it is.
    const QSize room = pView->viewport()->size();
    const qint64 zoom = qMin(qint64(room.width()) * 100 / iImageWidth, qint64(room.height()) * 100 / iImageHeight);
    pZoomSlider->setValue(int(qBound(qint64(5), zoom, qint64(500))));

    if (!bPageCountRead) {
        iPageCount = spReadThread->GetPageCount();
        bPageCountRead = true;
    }
    pTextItem->hide();
    if (pMovieLbl)
        pMovieLbl->hide();
    pPixmapItem->show();
    UpdatePageButtons(true);
    UpdateInfo(image);
    if (!slMetadataKey.isEmpty() && slMetadataKey.size() == slMetadataValue.size())
        UpdateMetadata(slMetadataKey, slMetadataValue);
}

void ImagePreviewDlg::SetMatrix()
{
    qDebug() << "ImagePreviewDlg::SetMatrix";
    const int value = pZoomSlider->value();
    pZoomLbl->setText(QStringLiteral("%1%").arg(value));
    QTransform matrix;
    matrix.scale(value / 100.0, value / 100.0);
    matrix.rotate(iRotation);
    pView->setTransform(matrix, false);
}

void ImagePreviewDlg::ZoomIn(int iStep)
{
    pZoomSlider->setValue(pZoomSlider->value() + iStep);
}

void ImagePreviewDlg::ZoomOut(int iStep)
{
    pZoomSlider->setValue(pZoomSlider->value() - iStep);
}

void ImagePreviewDlg::wheelMoved(QWheelEvent* pEvent)
{
    if (!(pEvent->modifiers() & Qt::ControlModifier))
        return;
    if (pEvent->angleDelta().y() > 0)
        ZoomIn(6);
    else
        ZoomOut(6);
    pEvent->accept();
}

void ImagePreviewDlg::RotateLeft()
{
    iRotation -= 90;
    SetMatrix();
}

void ImagePreviewDlg::RotateRight()
{
    iRotation += 90;
    SetMatrix();
}

void ImagePreviewDlg::UpdatePageButtons(bool enable)
{
    pFirstBtn->setEnabled(iPage > 0 && enable);
    pPreviousBtn->setEnabled(iPage > 0 && enable);
    pNextBtn->setEnabled(iPage < iPageCount - 1 && enable);
    pLastBtn->setEnabled(iPage < iPageCount - 1 && enable);
    if (iPage >= 0 && enable)
        pPageLbl->setText(tr("Page %1/%2").arg(iPage + 1).arg(iPageCount > 0 ? iPageCount : 1));
    else
        pPageLbl->clear();
}

void ImagePreviewDlg::FirstPage()
{
    iPage = 0;
    UpdatePageButtons(true);
    ReadPage();
}

void ImagePreviewDlg::PreviousPage()
{
    --iPage;
    UpdatePageButtons(true);
    ReadPage();
}

void ImagePreviewDlg::NextPage()
{
    ++iPage;
    UpdatePageButtons(true);
    ReadPage();
}

void ImagePreviewDlg::LastPage()
{
    iPage = iPageCount - 1;
    UpdatePageButtons(true);
    ReadPage();
}

void ImagePreviewDlg::SetAnimation(bool bAnimation)
{
    if (bAnimation)
        PlayAnimation();
    else
        ReadPage();
}

void ImagePreviewDlg::PlayAnimation()
{
    qDebug() << "ImagePreviewDlg::PlayAnimation";
    for (QToolButton* button : {pFirstBtn, pPreviousBtn, pNextBtn, pLastBtn})
        button->setEnabled(false);
    pPageLbl->clear();
    ShowText(tr("Loading..."));
    const QString failed = tr("Loading %1 failed.").arg(sPath);

    if (!pMovie) {
        pMovie = new QMovie(sPath, QByteArray(), 0);
        if (!pMovie->isValid()) {
            ShowText(failed);
            return;
        }
        connect(pMovie, SIGNAL(finished()), this, SLOT(LoopAnimation()));
        pMovie->jumpToFrame(iPage);
        pMovieLbl->resize(iImageWidth, iImageHeight);
        pMovieLbl->setMovie(pMovie);
    } else if (!pMovie->isValid()) {
        ShowText(failed);
        return;
    }
    switch (pMovie->state()) {
    case QMovie::NotRunning:
        pTextItem->hide();
        pPixmapItem->hide();
        pMovieLbl->show();
        pMovie->start();
        break;
    case QMovie::Paused:
        pTextItem->hide();
        pPixmapItem->hide();
        pMovieLbl->show();
        pMovie->setPaused(false);
        break;
    case QMovie::Running:
        break;
    }
}

void ImagePreviewDlg::LoopAnimation()
{
    if (!pAnimationBtn || !pAnimationBtn->isChecked())
        return;
    iPage = 0;
    pMovie->jumpToFrame(0);
    pTextItem->hide();
    pPixmapItem->hide();
    pMovieLbl->show();
    pMovie->start();
}

void ImagePreviewDlg::UpdateInfo(const QImage& image)
{
    if (!pInfoView) {
        pInfoView = new QTreeView;
        pInfoView->setHeaderHidden(true);
        pInfoView->setAlternatingRowColors(true);
        pInfoView->setWordWrap(false);
        pInfoView->resize(200, 90);
        pInfoView->setMinimumHeight(90);
        pInfoView->setMaximumHeight(90);
        pInfoView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        pToolBox->AddItem(pInfoView, tr("General"));
        pInfoModel = new QStandardItemModel(0, 2, this);
        pInfoView->setModel(pInfoModel);
        pInfoView->setColumnWidth(0, 90);
    } else {
        pInfoModel->removeRows(0, pInfoModel->rowCount());
    }
    const auto addRow = [this](const QString& name, int value) {
        pInfoModel->appendRow({ReadOnlyItem(name), ReadOnlyItem(QStringLiteral("%1").arg(value))});
    };
    addRow(tr("Width"), image.width());
    addRow(tr("Height"), image.height());
    const PLMImageCodecID id = PLMImageCodec(sPath).ID();
    if (id != PLMCodecPDF && id != PLMCodecSVG) {
        addRow(tr("DPI X"), int(std::floor(image.dotsPerMeterX() * 25.4 / 1000 + 0.5)));
        addRow(tr("DPI Y"), int(std::floor(image.dotsPerMeterY() * 25.4 / 1000 + 0.5)));
    }
}

// Keys carry their category in a five-character prefix: "xxxNN" alone
// declares category NN, "xxxNNName" is a field of it.
void ImagePreviewDlg::UpdateMetadata(const QStringList& keys, const QStringList& values)
{
    if (!pMetadataView) {
        pMetadataView = new QTreeView;
        pMetadataView->setHeaderHidden(true);
        pMetadataView->setRootIsDecorated(true);
        pMetadataView->setAlternatingRowColors(true);
        pMetadataView->header()->setSortIndicator(0, Qt::AscendingOrder);
        pMetadataView->setSortingEnabled(true);
        pToolBox->AddItem(pMetadataView, tr("Metadata"));
        pMetadataModel = new QStandardItemModel(this);
        pMetadataView->setModel(pMetadataModel);
        pMetadataView->header()->setStretchLastSection(true);
        pMetadataView->setWordWrap(false);
        FitMetadataView();
    } else {
        pMetadataModel->clear();
    }
    pMetadataModel->setColumnCount(2);
    pMetadataView->setColumnWidth(0, 200);
    pMetadataView->setColumnWidth(1, 150);

    QStandardItem* categories[kShownCategories] = {};
    for (int i = 0; i < keys.size() && i < values.size(); ++i) {
        const QString& key = keys.at(i);
        if (key.size() < 5)
            continue;
        bool number = false;
        const int category = key.midRef(3, 2).toInt(&number);
        if (!number || category < 0 || category >= kShownCategories)
            continue;
        if (key.size() == 5) {
            QStandardItem* item = ReadOnlyItem(tr(kCategoryNames[category]));
            pMetadataModel->appendRow(item);
            categories[category] = item;
        } else if (categories[category]) {
            categories[category]->appendRow({ReadOnlyItem(key.mid(5)), ReadOnlyItem(values.at(i))});
        }
    }
    pMetadataView->sortByColumn(0, Qt::AscendingOrder);
}

void ImagePreviewDlg::resizeEvent(QResizeEvent* pEvent)
{
    QDialog::resizeEvent(pEvent);
    FitMetadataView();
}

// The side panel reaches down as far as the picture. Measured once the
// layouts have placed the view at its new size.
void ImagePreviewDlg::FitMetadataView()
{
    QTimer::singleShot(0, this, [this]() {
        if (!pView || !pMetadataView)
            return;
        const int height = pView->height() - pToolBox->GetItemHeight(pInfoView) - pToolBox->GetTitleHeight(pMetadataView);
        pMetadataView->setMinimumHeight(qMax(0, height));
    });
}
