// Target panel: folder, format, exists policy, resolution and metadata.
#include "mainwindow.h"

#include "imagecodecdlg.h"
#include "imagecodecvetoer.h"
#include "openfolder.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QToolTip>
#include <QAction>
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

// What Convert checks before a batch: the target folder (created when the
// user agrees) and a resolution in range. folderText: the folder to use.
bool MainWindow::CheckTgtPanel(QString& folderText)
{
    const QString folder = QDir::cleanPath(pTgtFoldersCmB->currentText().trimmed());
    folderText = pTgtFoldersCmB->currentText() == SameAsSource() ? SameAsSource() : folder;
    if (!CheckTgtFolder(folderText))
        return false;
    if (pTgtDPICmB->isEnabled()) {
        const int dpi = pTgtDPICmB->currentText().toInt();
        if (dpi < kMinDPI || dpi > kMaxDPI) {
            QToolTip::showText(pTgtDPICmB->mapToGlobal(QPoint(0, 0)),
                               QStringLiteral("DPI should be between %1 and %2").arg(kMinDPI).arg(kMaxDPI), pTgtDPICmB);
            return false;
        }
    }
    return true;
}
