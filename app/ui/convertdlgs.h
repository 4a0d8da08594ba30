// Results, crash-report and preference dialogs.
#ifndef KORVANE_CONVERTDLGS_H
#define KORVANE_CONVERTDLGS_H

#include "gui/settingsdlg.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QVBoxLayout;

void SetReportCResults(bool report);

// Counts of a finished batch, with "Open Target".
class ConvertResultsDlg : public QDialog
{
    Q_OBJECT
public:
    // counts: jobs, succeeded, failed, cancelled. renamed: targets that took a
    // number instead of overwriting a source or another target of the batch.
    ConvertResultsDlg(const int* counts, const QString& folder, QWidget* parent, int renamed = 0);

public slots:
    void accept() override;
    void reject() override;

private:
    const int* pCounts;
    const QString& refFolder;
    QLabel* pCountsLbl = nullptr;
    QLabel* pNoteLbl = nullptr;
    QLabel* pRenamedLbl = nullptr;
    QCheckBox* pNotShowCB = nullptr;
    QDialogButtonBox* pButtonBox = nullptr;
    QVBoxLayout* pLayout = nullptr;
};

// Shown at start-up after a run that did not end cleanly.
class ConvertCrashDlg : public QDialog
{
    Q_OBJECT
public:
    explicit ConvertCrashDlg(QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    QLabel* pMessageLbl = nullptr;
    QCheckBox* pNotShowCB = nullptr;
    QDialogButtonBox* pButtonBox = nullptr;
    QVBoxLayout* pLayout = nullptr;
};

// The program's preferences: three do-not-show choices on three tabs.
class SettingsDlg : public PLMSettingsDlg
{
    Q_OBJECT
public:
    explicit SettingsDlg(QWidget* parent);

public slots:
    void accept() override;

private:
    void LoadSettings();
    void SaveSettings();

    QCheckBox* pCrashCB = nullptr;
    QCheckBox* pEditCB = nullptr;
    QCheckBox* pConvertCB = nullptr;
};

#endif
