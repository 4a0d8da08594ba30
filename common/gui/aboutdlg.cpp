#include "gui/aboutdlg.h"

// Implemented with the dialogs.
PLMAboutDlg::PLMAboutDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint) {}
void PLMAboutDlg::Credits() {}
void PLMAboutDlg::accept() { QDialog::accept(); }
PLMAboutCreditsDlg::PLMAboutCreditsDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint) {}
void PLMAboutCreditsDlg::accept() { QDialog::accept(); }
