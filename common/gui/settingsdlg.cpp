#include "gui/settingsdlg.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

PLMSettingsDlg::PLMSettingsDlg(QWidget* parent)
    : QDialog(parent, Qt::WindowCloseButtonHint)
    , pTabWidget(new QTabWidget(this))
    , pButtonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
    , pLayout(new QVBoxLayout(this))
{
    pLayout->addWidget(pTabWidget);
    pLayout->addWidget(pButtonBox);
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(pButtonBox, SIGNAL(rejected()), this, SLOT(reject()));
}
