// Source list: adding, removing and selecting sources.
#include "mainwindow.h"

#include "dialogfolder.h"
#include "filelistmodel.h"
#include "imagecodecvetoer.h"
#include "sourcefolder.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QSet>
#include <QSettings>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTreeView>

#include <algorithm>
#include <vector>

namespace {

const int kIndexColumn = 5;

// Merges sorted row numbers into whole-row ranges.
QItemSelection RowSelection(QStandardItemModel* model, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    const int lastColumn = model->columnCount() - 1;
    int i = 0;
    while (i < rows.size()) {
        int j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) <= rows.at(j) + 1)
            ++j;
        selection.select(model->index(rows.at(i), 0), model->index(rows.at(j), lastColumn));
        i = j + 1;
    }
    return selection;
}

} // namespace

QString MainWindow::SizeText(qint64 bytes)
{
    double mb = double(bytes) * 9.5367431640625e-07;
    if (mb < 0.1)
        mb = 0.1;
    return tr("%1 MB").arg(QLocale().toString(mb, 'f', 1));
}

// The size cell shows megabytes and sorts by the exact byte count.
QStandardItem* MainWindow::SizeItem(qint64 bytes)
{
    QStandardItem* item = new QStandardItem(SizeText(bytes));
    item->setData(double(bytes), FileListModel::SortKeyRole);
    return item;
}

// Current model row of a listed source, whatever sorting did to the rows.
int MainWindow::SrcRowOf(const QString& path) const
{
    const QStandardItem* item = SrcIndexItem(hSrcFileIndex.value(path, -1));
    return item ? item->row() : -1;
}

const QString& MainWindow::GetSrcFmtFilter()
{
    static QString filter;
    if (filter.isEmpty())
        GetReadFilter(filter, ImageCodecVetoer());
    return filter;
}

QStandardItem* MainWindow::SrcIndexItem(int index) const
{
    return (index >= 0 && index < lSrcIndexItems.size()) ? lSrcIndexItems.at(index) : nullptr;
}

void MainWindow::AddSrcFiles()
{
    qDebug() << "MainWindow::AddFile";
    bAddingSrc = true;
    setUpdatesEnabled(false);
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("SourceFolder"));
    const QString current = DialogStartFolder(settings.value(QStringLiteral("Current")).toString());
    const QStringList files = QFileDialog::getOpenFileNames(this, tr("Add File(s)"), current,
                                                            GetFileDialogFilter(GetSrcFmtFilter()));
    if (files.isEmpty()) {
        settings.endGroup();
        bAddingSrc = false;
        setUpdatesEnabled(true);
        return;
    }
    pSrcSelModel->clearSelection();
    const int previousCount = SourceFileList.size();
    settings.setValue(QStringLiteral("Current"), QFileInfo(files.first()).absolutePath());
    settings.endGroup();
    for (const QString& path : files) {
        if (QFile::exists(path))
            AddSrcFile(path);
    }
    FinishAddingSrc(previousCount);
}

void MainWindow::AddSrcFolder()
{
    qDebug() << "MainWindow::AddSrcFolder";
    bAddingSrc = true;
    setUpdatesEnabled(false);
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("SourceFolder"));
    const QString current = DialogStartFolder(settings.value(QStringLiteral("Current")).toString());
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Add Folder"), current, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        settings.endGroup();
        bAddingSrc = false;
        setUpdatesEnabled(true);
        return;
    }
    settings.setValue(QStringLiteral("Current"), folder);
    settings.endGroup();
    pSrcSelModel->clearSelection();
    const int previousCount = SourceFileList.size();
    AddFolderFiles(folder);
    FinishAddingSrc(previousCount);
}

void MainWindow::AddFolderFiles(const QString& folder)
{
    for (const QString& path : SourceFolderFiles(folder))
        AddSrcFile(path);
}

void MainWindow::AddSrcFile(const QString& path)
{
    // Only regular files (or links to them): a FIFO or a device named like a
    // picture would block whatever reads it.
    if (!QFileInfo(path).isFile())
        return;
    const auto known = hSrcFileIndex.constFind(path);
    if (known != hSrcFileIndex.constEnd()) {
        if (QStandardItem* item = SrcIndexItem(known.value()))
            lPendingSrcRows << item->row();
        return;
    }

    const QFileInfo info(path);
    SourceFileList << path;
    hSrcFileIndex.insert(path, SourceFileList.size() - 1);

    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    QList<QStandardItem*> items;
    items << new QStandardItem(info.baseName());
    items << new QStandardItem(info.suffix().toUpper());
    items << SizeItem(info.size());
    items << new QStandardItem(info.absolutePath());
    items << new QStandardItem(tr(""));
    QStandardItem* indexItem = new QStandardItem;
    indexItem->setData(SourceFileList.size() - 1, Qt::UserRole);
    items << indexItem;
    items.at(1)->setTextAlignment(Qt::AlignCenter);
    items.at(2)->setTextAlignment(Qt::AlignCenter);
    items.at(4)->setTextAlignment(Qt::AlignCenter);
    for (QStandardItem* item : qAsConst(items))
        item->setFlags(flags);
    pSrcModel->appendRow(items);
    lSrcIndexItems << indexItem;
    lPendingSrcRows << pSrcModel->rowCount() - 1;
}

