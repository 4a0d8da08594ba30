#ifndef PLM_GUI_ABOUTDLG_H
#define PLM_GUI_ABOUTDLG_H

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// Logo, title, version, the maker's link and a legal notice, with "Credits".
class PLMAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit PLMAboutDlg(QWidget* parent = nullptr);

protected slots:
    void Credits();
    void accept() override;

private:
    QLabel* pLogoLbl;
    QLabel* pLinkLbl;
    QLabel* pTextLbl;
    QPushButton* pCreditsBtn;
    QDialogButtonBox* pButtonBox;
    QVBoxLayout* pMainLayout;
};

// Shows the credits text built at start-up.
class PLMAboutCreditsDlg : public QDialog
{
    Q_OBJECT
public:
    explicit PLMAboutCreditsDlg(QWidget* parent = nullptr);

protected slots:
    void accept() override;

private:
    QScrollArea* pScrollArea;
    QLabel* pCreditsLbl;
    QDialogButtonBox* pButtonBox;
    QVBoxLayout* pMainLayout;
};

#endif
