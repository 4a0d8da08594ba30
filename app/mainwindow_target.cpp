// Target panel: folder, format, exists policy, resolution and metadata.
#include "mainwindow.h"

#include "imagecodecdlg.h"
#include "imagecodecvetoer.h"

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

} // namespace

void MainWindow::InitTgtFoldersCmB()
{
    qDebug() << "MainWindow::InitTgtFoldersCmB";
    pTgtFoldersCmB->addItem(SameAsSource());
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.beginGroup(QStringLiteral("TgtFolder"));
    const int count = settings.value(QStringLiteral("Count"), 0).toInt();
    for (int i = 0; i < count; ++i)
        pTgtFoldersCmB->addItem(settings.value(QString::number(i), QString()).toString());
    settings.endGroup();
    pTgtFoldersCmB->setCurrentIndex(pTgtFoldersCmB->findText(convertSettings.TgtFolder, Qt::MatchExactly | Qt::MatchCaseSensitive));
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
            pTgtDPICmB->setEnabled(true);
            pTgtDPICB->setEnabled(false);
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
    const int count = settings.value(QStringLiteral("Count"), 0).toInt();
    for (int i = 0; i < count; ++i)
        pTgtDPICmB->addItem(settings.value(QString::number(i), QString()).toString());
    settings.endGroup();
    pTgtDPICmB->setCurrentIndex(pTgtDPICmB->findText(QString::number(convertSettings.TgtDPI), Qt::MatchExactly | Qt::MatchCaseSensitive));
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

void MainWindow::BrowseTgtFolder() { qDebug() << "MainWindow::BrowseTgtFolder"; }
void MainWindow::Convert() { qDebug() << "MainWindow::Convert"; }
void MainWindow::ConvertResultReadyAt(int) { qDebug() << "MainWindow::convertResultReadyAt"; }
void MainWindow::ConvertCanceled() { qDebug() << "MainWindow::ConvertCanceled"; }
void MainWindow::OpenTarget() { qDebug() << "MainWindow::OpenTarget"; }
void MainWindow::UpdateTgtList() {}
void MainWindow::AddTgtFile(const QString&, int) {}
void MainWindow::ShowConvertResults() {}

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
    default:
        return;
    }
    dialog->exec();
}
