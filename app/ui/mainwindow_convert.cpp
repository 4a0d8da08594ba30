// Conversion control: the batch started from the selection, its results
// marked on the source rows, and the target list.
#include "mainwindow.h"

#include "batchrunner.h"
#include "convertdlgs.h"

#include <QDebug>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QSettings>
#include <QStandardItemModel>
#include <QTreeView>

void MainWindow::Convert()
{
    qDebug() << "MainWindow::Convert";
    if (lSelSrcFiles.isEmpty())
        return;

    QString folderText;
    if (!CheckTgtPanel(folderText))
        return;

    TgtFileList.clear();
    PutTgtFolderFirst(folderText);
    SaveTgtFolders();
    SaveTgtDPIs();
    UpdateConvertSettings();
    convertSettings.Save();

    ConvertBatchRunner batch(lSelSrcFiles.size());
    lConvertData.clear();
    lReportedJobs.clear();
    setUpdatesEnabled(false);
    for (int i = 0; i < lSelSrcFiles.size(); ++i) {
        ImageConvertData job;
        job.srcFile = lSelSrcFiles.at(i);
        job.settings = &convertSettings;
        job.srcRow = lSelSrcRows.value(i, -1);
        job.state = ::ConvertCanceled;
        lConvertData << job;
        // The rows of this batch lose the last batch's outcome.
        MarkSrcRow(SrcRowOf(job.srcFile), QString(), QString());
    }
    setUpdatesEnabled(true);
    lReportedJobs.fill(false, lConvertData.size());
    aConvertCounts[0] = lConvertData.size();
    aConvertCounts[1] = aConvertCounts[2] = aConvertCounts[3] = 0;
    iRenamedTargets = 0;
    batch.Start(lConvertData, convertWatcher);
    batch.Exec();
    ConvertCanceled();

    UpdateTgtList();
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    if (settings.value(QStringLiteral("Settings/ReportCResults"), true).toBool())
        ShowConvertResults();
}

void MainWindow::ConvertResultReadyAt(int iCurSelSrcIndex)
{
    qDebug() << "MainWindow::convertResultReadyAt";
    if (iCurSelSrcIndex < 0 || iCurSelSrcIndex >= lConvertData.size() || lReportedJobs.value(iCurSelSrcIndex))
        return;
    lReportedJobs[iCurSelSrcIndex] = true;
    ImageConvertData& job = lConvertData[iCurSelSrcIndex];
    const ItemConvertResult result = convertWatcher.resultAt(iCurSelSrcIndex);
    job.state = result.state;
    // Whatever the outcome, every file the job left on disk is listed.
    TgtFileList << result.tgtFiles;
    iRenamedTargets += result.renamed;
    // The list may have been sorted since the job was made: follow the source
    // to the row that holds it now instead of trusting the recorded number.
    const int row = SrcRowOf(job.srcFile);
    switch (result.state) {
    case ConvertSucceeded:
        ++aConvertCounts[1];
        MarkSrcRow(row, QStringLiteral("Succeeded"), QStringLiteral(":IMG_SUCCEEDED"));
        break;
    case ConvertFailed:
        ++aConvertCounts[2];
        MarkSrcRow(row, QStringLiteral("Failed"), QStringLiteral(":IMG_FAILED"), result.error);
        break;
    default:
        ++aConvertCounts[3];
        MarkSrcRow(row, QStringLiteral("Canceled"), QStringLiteral(":IMG_CANCELLED"));
        break;
    }
}

// Once the batch is over: a job whose result never arrived is counted and
// marked as canceled. Every job reports, so this only guards the counts.
void MainWindow::ConvertCanceled()
{
    qDebug() << "MainWindow::ConvertCanceled";
    for (int i = 0; i < lConvertData.size(); ++i) {
        if (lReportedJobs.value(i))
            continue;
        lReportedJobs[i] = true;
        ++aConvertCounts[3];
        MarkSrcRow(SrcRowOf(lConvertData.at(i).srcFile), QStringLiteral("Canceled"), QStringLiteral(":IMG_CANCELLED"));
    }
}

void MainWindow::MarkSrcRow(int row, const QString& outcome, const QString& icon, const QString& why)
{
    if (row < 0 || row >= pSrcModel->rowCount())
        return;
    pSrcModel->item(row, 4)->setText(outcome);
    pSrcModel->item(row, 4)->setToolTip(why);
    // One icon object per outcome, however many rows show it.
    static QHash<QString, QIcon> icons;
    if (!icon.isEmpty() && !icons.contains(icon))
        icons.insert(icon, QIcon(icon));
    pSrcModel->item(row, 0)->setIcon(icons.value(icon));
}

void MainWindow::UpdateTgtList()
{
    setUpdatesEnabled(false);
    pTgtSelModel->clearSelection();
    pTgtModel->removeRows(0, pTgtModel->rowCount());
    for (int i = 0; i < TgtFileList.size(); ++i) {
        if (QFile::exists(TgtFileList.at(i)))
            AddTgtFile(TgtFileList.at(i), i);
    }
    const QHeaderView* header = pTgtTreeView->header();
    pTgtModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    if (pTgtModel->rowCount() > 0)
        pTgtSelModel->select(pTgtModel->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    setUpdatesEnabled(true);
}

void MainWindow::AddTgtFile(const QString& path, int index)
{
    const QFileInfo info(path);
    QList<QStandardItem*> items;
    items << new QStandardItem(info.baseName());
    items << new QStandardItem(info.suffix().toUpper());
    items << SizeItem(info.size());
    items << new QStandardItem(info.absolutePath());
    QStandardItem* indexItem = new QStandardItem;
    indexItem->setData(index, Qt::UserRole);
    items << indexItem;
    items.at(1)->setTextAlignment(Qt::AlignCenter);
    items.at(2)->setTextAlignment(Qt::AlignCenter);
    for (QStandardItem* item : qAsConst(items))
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    pTgtModel->appendRow(items);
}

void MainWindow::ShowConvertResults()
{
    QString folder = convertSettings.TgtFolder;
    if (folder == QString::fromLatin1(kSameAsSourceFile) && !TgtFileList.isEmpty())
        folder = QFileInfo(TgtFileList.first()).absolutePath();
    ConvertResultsDlg dialog(aConvertCounts, folder, this, iRenamedTargets);
    dialog.exec();
    aConvertCounts[0] = aConvertCounts[1] = aConvertCounts[2] = aConvertCounts[3] = 0;
}
