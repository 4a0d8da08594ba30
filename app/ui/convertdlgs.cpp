#include "convertdlgs.h"

#include "openfolder.h"

#include "startup.h"

#include <QCheckBox>
#include <QDebug>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpacerItem>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char* const kOrganization = "Pelmora";
const char* const kApplication = "Korvane";
const char* const kSettingsGroup = "Settings";
const char* const kReportCrashKey = "ReportCrash";
const char* const kRemindESettingsKey = "RemindESettings";
const char* const kReportCResultsKey = "ReportCResults";

// One tab of the preferences: a single check box at the top.
QWidget* MakeCheckBoxPage(QCheckBox*& refCheckBox, const QString& text)
{
    QWidget* pPage = new QWidget;
    QVBoxLayout* pPageLayout = new QVBoxLayout(pPage);
    refCheckBox = new QCheckBox(text, pPage);
    pPageLayout->addWidget(refCheckBox);
    pPageLayout->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    return pPage;
}

// The sizes below are laid out for the usual 8-9 pt dialog font. Where the
// platform's font is larger the dialog grows just enough to keep every line
// of its report visible instead of squeezing lines away.
void SetDialogSize(QDialog* pDialog, int iWidth, int iHeight)
{
    pDialog->setFixedSize(QSize(iWidth, iHeight).expandedTo(pDialog->minimumSizeHint()));
}

} // namespace

void SetReportCResults(bool report)
{
    qDebug() << "SetReportCResults";
    QSettings settings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    settings.beginGroup(QString::fromLatin1(kSettingsGroup));
    settings.setValue(QString::fromLatin1(kReportCResultsKey), report);
    settings.endGroup();
}

// ---------------------------------------------------------------------------

ConvertResultsDlg::ConvertResultsDlg(const int* counts, const QString& folder, QWidget* parent, int renamed)
    : QDialog(parent, Qt::WindowCloseButtonHint), pCounts(counts), refFolder(folder)
{
    qDebug() << "ConvertResultsDlg::ConvertResultsDlg";
    const int iJobs = pCounts[0];
    const int iSucceeded = pCounts[1];
    const int iFailed = pCounts[2];
    const int iCanceled = pCounts[3];

    pCountsLbl = new QLabel(tr("Selected Files:") + QString::number(iJobs) + QLatin1Char('\n')
                                + tr("Succeeded Files:") + QString::number(iSucceeded) + QLatin1Char('\n')
                                + tr("Failed Files:") + QString::number(iFailed) + QLatin1Char('\n')
                                + tr("Canceled Files:") + QString::number(iCanceled),
                            this);
    if (iFailed > 0)
        pNoteLbl = new QLabel(tr("Note: Files failed in a batch conversion on a computer with multi-core processer\n"
                                 "may succeed if they are converted separately."),
                              this);
    if (renamed > 0)
        pRenamedLbl = new QLabel(tr("%n target file(s) got a numbered name instead of overwriting a source\n"
                                    "or another target of this conversion.", nullptr, renamed),
                                 this);
    pNotShowCB = new QCheckBox(tr("Do not show again"), this);
    pNotShowCB->setChecked(false);

    pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    QPushButton* pOpenBtn = pButtonBox->button(QDialogButtonBox::Ok);
    pOpenBtn->setText(tr("Open Target"));
    pOpenBtn->setEnabled(iSucceeded >= 1);
    pButtonBox->button(QDialogButtonBox::Cancel)->setText(tr("OK"));

    pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pCountsLbl);
    if (pNoteLbl)
        pLayout->addWidget(pNoteLbl);
    if (pRenamedLbl)
        pLayout->addWidget(pRenamedLbl);
    pLayout->addWidget(pNotShowCB);
    pLayout->addWidget(pButtonBox);
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(pButtonBox, SIGNAL(rejected()), this, SLOT(reject()));

    setWindowTitle(tr("Convert Results"));
    SetDialogSize(this, 410, 160);
}

void ConvertResultsDlg::accept()
{
    qDebug() << "ConvertResultsDlg::accept";
    SetReportCResults(!pNotShowCB->isChecked());
    // A folder that does not exist (nothing written next to several
    // sources, for instance) is simply not opened.
    if (QFileInfo(refFolder).isDir())
        OpenFolder(refFolder, this);
    QDialog::accept();
}

// "OK", Escape and the close button all end here.
void ConvertResultsDlg::reject()
{
    qDebug() << "ConvertResultsDlg::reject";
    SetReportCResults(!pNotShowCB->isChecked());
    QDialog::reject();
}

// ---------------------------------------------------------------------------

ConvertCrashDlg::ConvertCrashDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint)
{
    qDebug() << "ConvertCrashDlg::ConvertCrashDlg";
    pMessageLbl = new QLabel(tr("Korvane Image Converter did not shut down correctly.\n"
                                "Note: Files failed in a batch conversion on a computer with multi-core processer\n"
                                "may succeed if they are converted separately."),
                             this);
    pNotShowCB = new QCheckBox(tr("Do not show again"), this);
    pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);

    pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pMessageLbl);
    pLayout->addWidget(pNotShowCB);
    pLayout->addWidget(pButtonBox);
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));

    SetDialogSize(this, 410, 160);
}

// Only an explicit OK stores the choice; closing the window leaves the
// report armed for the next abnormal end.
void ConvertCrashDlg::accept()
{
    qDebug() << "ConvertCrashDlg::accept";
    SetReportCrash(!pNotShowCB->isChecked());
    QDialog::accept();
}

// ---------------------------------------------------------------------------

SettingsDlg::SettingsDlg(QWidget* parent) : PLMSettingsDlg(parent)
{
    qDebug() << "SettingsDlg::SettingsDlg";
    pTabWidget->addTab(MakeCheckBoxPage(pCrashCB, tr("Do not show crash report after startup")), tr("Startup"));
    pTabWidget->addTab(MakeCheckBoxPage(pEditCB, tr("Do not show reminds after editing")), tr("Edit"));
    pTabWidget->addTab(MakeCheckBoxPage(pConvertCB, tr("Do not show convert results after conversion")),
                       tr("Convert"));
    LoadSettings();
    SetDialogSize(this, 400, 200);
}

void SettingsDlg::accept()
{
    qDebug() << "SettingsDlg::accept";
    SaveSettings();
    QDialog::accept();
}

void SettingsDlg::LoadSettings()
{
    qDebug() << "SettingsDlg::LoadSettings";
    QSettings settings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    settings.beginGroup(QString::fromLatin1(kSettingsGroup));
    pCrashCB->setChecked(!settings.value(QString::fromLatin1(kReportCrashKey), true).toBool());
    pEditCB->setChecked(!settings.value(QString::fromLatin1(kRemindESettingsKey), true).toBool());
    pConvertCB->setChecked(!settings.value(QString::fromLatin1(kReportCResultsKey), true).toBool());
    settings.endGroup();
}

void SettingsDlg::SaveSettings()
{
    qDebug() << "SettingsDlg::SaveSettings";
    QSettings settings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
    settings.beginGroup(QString::fromLatin1(kSettingsGroup));
    settings.setValue(QString::fromLatin1(kReportCrashKey), !pCrashCB->isChecked());
    settings.setValue(QString::fromLatin1(kRemindESettingsKey), !pEditCB->isChecked());
    settings.setValue(QString::fromLatin1(kReportCResultsKey), !pConvertCB->isChecked());
    settings.endGroup();
}
