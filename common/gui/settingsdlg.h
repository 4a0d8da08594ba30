#ifndef PLM_GUI_SETTINGSDLG_H
#define PLM_GUI_SETTINGSDLG_H

#include <QDialog>

class QDialogButtonBox;
class QTabWidget;
class QVBoxLayout;

// Base of tabbed preference dialogs: a tab widget above OK and Cancel.
class PLMSettingsDlg : public QDialog
{
public:
    explicit PLMSettingsDlg(QWidget* parent);

protected:
    QTabWidget* pTabWidget;
    QDialogButtonBox* pButtonBox;
    QVBoxLayout* pLayout;
};

#endif
