#include "gui/aboutdlg.h"

#include "gen/plugins.h"

#include <QDebug>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QVBoxLayout>

namespace {

const char* const kMakerSite = "https://www.pelmora.com";

const char* const kTitleStyle = " font-size:10pt; font-weight:800; color:#000000;";
const char* const kLineStyle = " font-size:8pt; font-weight:450; color:#000000;";

// A column widget without margins whose layout is stacked top-down.
QWidget* MakeColumn(QVBoxLayout*& refLayout)
{
    QWidget* pColumn = new QWidget;
    pColumn->setContentsMargins(0, 0, 0, 0);
    refLayout = new QVBoxLayout(pColumn);
    refLayout->setContentsMargins(0, 0, 0, 0);
    refLayout->setSpacing(0);
    return pColumn;
}

QString AboutText()
{
    const QString sLine = QStringLiteral("<br>%1<br/>");
    return QStringLiteral("<span style=\"%1\">").arg(QLatin1String(kTitleStyle))
           + sLine.arg(QObject::tr("Korvane Image Converter"))
           + QStringLiteral("<span style=\"%1\">").arg(QLatin1String(kLineStyle))
           + sLine.arg(QObject::tr("Version %1").arg(QStringLiteral("1.0.4")))
           + sLine.arg(QObject::tr("Korvane Image Converter is a product of Pelmora."))
           + sLine.arg(QObject::tr("HEIF/HEIC, AVIF and JPEG XL pictures are read and written with libheif "
                                   "(libde265, x265), libavif (libaom, dav1d) and libjxl; see Credits."))
           + sLine.arg(QObject::tr("Copyright &copy; Pelmora. All rights reserved."))
           + sLine.arg(QObject::tr("This software is provided \"as is\", without warranty of any kind. "
                                   "Pelmora is not liable for any damage arising from its use."))
           + QStringLiteral("</span></span>");
}

// The sizes are laid out for the usual 8-9 pt dialog font; with a larger
// platform font the dialog grows in height so that no line is cut.
void SetDialogSize(QDialog* pDialog, int iWidth, int iHeight)
{
    QLayout* pLayout = pDialog->layout();
    if (pLayout && pLayout->hasHeightForWidth())
        iHeight = qMax(iHeight, pLayout->totalHeightForWidth(iWidth));
    pDialog->setFixedSize(iWidth, iHeight);
}

} // namespace

PLMAboutDlg::PLMAboutDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint)
{
    qDebug() << "PLMAboutDlg::PLMAboutDlg";

    // Left: logo, the maker's address, then free space.
    QVBoxLayout* pLeftLayout = nullptr;
    QWidget* pLeftColumn = MakeColumn(pLeftLayout);
    pLogoLbl = new QLabel(pLeftColumn);
    pLogoLbl->setScaledContents(true);
    pLogoLbl->setPixmap(QIcon(QStringLiteral(":IMG_PLM")).pixmap(150, 150, QIcon::Normal, QIcon::Off));
    pLinkLbl = new QLabel(pLeftColumn);
    pLinkLbl->setTextFormat(Qt::RichText);
    pLinkLbl->setText(QStringLiteral("<span style=\"%1\"><a href=\"%2\">%2</a></span>")
                          .arg(QLatin1String(kLineStyle), QLatin1String(kMakerSite)));
    pLinkLbl->setTextInteractionFlags(Qt::TextBrowserInteraction);
    pLinkLbl->setOpenExternalLinks(true);
    pLeftLayout->addWidget(pLogoLbl);
    pLeftLayout->addWidget(pLinkLbl);
    pLeftLayout->addItem(new QSpacerItem(0, 1, QSizePolicy::Minimum, QSizePolicy::Expanding));

    // Right: title, version and the legal lines.
    QVBoxLayout* pRightLayout = nullptr;
    QWidget* pRightColumn = MakeColumn(pRightLayout);
    pTextLbl = new QLabel(pRightColumn);
    pTextLbl->setTextFormat(Qt::RichText);
    pTextLbl->setWordWrap(true);
    pTextLbl->setText(AboutText());
    pRightLayout->addWidget(pTextLbl);
    pRightLayout->addItem(new QSpacerItem(0, 1, QSizePolicy::Minimum, QSizePolicy::Expanding));

    QWidget* pColumns = new QWidget(this);
    pColumns->setContentsMargins(0, 0, 0, 0);
    QHBoxLayout* pColumnsLayout = new QHBoxLayout(pColumns);
    pColumnsLayout->setContentsMargins(0, 0, 0, 0);
    pColumnsLayout->setSpacing(0);
    pColumnsLayout->addWidget(pLeftColumn);
    pColumnsLayout->addWidget(pRightColumn, 1);

    pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    pCreditsBtn = pButtonBox->addButton(tr("Credits"), QDialogButtonBox::ApplyRole);

    pMainLayout = new QVBoxLayout(this);
    pMainLayout->addWidget(pColumns);
    pMainLayout->addWidget(pButtonBox);
    connect(pCreditsBtn, SIGNAL(clicked()), this, SLOT(Credits()));
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));

    SetDialogSize(this, 460, 270);
    setWindowTitle(tr("About"));
}

void PLMAboutDlg::Credits()
{
    qDebug() << "PLMAboutDlg::Credits";
    PLMAboutCreditsDlg dialog(this);
    dialog.exec();
}

void PLMAboutDlg::accept()
{
    QDialog::accept();
}

PLMAboutCreditsDlg::PLMAboutCreditsDlg(QWidget* parent) : QDialog(parent, Qt::WindowCloseButtonHint)
{
    qDebug() << "PLMAboutCreditsDlg::PLMAboutCreditsDlg";

    QWidget* pCreditsPage = new QWidget;
    QVBoxLayout* pPageLayout = new QVBoxLayout(pCreditsPage);
    pCreditsLbl = new QLabel(pCreditsPage);
    pCreditsLbl->setTextFormat(Qt::RichText);
    // The notices are long single lines: wrap them to the dialog's width so
    // only the vertical direction scrolls.
    pCreditsLbl->setWordWrap(true);
    pCreditsLbl->setText(PLMCredits());
    pPageLayout->addWidget(pCreditsLbl);
    pPageLayout->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));

    pScrollArea = new QScrollArea(this);
    pScrollArea->setFrameStyle(0);
    pScrollArea->setWidgetResizable(true);
    pScrollArea->setWidget(pCreditsPage);

    pButtonBox = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Horizontal, this);
    pMainLayout = new QVBoxLayout(this);
    pMainLayout->addWidget(pScrollArea);
    pMainLayout->addWidget(pButtonBox);
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));

    setFixedSize(460, 270);
    setWindowTitle(tr("Credits"));
}

void PLMAboutCreditsDlg::accept()
{
    QDialog::accept();
}
