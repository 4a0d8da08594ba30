#include "convertdlgs.h"

#include <QSettings>

// Implemented with the dialogs.
void SetReportCResults(bool report)
{
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Korvane"));
    settings.setValue(QStringLiteral("Settings/ReportCResults"), report);
}
ConvertResultsDlg::ConvertResultsDlg(const int* counts, const QString& folder, QWidget* parent)
    : QDialog(parent, Qt::WindowCloseButtonHint), pCounts(counts), refFolder(folder) {}
void ConvertResultsDlg::accept() { QDialog::accept(); }
void ConvertResultsDlg::reject() { QDialog::reject(); }
ConvertCrashDlg::ConvertCrashDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint) {}
void ConvertCrashDlg::accept() { QDialog::accept(); }
SettingsDlg::SettingsDlg(QWidget* parent) : PLMSettingsDlg(parent) {}
void SettingsDlg::accept() { QDialog::accept(); }
void SettingsDlg::LoadSettings() {}
void SettingsDlg::SaveSettings() {}
