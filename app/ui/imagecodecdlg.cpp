#include "imagecodecdlg.h"

#include "convertsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const char* const kHigherIsBetter = "The higher the value the better the quality but the bigger the file size";
const char* const kSmallerIsBetter = "The smaller the value the better the quality but the bigger the file size";

QLabel* MakeValueLabel(const QString& widest, const QString& toolTip)
{
    QLabel* label = new QLabel;
    label->setMinimumWidth(QFontMetrics(label->font()).horizontalAdvance(widest));
    label->setToolTip(toolTip);
    return label;
}

QSlider* MakeSlider(int minimum, int maximum, const QString& toolTip)
{
    QSlider* slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setToolTip(toolTip);
    return slider;
}

} // namespace

ImageCodecDlg::ImageCodecDlg(const QString& title, ConvertSettings* settings, QWidget* parent)
    : QDialog(parent, Qt::WindowCloseButtonHint)
    , pButtonBox(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal))
    , pMainLayout(new QVBoxLayout(this))
    , pSettings(settings)
{
    pMainLayout->addWidget(pButtonBox);
    connect(pButtonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(pButtonBox, SIGNAL(rejected()), this, SLOT(reject()));
    setWindowTitle(title);
    setFixedSize(400, 150);
}

void ImageCodecDlg::SetContent(QWidget* content)
{
    pMainLayout->insertWidget(0, content);
}

void ImageCodecDlg::accept()
{
    GetConvertSettings();
    QDialog::accept();
}

void ImageCodecDlg::reject()
{
    QDialog::reject();
}

// ICO ---------------------------------------------------------------------

ICODlg::ICODlg(ConvertSettings* settings, QWidget* parent)
    : ImageCodecDlg(tr("ICO Settings"), settings, parent)
{
    CreateWidgets();
}

void ICODlg::CreateWidgets()
{
    QWidget* content = new QWidget;
    QVBoxLayout* layout = new QVBoxLayout(content);
    QLabel* title = new QLabel(tr("Dimension(s)"));
    title->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    QGridLayout* grid = new QGridLayout;
    const QStringList names = {tr("16 x 16"), tr("32 x 32"), tr("48 x 48"),
                               tr("64 x 64"), tr("128 x 128"), tr("256 x 256")};
    for (int i = 0; i < names.size(); ++i) {
        QCheckBox* box = new QCheckBox(names.at(i));
        grid->addWidget(box, i / 3, i % 3);
        lDimCBs << box;
    }
    layout->addLayout(grid);
    SetContent(content);
    SetConvertSettings();
}

void ICODlg::SetConvertSettings()
{
    for (int i = 0; i < lDimCBs.size(); ++i)
        lDimCBs.at(i)->setChecked(pSettings->ICODim & (1 << i));
}

bool ICODlg::GetConvertSettings()
{
    int dimensions = 0;
    for (int i = 0; i < lDimCBs.size(); ++i) {
        if (lDimCBs.at(i)->isChecked())
            dimensions |= 1 << i;
    }
    if (dimensions == 0) {
        qWarning() << "ICODlg::GetConvertSettings  ICODim invalid";
        return false;
    }
    pSettings->ICODim = dimensions;
    return true;
}

void ICODlg::accept()
{
    if (GetConvertSettings()) {
        QDialog::accept();
        return;
    }
    QMessageBox::critical(this, tr("ICO Settings"), tr("Invalid dimension(s)."), QMessageBox::Ok);
}

// JPEG --------------------------------------------------------------------

JPEGDlg::JPEGDlg(ConvertSettings* settings, QWidget* parent)
    : JPEGDlg(tr("JPEG Settings"), &ConvertSettings::JPEGCmpsnQuality, settings, parent)
{
}

JPEGDlg::JPEGDlg(const QString& title, int ConvertSettings::*quality, ConvertSettings* settings, QWidget* parent)
    : ImageCodecDlg(title, settings, parent)
    , pQuality(quality)
{
    CreateWidgets();
}

void JPEGDlg::CreateWidgets()
{
    const QString toolTip = tr(kHigherIsBetter);
    QWidget* content = new QWidget;
    QHBoxLayout* layout = new QHBoxLayout(content);
    layout->addWidget(new QLabel(tr("Compression Quality:")));
    pValueLbl = MakeValueLabel(QStringLiteral("100"), toolTip);
    layout->addWidget(pValueLbl);
    pQualitySlider = MakeSlider(1, 100, toolTip);
    layout->addWidget(pQualitySlider);
    connect(pQualitySlider, SIGNAL(valueChanged(int)), this, SLOT(CmpsnQualityChanged(int)));
    SetContent(content);
    SetConvertSettings();
}

void JPEGDlg::CmpsnQualityChanged(int iValue)
{
    pValueLbl->setText(QStringLiteral("%1").arg(iValue));
}

void JPEGDlg::SetConvertSettings()
{
    pQualitySlider->setValue(pSettings->*pQuality);
    pValueLbl->setText(QStringLiteral("%1").arg(pQualitySlider->value()));
}

bool JPEGDlg::GetConvertSettings()
{
    pSettings->*pQuality = pQualitySlider->value();
    return true;
}

HEIFDlg::HEIFDlg(ConvertSettings* settings, QWidget* parent)
    : JPEGDlg(tr("HEIF Settings"), &ConvertSettings::HEIFCmpsnQuality, settings, parent)
{
}

// JPEG 2000, JPEG XR, WebP, AVIF, JPEG XL ------------------------------------

LossyCodecDlg::LossyCodecDlg(const QString& title, const Parameters& parameters, ConvertSettings* settings,
                             QWidget* parent)
    : ImageCodecDlg(title, settings, parent)
    , params(parameters)
{
    CreateWidgets();
}

void LossyCodecDlg::CreateWidgets()
{
    QWidget* content = new QWidget;
    QGridLayout* grid = new QGridLayout(content);
    grid->addWidget(new QLabel(tr("Compressoin Type:")), 0, 0);
    pTypeCmB = new QComboBox;
    pTypeCmB->addItems(CompressionModeNames());
    grid->addWidget(pTypeCmB, 0, 2);
    pValueNameLbl = new QLabel(params.valueName);
    grid->addWidget(pValueNameLbl, 1, 0);
    pValueLbl = MakeValueLabel(params.widestValue, params.toolTip);
    grid->addWidget(pValueLbl, 1, 1);
    pValueSlider = MakeSlider(params.minimum, params.maximum, params.toolTip);
    grid->addWidget(pValueSlider, 1, 2);
    connect(pValueSlider, SIGNAL(valueChanged(int)), this, SLOT(CmpsnRateChanged(int)));
    connect(pTypeCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(CmpsnTypeChanged(int)));
    SetContent(content);
    SetConvertSettings();
}

void LossyCodecDlg::CmpsnRateChanged(int iValue)
{
    pValueLbl->setText(QStringLiteral("%1").arg(iValue));
}

void LossyCodecDlg::CmpsnTypeChanged(int iIndex)
{
    const bool lossy = iIndex != 0;
    pValueNameLbl->setEnabled(lossy);
    pValueLbl->setEnabled(lossy);
    pValueSlider->setEnabled(lossy);
}

void LossyCodecDlg::SetConvertSettings()
{
    const bool lossless = pSettings->*params.lossless;
    pTypeCmB->setCurrentIndex(lossless ? 0 : 1);
    CmpsnTypeChanged(pTypeCmB->currentIndex());
    pValueSlider->setValue(pSettings->*params.value);
    pValueLbl->setText(QStringLiteral("%1").arg(pValueSlider->value()));
}

bool LossyCodecDlg::GetConvertSettings()
{
    pSettings->*params.lossless = pTypeCmB->currentIndex() == 0;
    pSettings->*params.value = pValueSlider->value();
    return true;
}

JPEG2000Dlg::JPEG2000Dlg(ConvertSettings* settings, QWidget* parent)
    : LossyCodecDlg(tr("JPEG2000 Settings"),
                    {tr("Compression Rate:"), 2, 100, QStringLiteral("100"), tr(kSmallerIsBetter),
                     &ConvertSettings::J2000LlCmpsn, &ConvertSettings::J2000CmpsnRate},
                    settings, parent)
{
}

JPEGXRDlg::JPEGXRDlg(ConvertSettings* settings, QWidget* parent)
    : LossyCodecDlg(tr("JPEG XR Settings"),
                    {tr("Compression Quality:"), 1, 99, QStringLiteral("99"), tr(kHigherIsBetter),
                     &ConvertSettings::JPEGXRLlCmpsn, &ConvertSettings::JPEGXRCmpsnQuality},
                    settings, parent)
{
}

WEBPDlg::WEBPDlg(ConvertSettings* settings, QWidget* parent)
    : LossyCodecDlg(tr("WebP Settings"),
                    {tr("Compression Quality:"), 1, 100, QStringLiteral("100"), tr(kHigherIsBetter),
                     &ConvertSettings::WEBPLlCmpsn, &ConvertSettings::WEBPCmpsnQuality},
                    settings, parent)
{
}

AVIFDlg::AVIFDlg(ConvertSettings* settings, QWidget* parent)
    : LossyCodecDlg(tr("AVIF Settings"),
                    {tr("Compression Quality:"), 1, 100, QStringLiteral("100"), tr(kHigherIsBetter),
                     &ConvertSettings::AVIFLlCmpsn, &ConvertSettings::AVIFCmpsnQuality},
                    settings, parent)
{
}

JXLDlg::JXLDlg(ConvertSettings* settings, QWidget* parent)
    : LossyCodecDlg(tr("JPEG XL Settings"),
                    {tr("Compression Quality:"), 1, 100, QStringLiteral("100"), tr(kHigherIsBetter),
                     &ConvertSettings::JXLLlCmpsn, &ConvertSettings::JXLCmpsnQuality},
                    settings, parent)
{
}

// PDF ---------------------------------------------------------------------

PDFDlg::PDFDlg(ConvertSettings* settings, QWidget* parent)
    : ImageCodecDlg(tr("PDF Settings"), settings, parent)
{
    CreateWidgets();
}

void PDFDlg::CreateWidgets()
{
    QWidget* content = new QWidget;
    QGridLayout* grid = new QGridLayout(content);
    pPageSizeCmB = new QComboBox;
    const QStringList sizes = PageSizeNames();
    const int sizeValues[] = {0, 2, 3};
    for (int i = 0; i < sizes.size(); ++i)
        pPageSizeCmB->addItem(sizes.at(i), sizeValues[i]);
    pPageOriCmB = new QComboBox;
    pPageOriCmB->addItems(PageOrientationNames());
    pAlignCmB = new QComboBox;
    pAlignCmB->addItems(AlignmentNames());
    grid->addWidget(new QLabel(tr("Page Size:")), 0, 0);
    grid->addWidget(pPageSizeCmB, 0, 1);
    grid->addWidget(new QLabel(tr("Page Orientation:")), 1, 0);
    grid->addWidget(pPageOriCmB, 1, 1);
    grid->addWidget(new QLabel(tr("Image Alignment in Page:")), 2, 0);
    grid->addWidget(pAlignCmB, 2, 1);
    SetContent(content);
    SetConvertSettings();
}

void PDFDlg::SetConvertSettings()
{
    const int sizeIndex = pPageSizeCmB->findData(pSettings->PageSize);
    pPageSizeCmB->setCurrentIndex(sizeIndex < 0 ? 0 : sizeIndex);
    pPageOriCmB->setCurrentIndex(pSettings->PageOri == 1 ? 1 : 0);
    pAlignCmB->setCurrentIndex(pSettings->Align == 1 ? 1 : 0);
}

bool PDFDlg::GetConvertSettings()
{
    pSettings->PageSize = pPageSizeCmB->currentData().toInt();
    pSettings->PageOri = pPageOriCmB->currentIndex() != 0 ? 1 : 0;
    pSettings->Align = pAlignCmB->currentIndex() != 0 ? 1 : 0;
    return true;
}
