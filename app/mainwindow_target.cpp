// Target panel: folder, format, exists policy, resolution and metadata.
#include "mainwindow.h"

#include "batchrunner.h"
#include "convertdlgs.h"
#include "imagecodecdlg.h"
#include "imagecodecvetoer.h"
#include "openfolder.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QHeaderView>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSettings>

namespace {

const int kMinDPI = 60;
const int kMaxDPI = 2400;
const int kMaxHistory = 10;

QString SameAsSource()
{
    return QString::fromLatin1(kSameAsSourceFile);
}

// A history's stored length, no more than it ever holds: a damaged count
// must not make the window read (and show) millions of entries.
int HistoryCount(const QSettings& settings)
{
    const int count = settings.value(QStringLiteral("Count"), 0).toInt();
    if (count < 0 || count > kMaxHistory) {
        qWarning().noquote() << QStringLiteral("MainWindow   Invalid history count: %1").arg(count);
        return qBound(0, count, kMaxHistory);
    }
    return count;
}

} // namespace

void MainWindow::InitTgtFoldersCmB()
{
    qDebug() << "MainWindow::InitTgtFoldersCmB";
    pTgtFoldersCmB->addItem(SameAsSource());
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("TgtFolder"));
    const int count = HistoryCount(settings);
    for (int i = 0; i < count; ++i) {
        const QString folder = settings.value(QString::number(i), QString()).toString();
        if (!folder.isEmpty() && pTgtFoldersCmB->findText(folder, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            pTgtFoldersCmB->addItem(folder);
    }
    settings.endGroup();
    // The stored target folder is shown even when the history lost it.
    int current = pTgtFoldersCmB->findText(convertSettings.TgtFolder, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (current < 0 && !convertSettings.TgtFolder.isEmpty()) {
        pTgtFoldersCmB->insertItem(1, convertSettings.TgtFolder);
        current = 1;
    }
    pTgtFoldersCmB->setCurrentIndex(current);
}

// A folder a conversion used goes to the top of the history, once.
void MainWindow::PutTgtFolderFirst(const QString& folder)
{
    if (folder == SameAsSource())
        return;
    for (int i = pTgtFoldersCmB->count() - 1; i >= 1; --i) {
        if (pTgtFoldersCmB->itemText(i) == folder)
            pTgtFoldersCmB->removeItem(i);
    }
    pTgtFoldersCmB->insertItem(1, folder);
    while (pTgtFoldersCmB->count() > kMaxHistory + 1)
        pTgtFoldersCmB->removeItem(pTgtFoldersCmB->count() - 1);
    pTgtFoldersCmB->setCurrentIndex(1);
}

void MainWindow::SaveTgtFolders()
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("TgtFolder"));
    int written = 0;
    for (int i = 0; i < pTgtFoldersCmB->count() && written < kMaxHistory; ++i) {
        const QString folder = pTgtFoldersCmB->itemText(i);
        if (folder == SameAsSource())
            continue;
        settings.setValue(QString::number(written), folder);
        ++written;
    }
    settings.setValue(QStringLiteral("Count"), written);
    settings.endGroup();
}

void MainWindow::InitTgtFmtCmB()
{
    qDebug() << "MainWindow::InitTgtFmtCmB";
    const ImageCodecVetoer vetoer;
    int current = 0;
    for (int id = 0; id < PLMCodecCount; ++id) {
        if (!vetoer.IsEnabled(PLMImageCodecID(id), PLMImageIOWrite))
            continue;
        const PLMImageCodec codec{PLMImageCodecID(id)};
        const QStringList extensions = codec.GetExtensions();
        for (int j = 0; j < extensions.size(); ++j) {
            if (extensions.at(j).compare(convertSettings.TgtFormat, Qt::CaseInsensitive) == 0)
                current = pTgtFmtCmB->count();
            pTgtFmtCmB->addItem(codec.GetName() + QStringLiteral(" (") + extensions.at(j) + QStringLiteral(")"),
                                (j << 16) | id);
        }
    }
    pTgtFmtCmB->setCurrentIndex(current);
}

PLMImageCodecID MainWindow::CurrentTgtCodec() const
{
    return PLMImageCodecID(pTgtFmtCmB->currentData().toInt() & 0xFFFF);
}

void MainWindow::TgtFmtChanged(int iFmtCBIndex)
{
    const PLMImageCodecID id = PLMImageCodecID(pTgtFmtCmB->itemData(iFmtCBIndex).toInt() & 0xFFFF);
    pTgtFmtSettingsBtn->setEnabled(PLMImageCodec::HasOptions(id));
    if (id != PLMCodecPDF && id != PLMCodecSVG) {
        pTgtDPILbl->setEnabled(true);
        if (!bVectorSrcSel) {
            pTgtDPICB->setEnabled(true);
            pTgtDPICmB->setEnabled(!pTgtDPICB->isChecked());
        } else {
            EnableDPIForVectorSources();
        }
    } else {
        pTgtDPILbl->setEnabled(false);
        pTgtDPICmB->setEnabled(false);
        pTgtDPICB->setEnabled(false);
    }
    pKeepMdCB->setEnabled(PLMImageCodec::CanKeepMetadata(id));
}

