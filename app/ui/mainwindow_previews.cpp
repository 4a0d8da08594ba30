// The two previews between the lists: pictures read off the GUI thread, and
// the preview dialog on a double click.
#include "mainwindow.h"

#include "gui/label.h"
#include "imagepreviewdlg.h"
#include "imagereadthread.h"

#include <QDebug>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QStandardItemModel>

namespace {

const int kSrcIndexColumn = 5;
const int kTgtIndexColumn = 4;

// Drawn behind pictures with an alpha channel: white with two light-grey
// 8 × 8 squares.
const QPixmap& CheckerboardTile()
{
    static QPixmap tile;
    if (tile.isNull()) {
        tile = QPixmap(16, 16);
        tile.fill(Qt::white);
        QPainter painter(&tile);
        painter.fillRect(0, 0, 8, 8, QColor(230, 230, 230));
        painter.fillRect(8, 8, 8, 8, QColor(230, 230, 230));
    }
    return tile;
}

// A label-sized pixmap with the picture scaled into it, its aspect ratio
// kept, in the middle; transparent around it. It has the label's device
// pixels, so that a high-density screen shows the picture sharp.
QPixmap PreviewPixmap(const QImage& image, const QSize& size, qreal ratio)
{
    const QSize pixels = size * ratio;
    const QImage scaled = image.scaled(pixels, Qt::KeepAspectRatio, Qt::FastTransformation);
    QPixmap pixmap(pixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        QRect target(QPoint(0, 0), scaled.size());
        target.moveCenter(pixmap.rect().center());
        if (image.hasAlphaChannel())
            painter.drawTiledPixmap(target, CheckerboardTile());
        painter.drawImage(target.topLeft(), scaled);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QString ListedPath(const QStandardItemModel* model, int row, int column, const QStringList& paths)
{
    bool valid = false;
    const int i = model->index(row, column).data(Qt::UserRole).toInt(&valid);
    return (valid && i >= 0 && i < paths.size()) ? paths.at(i) : QString();
}

} // namespace

// Superseded readers are told to stop and stay listed until they have
// finished; finished ones leave the list here. A finished reader may have
// sent a picture that is still queued for this window, so its last reference
// is dropped by a call queued behind that picture: the picture arrives (and
// is ignored) while the reader still exists, and no new reader can take the
// old one's address before then.
void MainWindow::StartPreviewReader(QList<QSharedPointer<ImageReadThread>>& readers, const QString& path,
                                    const char* slot, const QSize& bound)
{
    QList<QSharedPointer<ImageReadThread>> released;
    for (auto it = readers.begin(); it != readers.end();) {
        if ((*it)->isFinished()) {
            released << *it;
            it = readers.erase(it);
        } else {
            if ((*it)->isRunning())
                (*it)->Stop();
            ++it;
        }
    }
    if (!released.isEmpty())
        QMetaObject::invokeMethod(this, [released]() {}, Qt::QueuedConnection);

    QSharedPointer<ImageReadThread> reader(new ImageReadThread);
    // The label shows no more than its own size: a large picture is decoded
    // no larger than that.
    reader->SetMaxPreviewSize(bound);
    readers << reader;
    connect(reader.data(), SIGNAL(readImage(QImage)), this, slot);
    reader->Read(path, false);
}

// Only the newest reader of a side speaks for it: a superseded reader's
// picture (sent just before it was told to stop) is dropped.
bool MainWindow::IsNewestReader(const QList<QSharedPointer<ImageReadThread>>& readers, QSize& imageSize) const
{
    const ImageReadThread* reader = qobject_cast<const ImageReadThread*>(sender());
    if (!reader)
        return true;
    if (readers.isEmpty() || readers.last().data() != reader)
        return false;
    imageSize = readers.last()->GetImageSize();
    return true;
}

void MainWindow::UpdateSrcPreview()
{
    qDebug() << "MainWindow::UpdateSrcPreview";
    if (lSelSrcFiles.size() != 1) {
        pSrcPreviewLbl->setText(tr("Source Preview"));
        pSrcInfoLbl->clear();
        return;
    }
    pSrcPreviewLbl->setText(tr("Loading..."));
    pSrcInfoLbl->clear();
    StartPreviewReader(lSrcReaders, lSelSrcFiles.first(), SLOT(UpdateSrcPreview(QImage)),
                       pSrcPreviewLbl->size().expandedTo(pSrcPreviewLbl->minimumSize()) * devicePixelRatioF());
}

void MainWindow::UpdateTgtPreview()
{
    qDebug() << "MainWindow::UpdateTgtPreview";
    if (sSelTgtFile.isEmpty()) {
        pTgtPreviewLbl->setText(tr("Converted Target"));
        pTgtInfoLbl->clear();
        return;
    }
    pTgtPreviewLbl->setText(tr("Loading..."));
    pTgtInfoLbl->clear();
    StartPreviewReader(lTgtReaders, sSelTgtFile, SLOT(UpdateTgtPreview(QImage)),
                       pTgtPreviewLbl->size().expandedTo(pTgtPreviewLbl->minimumSize()) * devicePixelRatioF());
}

void MainWindow::UpdateSrcPreview(const QImage& srcImage)
{
    qDebug() << "MainWindow::UpdateSrcPreview(QImage)";
    QSize imageSize;
    if (!IsNewestReader(lSrcReaders, imageSize))
        return;
    if (!srcImage.isNull() && lSelSrcFiles.size() == 1) {
        // The dimension line gives the file's size, not the decoded one.
        if (!imageSize.isValid())
            imageSize = srcImage.size();
        pSrcPreviewLbl->setPixmap(PreviewPixmap(srcImage, pSrcPreviewLbl->size(), devicePixelRatioF()));
        pSrcInfoLbl->setText(tr("Source Dimension:") + tr("%1").arg(imageSize.width()) + tr(" x ")
                             + tr("%1").arg(imageSize.height()));
        return;
    }
    pSrcPreviewLbl->setText(tr("Source Preview"));
    pSrcInfoLbl->clear();
    if (lSelSrcFiles.size() == 1)
        QMessageBox::critical(this, tr("Bramwick Image Converter"), tr("Load %1 failed.").arg(lSelSrcFiles.first()),
                              QMessageBox::Ok);
}

void MainWindow::UpdateTgtPreview(const QImage& targetImage)
{
    qDebug() << "MainWindow::UpdateTgtPreview(QImage)";
    QSize imageSize;
    if (!IsNewestReader(lTgtReaders, imageSize))
        return;
    if (!targetImage.isNull() && !sSelTgtFile.isEmpty()) {
        if (!imageSize.isValid())
            imageSize = targetImage.size();
        pTgtPreviewLbl->setPixmap(PreviewPixmap(targetImage, pTgtPreviewLbl->size(), devicePixelRatioF()));
        pTgtInfoLbl->setText(tr("Target Dimension:") + tr("%1").arg(imageSize.width()) + tr(" x ")
                             + tr("%1").arg(imageSize.height()));
        return;
    }
    pTgtPreviewLbl->setText(tr("Converted Target"));
    pTgtInfoLbl->clear();
}

void MainWindow::TgtSelChanged(const QItemSelection&, const QItemSelection&)
{
    qDebug() << "MainWindow::TgtSelChanged";
    sSelTgtFile.clear();
    if (pTgtSelModel->hasSelection()) {
        const QModelIndexList rows = pTgtSelModel->selectedRows(0);
        if (!rows.isEmpty())
            sSelTgtFile = ListedPath(pTgtModel, rows.first().row(), kTgtIndexColumn, TgtFileList);
    }
    UpdateTgtPreview();
}

void MainWindow::PreviewSrc(QModelIndex index)
{
    const QString path = ListedPath(pSrcModel, index.row(), kSrcIndexColumn, SourceFileList);
    if (!path.isEmpty())
        Preview(path);
}

void MainWindow::PreviewTgt(QModelIndex index)
{
    const QString path = ListedPath(pTgtModel, index.row(), kTgtIndexColumn, TgtFileList);
    if (!path.isEmpty())
        Preview(path);
}

// A label that shows a text ("Loading...", the idle text) opens nothing.
void MainWindow::PreviewSrc(QMouseEvent*)
{
    if (!pSrcPreviewLbl->pixmap(Qt::ReturnByValue).isNull() && lSelSrcFiles.size() == 1)
        Preview(lSelSrcFiles.first());
}

void MainWindow::PreviewTgt(QMouseEvent*)
{
    if (!pTgtPreviewLbl->pixmap(Qt::ReturnByValue).isNull() && !sSelTgtFile.isEmpty())
        Preview(sSelTgtFile);
}

void MainWindow::Preview(const QString& path)
{
    ImagePreviewDlg dialog(path, this);
    dialog.exec();
}