// The end of every add: one selection change, one sort, one update.
void MainWindow::FinishAddingSrc(int previousCount)
{
    if (!lPendingSrcRows.isEmpty()) {
        pSrcSelModel->select(RowSelection(pSrcModel, lPendingSrcRows), QItemSelectionModel::Select);
        lPendingSrcRows.clear();
    }
    if (SourceFileList.size() != previousCount) {
        const QHeaderView* header = pSrcTreeView->header();
        pSrcModel->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
    bAddingSrc = false;
    SrcSelChanged(QItemSelection(), QItemSelection());
    setUpdatesEnabled(true);
}

void MainWindow::dropEvent(QDropEvent* event)
{
    qDebug() << "MainWindow::dropEvent";
    bAddingSrc = true;
    setUpdatesEnabled(false);
    const int previousCount = SourceFileList.size();
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl& url : urls) {
        if (AddDroppedFile(url.toLocalFile()))
            event->acceptProposedAction();
    }
    FinishAddingSrc(previousCount);
}

// A dropped file is taken when a codec has its extension; false otherwise.
bool MainWindow::AddDroppedFile(const QString& path)
{
    const PLMImageCodecID id = PLMImageCodec(path).ID();
    if (id == PLMCodecInvalid || id == PLMCodecCount)
        return false;
    if (QFile::exists(path))
        AddSrcFile(path);
    return true;
}

void MainWindow::AddStartupPaths(const QStringList& paths)
{
    qDebug() << "MainWindow::AddStartupPaths";
    if (paths.isEmpty())
        return;
    bAddingSrc = true;
    setUpdatesEnabled(false);
    const int previousCount = SourceFileList.size();
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir())
            AddFolderFiles(path);
        else
            AddDroppedFile(path);
    }
    FinishAddingSrc(previousCount);
}

void MainWindow::SelectAllSrc()
{
    qDebug() << "MainWindow::SelectAllSrc";
    pSrcTreeView->selectAll();
}

void MainWindow::RemoveSrc()
{
    qDebug() << "MainWindow::RemoveSrc";
    const QList<int> selectedRows = SelectedSrcRows();
    if (selectedRows.isEmpty())
        return;
    setUpdatesEnabled(false);
    bRemovingSrc = true;

    // Renumber the hidden index column in one pass and drop the removed paths.
    std::vector<char> removedRow(size_t(pSrcModel->rowCount()), 0);
    for (const int row : selectedRows)
        removedRow[size_t(row)] = 1;
    QStringList keptFiles;
    QList<QStandardItem*> keptItems;
    keptFiles.reserve(SourceFileList.size());
    keptItems.reserve(SourceFileList.size());
    for (int i = 0; i < SourceFileList.size(); ++i) {
        QStandardItem* item = lSrcIndexItems.at(i);
        if (removedRow[size_t(item->row())])
            continue;
        if (keptFiles.size() != i)
            item->setData(keptFiles.size(), Qt::UserRole);
        keptFiles << SourceFileList.at(i);
        keptItems << item;
    }
    SourceFileList = keptFiles;
    lSrcIndexItems = keptItems;
    hSrcFileIndex.clear();
    for (int i = 0; i < SourceFileList.size(); ++i)
        hSrcFileIndex.insert(SourceFileList.at(i), i);

    // One pass over the model; the kept rows' items stay the same objects.
    pSrcModel->RemoveRowList(selectedRows);

    bRemovingSrc = false;
    SrcSelChanged(QItemSelection(), QItemSelection());
    setUpdatesEnabled(true);
}

// The fully selected rows, in selection order. Same answer as
// selectedRows(0), without its cost per row that grows with the number of
// selection ranges (a scattered selection of thousands of rows).
QList<int> MainWindow::SelectedSrcRows() const
{
    QList<int> rows;
    const int rowCount = pSrcModel->rowCount();
    const int lastColumn = pSrcModel->columnCount() - 1;
    std::vector<char> seen(size_t(rowCount), 0);
    for (const QItemSelectionRange& range : pSrcSelModel->selection()) {
        const bool wholeRows = range.left() == 0 && range.right() == lastColumn;
        for (int row = range.top(); row <= range.bottom() && row < rowCount; ++row) {
            if (seen[size_t(row)] || (!wholeRows && !pSrcSelModel->isRowSelected(row, QModelIndex())))
                continue;
            seen[size_t(row)] = 1;
            rows << row;
        }
    }
    return rows;
}

void MainWindow::SrcSelChanged(const QItemSelection&, const QItemSelection&)
{
    qDebug() << "MainWindow::SrcSelChanged";
    if (bAddingSrc || bRemovingSrc)
        return;

    const int previous = lSelSrcFiles.size();
    lSelSrcFiles.clear();
    lSelSrcRows.clear();
    bVectorSrcSel = false;
    if (pSrcSelModel->hasSelection()) {
        for (const int row : SelectedSrcRows()) {
            const int i = pSrcModel->index(row, kIndexColumn).data(Qt::UserRole).toInt();
            if (i < 0 || i >= SourceFileList.size())
                continue;
            const QString& path = SourceFileList.at(i);
            lSelSrcFiles << path;
            lSelSrcRows << row;
            if (!bVectorSrcSel) {
                const QString suffix = QFileInfo(path).suffix();
                bVectorSrcSel = suffix.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
                                || suffix.compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0;
            }
        }
    }

    if (bVectorSrcSel) {
        EnableDPIForVectorSources();
    } else if (!pTgtDPICB->isEnabled()) {
        pTgtDPICB->setEnabled(true);
        pTgtDPICmB->setEnabled(!pTgtDPICB->isChecked());
    }

    if (previous >= 2 && lSelSrcFiles.size() > 1) {
        UpdateStatusBar();
        return;
    }
    UpdateSrcPreview();
    UpdateActions();
    UpdateOpenTgtBtn(pTgtFoldersCmB->currentText());
    UpdateStatusBar();
}

void MainWindow::UpdateStatusBar()
{
    qDebug() << "MainWindow::UpdateStatusBar";
    // A permanent label: menu status tips replace temporary messages.
    pSelCountLbl->setText(tr("%1 / %2 source files selected").arg(lSelSrcFiles.size()).arg(SourceFileList.size()));
}