void MainWindow::InitTgtExistsCmB()
{
    const QStringList names = ExistsPolicyNames();
    for (int i = 0; i < names.size(); ++i)
        pTgtExistsCmB->addItem(names.at(i), i);
    // A stored value outside the list falls back to the first, safe policy.
    const int policy = (convertSettings.Exists >= 0 && convertSettings.Exists < names.size()) ? convertSettings.Exists : 0;
    pTgtExistsCmB->setCurrentIndex(pTgtExistsCmB->findText(names.at(policy), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void MainWindow::InitTgtDPI()
{
    qDebug() << "MainWindow::InitTgtDPI";
    pTgtDPICmB->addItems(StandardTgtDPIs());
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("TgtDPI"));
    const int count = HistoryCount(settings);
    for (int i = 0; i < count; ++i) {
        const QString dpi = settings.value(QString::number(i), QString()).toString();
        const int value = dpi.toInt();
        if (value >= kMinDPI && value <= kMaxDPI && pTgtDPICmB->findText(dpi, Qt::MatchExactly) < 0)
            pTgtDPICmB->addItem(dpi);
    }
    settings.endGroup();
    pTgtDPICmB->setCurrentIndex(pTgtDPICmB->findText(QString::number(convertSettings.TgtDPI), Qt::MatchExactly | Qt::MatchCaseSensitive));
    if (convertSettings.TgtDPI >= kMinDPI && convertSettings.TgtDPI <= kMaxDPI)
        iLastValidDPI = convertSettings.TgtDPI;
    pTgtDPICB->setChecked(convertSettings.TgtDPISameSrc);
}

void MainWindow::SaveTgtDPIs()
{
    const QString current = pTgtDPICmB->currentText();
    if (!pTgtDPICB->isChecked() && pTgtDPICmB->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        pTgtDPICmB->addItem(current);

    const QStringList standard = StandardTgtDPIs();
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("TgtDPI"));
    int written = 0;
    for (int i = 0; i < pTgtDPICmB->count() && written < kMaxHistory; ++i) {
        const int dpi = pTgtDPICmB->itemText(i).toInt();
        if (standard.contains(QString::number(dpi)) || dpi < kMinDPI || dpi > kMaxDPI)
            continue;
        settings.setValue(QString::number(written), QString::number(dpi));
        ++written;
    }
    settings.setValue(QStringLiteral("Count"), written);
    settings.endGroup();
}

void MainWindow::TgtDPITextChanged(const QString& text)
{
    bool number = false;
    const int dpi = text.toInt(&number);
    if (number && dpi >= kMinDPI && dpi <= kMaxDPI)
        iLastValidDPI = dpi;
}

// PDF and SVG sources are rendered at the target DPI, so the field is needed
// even where the user had switched it off; it then shows the last valid value
// instead of whatever was left typed in it.
void MainWindow::EnableDPIForVectorSources()
{
    pTgtDPICmB->setEnabled(true);
    pTgtDPICB->setEnabled(false);
    bool number = false;
    const int dpi = pTgtDPICmB->currentText().toInt(&number);
    if (!number || dpi < kMinDPI || dpi > kMaxDPI)
        pTgtDPICmB->setEditText(QString::number(iLastValidDPI));
}

void MainWindow::TgtDPICBChecked(int iState)
{
    if (iState == Qt::Unchecked)
        pTgtDPICmB->setEnabled(true);
    else if (iState == Qt::Checked)
        pTgtDPICmB->setEnabled(false);
}

void MainWindow::UpdateConvertSettings()
{
    convertSettings.SetTgtFolder(pTgtFoldersCmB->currentText());
    const int data = pTgtFmtCmB->currentData().toInt();
    convertSettings.TgtID = PLMImageCodecID(data & 0xFFFF);
    convertSettings.TgtFormat = PLMImageCodec(convertSettings.TgtID).GetExtension(data >> 16);
    convertSettings.Exists = pTgtExistsCmB->currentIndex();
    convertSettings.TgtDPISameSrc = pTgtDPICB->isChecked();
    convertSettings.TgtDPI = pTgtDPICmB->currentText().toInt();
    convertSettings.KeepMd = pKeepMdCB->isChecked();
}

void MainWindow::UpdateOpenTgtBtn()
{
    UpdateOpenTgtBtn(pTgtFoldersCmB->currentText());
}

void MainWindow::UpdateOpenTgtBtn(QString sTgtFolder)
{
    const bool enable = (sTgtFolder == SameAsSource()) ? lSelSrcFiles.size() == 1 : !sTgtFolder.isEmpty();
    pOpenTargetAct->setEnabled(enable);
}


void MainWindow::TgtFmtSettingsClicked()
{
    qDebug() << "MainWindow::TgtFmtSettingsClicked";
    QScopedPointer<ImageCodecDlg> dialog;
    switch (CurrentTgtCodec()) {
    case PLMCodecICO:
        dialog.reset(new ICODlg(&convertSettings, this));
        break;
    case PLMCodecJPEG:
        dialog.reset(new JPEGDlg(&convertSettings, this));
        break;
    case PLMCodecJPEG2000:
        dialog.reset(new JPEG2000Dlg(&convertSettings, this));
        break;
    case PLMCodecJPEGXR:
        dialog.reset(new JPEGXRDlg(&convertSettings, this));
        break;
    case PLMCodecPDF:
        dialog.reset(new PDFDlg(&convertSettings, this));
        break;
    case PLMCodecWEBP:
        dialog.reset(new WEBPDlg(&convertSettings, this));
        break;
    case PLMCodecHEIF:
        dialog.reset(new HEIFDlg(&convertSettings, this));
        break;
    case PLMCodecAVIF:
        dialog.reset(new AVIFDlg(&convertSettings, this));
        break;
    case PLMCodecJXL:
        dialog.reset(new JXLDlg(&convertSettings, this));
        break;
    default:
        return;
    }
    dialog->exec();
}

void MainWindow::BrowseTgtFolder()
{
    qDebug() << "MainWindow::BrowseTgtFolder";
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    QString start = pTgtFoldersCmB->currentText();
    if (start == SameAsSource())
        start = lSelSrcFiles.size() == 1 ? QFileInfo(lSelSrcFiles.first()).absolutePath() : pictures;
    if (!QDir(start).exists())
        start = pictures;
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Set Target Folder"), start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    int index = pTgtFoldersCmB->findText(folder, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        pTgtFoldersCmB->addItem(folder);
        index = pTgtFoldersCmB->count() - 1;
    }
    pTgtFoldersCmB->setCurrentIndex(index);
}

void MainWindow::OpenTarget()
{
    qDebug() << "MainWindow::OpenTarget";
    QString folder = pTgtFoldersCmB->currentText();
    if (folder == SameAsSource() && lSelSrcFiles.size() == 1)
        folder = QFileInfo(lSelSrcFiles.first()).absolutePath();
    if (!folder.isEmpty() && QDir(folder).exists()) {
        OpenFolder(folder, this);
        return;
    }
    QMessageBox::warning(this, tr("Korvane Image Converter"), tr("Invalid target folder: \"%1\".").arg(folder),
                         QMessageBox::Ok);
}

// The folder combo's text must be "Same as source file" or a folder; a folder
// that does not exist yet is created when the user agrees.
bool MainWindow::CheckTgtFolder(const QString& folder)
{
    if (folder == SameAsSource())
        return true;
    const auto refuse = [this]() {
        QToolTip::showText(pTgtFoldersCmB->mapToGlobal(QPoint(0, 0)), QStringLiteral("Invalid targt folder!"),
                           pTgtFoldersCmB);
        return false;
    };
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return refuse();
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists())
        return refuse();        // a file of that name
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Korvane Image Converter"),
        tr("The target folder \"%1\" does not exist. Create it?").arg(QDir::toNativeSeparators(folder)),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes)
        return refuse();
    if (!QDir().mkpath(folder)) {
        QMessageBox::warning(this, tr("Korvane Image Converter"),
                             tr("The target folder \"%1\" could not be created.").arg(QDir::toNativeSeparators(folder)),
                             QMessageBox::Ok);
        return false;
    }
    return true;
}

void MainWindow::Convert()
{
    qDebug() << "MainWindow::Convert";
    if (lSelSrcFiles.isEmpty())
        return;

    const QString folder = QDir::cleanPath(pTgtFoldersCmB->currentText().trimmed());
    const QString folderText = pTgtFoldersCmB->currentText() == SameAsSource() ? SameAsSource() : folder;
    if (!CheckTgtFolder(folderText))
        return;
    if (pTgtDPICmB->isEnabled()) {
        const int dpi = pTgtDPICmB->currentText().toInt();
        if (dpi < kMinDPI || dpi > kMaxDPI) {
            QToolTip::showText(pTgtDPICmB->mapToGlobal(QPoint(0, 0)),
                               QStringLiteral("DPI should be between %1 and %2").arg(kMinDPI).arg(kMaxDPI), pTgtDPICmB);
            return;
        }
    }

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
    if (folder == SameAsSource() && !TgtFileList.isEmpty())
        folder = QFileInfo(TgtFileList.first()).absolutePath();
    ConvertResultsDlg dialog(aConvertCounts, folder, this, iRenamedTargets);
    dialog.exec();
    aConvertCounts[0] = aConvertCounts[1] = aConvertCounts[2] = aConvertCounts[3] = 0;
}
