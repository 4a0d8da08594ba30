#include "imageedittool.h"

#include "applyedits.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDebug>
#include <QFontComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

namespace {

const int kGroupWidth = 218;

// Closes a panel's signal gate for the life of the object and puts back what
// it was, so that nested updates do not reopen it early.
class GateCloser
{
public:
    explicit GateCloser(bool& gate) : refGate(gate), bSaved(gate) { refGate = false; }
    ~GateCloser() { refGate = bSaved; }

private:
    bool& refGate;
    bool bSaved;
};

QSpinBox* MakeSpinBox(int minimum, int maximum, int value = 0)
{
    QSpinBox* spinBox = new QSpinBox;
    spinBox->setRange(minimum, maximum);
    spinBox->setSingleStep(1);
    spinBox->setKeyboardTracking(false);
    spinBox->setValue(value);
    return spinBox;
}

QComboBox* MakeComboBox(const QStringList& items)
{
    QComboBox* comboBox = new QComboBox;
    comboBox->addItems(items);
    // Long unit names must not widen the fixed-width tool column; the popup
    // still shows them whole.
    comboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBox->setMinimumContentsLength(6);
    comboBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return comboBox;
}

QSlider* MakeOpacitySlider()
{
    QSlider* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 100);
    slider->setValue(100);
    return slider;
}

QGroupBox* MakeGroup(const QString& title, QGridLayout*& grid)
{
    QGroupBox* group = new QGroupBox(title);
    group->setFixedWidth(kGroupWidth);
    grid = new QGridLayout(group);
    return group;
}

void AddRow(QGridLayout* grid, const QString& label, QWidget* widget)
{
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(label), row, 0);
    grid->addWidget(widget, row, 1);
}

QWidget* MakePosGroup(QComboBox*& unit, QSpinBox*& x, QSpinBox*& y)
{
    QGridLayout* grid = nullptr;
    QGroupBox* group = MakeGroup(QObject::tr("Pos"), grid);
    unit = MakeComboBox(SizeUnitNames());
    x = MakeSpinBox(0, 1000, 250);
    y = MakeSpinBox(0, 1000, 250);
    AddRow(grid, QObject::tr("Unit:"), unit);
    AddRow(grid, QObject::tr("X:"), x);
    AddRow(grid, QObject::tr("Y:"), y);
    return group;
}

int PercentOf(int size, int value)
{
    return RoundHalfUp(double(size) * value / 100.0);
}

int ToPercent(int value, int size)
{
    return size > 0 ? RoundHalfUp(value * 100.0 / size) : 0;
}

// Position fields: pixels 0 to the background size, percent 0 to 100.
void SetPosRanges(QSpinBox* x, QSpinBox* y, int unit, int width, int height)
{
    const bool percent = unit == SizeUnitPercent;
    x->setRange(0, percent ? 100 : width);
    y->setRange(0, percent ? 100 : height);
}

// A position shown in the other unit.
int ConvertPos(int value, int unit, int size)
{
    if (unit == SizeUnitPercent)
        return qBound(0, ToPercent(value, size), 100);
    return qBound(0, PercentOf(size, value), size);
}

// Switches both position fields to a new unit, converting what they show.
void SwitchPosUnit(QSpinBox* x, QSpinBox* y, int unit, int width, int height)
{
    const int newX = ConvertPos(x->value(), unit, width);
    const int newY = ConvertPos(y->value(), unit, height);
    SetPosRanges(x, y, unit, width, height);
    x->setValue(newX);
    y->setValue(newY);
}

void ShowPos(QSpinBox* spinBox, int unit, int pixels, int size)
{
    spinBox->setValue(unit == SizeUnitPercent ? ToPercent(pixels, size) : pixels);
}

int PosPixels(const QSpinBox* spinBox, int unit, int size)
{
    return unit == SizeUnitPercent ? PercentOf(size, spinBox->value()) : spinBox->value();
}

QToolButton* MakeStyleButton(const char* icon)
{
    QToolButton* button = new QToolButton;
    button->setIcon(QIcon(QString::fromLatin1(icon)));
    button->setCheckable(true);
    return button;
}

} // namespace

// ---------------------------------------------------------------- ResizeTool

ResizeTool::ResizeTool(QWidget* parent)
    : QWidget(parent)
{
    pEnableCB = new QCheckBox(tr("Enable"));
    pUnitLbl = new QLabel(tr("Unit:"));
    pUnitCmB = MakeComboBox(SizeUnitNames());
    pKeepARCB = new QCheckBox(tr("Keep aspect ratio"));
    pKeepARCB->setChecked(true);
    pWidthLbl = new QLabel(tr("Width:"));
    pWidthSB = MakeSpinBox(1, 5 * iSrcWidth, iSrcWidth);
    pHeightLbl = new QLabel(tr("Height:"));
    pHeightSB = MakeSpinBox(1, 5 * iSrcHeight, iSrcHeight);

    QGridLayout* grid = new QGridLayout(this);
    grid->addWidget(pEnableCB, 0, 0, 1, 2);
    grid->addWidget(pUnitLbl, 1, 0);
    grid->addWidget(pUnitCmB, 1, 1);
    grid->addWidget(pKeepARCB, 2, 0, 1, 2);
    grid->addWidget(pWidthLbl, 3, 0);
    grid->addWidget(pWidthSB, 3, 1);
    grid->addWidget(pHeightLbl, 4, 0);
    grid->addWidget(pHeightSB, 4, 1);
    UpdateEnabled(false);

    connect(pEnableCB, SIGNAL(stateChanged(int)), this, SLOT(resizeenableChanged(int)));
    connect(pUnitCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(unitChanged(int)));
    connect(pKeepARCB, SIGNAL(stateChanged(int)), this, SLOT(keepaspectratioChanged(int)));
    connect(pWidthSB, SIGNAL(valueChanged(int)), this, SLOT(widthChanged(int)));
    connect(pHeightSB, SIGNAL(valueChanged(int)), this, SLOT(heightChanged(int)));
}

void ResizeTool::SetSourceSize(int width, int height)
{
    iSrcWidth = qMax(1, width);
    iSrcHeight = qMax(1, height);
    dAspectRatio = double(iSrcHeight) / iSrcWidth;
}

void ResizeTool::SetRange()
{
    GateCloser gate(bSignalGate);
    switch (pUnitCmB->currentIndex()) {
    case SizeUnitPixels:
        pWidthSB->setRange(1, 5 * iSrcWidth);
        pHeightSB->setRange(1, 5 * iSrcHeight);
        break;
    case SizeUnitPercent:
        pWidthSB->setRange(1, 500);
        pHeightSB->setRange(1, 500);
        break;
    default:
        qWarning() << "ResizeTool::SetRange   Invalid SizeUnit: " << pUnitCmB->currentIndex();
    }
}

void ResizeTool::Reset()
{
    GateCloser gate(bSignalGate);
    pEnableCB->setChecked(false);
    pUnitCmB->setCurrentIndex(SizeUnitPixels);
    pKeepARCB->setChecked(true);
    SetRange();
    pWidthSB->setValue(iSrcWidth);
    pHeightSB->setValue(iSrcHeight);
    UpdateEnabled(false);
}

void ResizeTool::LoadParams(const RFRParams& params)
{
    GateCloser gate(bSignalGate);
    pEnableCB->setChecked(params.resizeEnabled);
    if (params.resizeUnit == SizeUnitPixels || params.resizeUnit == SizeUnitPercent)
        pUnitCmB->setCurrentIndex(params.resizeUnit);
    pKeepARCB->setChecked(params.keepAspectRatio);
    SetRange();
    pWidthSB->setValue(params.widthValue);
    if (!params.keepAspectRatio)
        pHeightSB->setValue(params.heightValue);
    else if (pUnitCmB->currentIndex() == SizeUnitPixels)
        pHeightSB->setValue(RoundHalfUp(params.widthValue * dAspectRatio));
    else
        pHeightSB->setValue(params.widthValue);
    UpdateEnabled(params.resizeEnabled);
}

int ResizeTool::ToPixels(int value, int sourceSize) const
{
    return pUnitCmB->currentIndex() == SizeUnitPercent ? PercentOf(sourceSize, value) : value;
}

void ResizeTool::GetParams(RFRParams& params) const
{
    params.resizeEnabled = pEnableCB->isChecked();
    params.resizeUnit = pUnitCmB->currentIndex();
    params.keepAspectRatio = pKeepARCB->isChecked();
    params.width = ToPixels(pWidthSB->value(), iSrcWidth);
    params.height = ToPixels(pHeightSB->value(), iSrcHeight);
    params.widthValue = pWidthSB->value();
    params.heightValue = pHeightSB->value();
}

void ResizeTool::UpdateEnabled(bool enabled)
{
    for (QWidget* widget : {static_cast<QWidget*>(pUnitLbl), static_cast<QWidget*>(pUnitCmB),
                            static_cast<QWidget*>(pKeepARCB), static_cast<QWidget*>(pWidthLbl),
                            static_cast<QWidget*>(pWidthSB)})
        widget->setEnabled(enabled);
    pHeightLbl->setEnabled(enabled && !pKeepARCB->isChecked());
    pHeightSB->setEnabled(enabled && !pKeepARCB->isChecked());
}

void ResizeTool::resizeenableChanged(int iState)
{
    if (!bSignalGate)
        return;
    if (iState != Qt::Unchecked && iState != Qt::Checked)
        qWarning() << "ResizeTool::enableChanged Invalid iState: " << iState;
    UpdateEnabled(iState == Qt::Checked);
    emit resized();
}

void ResizeTool::unitChanged(int iIndex)
{
    if (!bSignalGate)
        return;
    if (iIndex != SizeUnitPixels && iIndex != SizeUnitPercent) {
        qWarning() << "ResizeTool::unitChanged   Invalid SizeUnit: " << iIndex;
        return;
    }
    GateCloser gate(bSignalGate);
    const int width = pWidthSB->value();
    const int height = pHeightSB->value();
    SetRange();
    if (iIndex == SizeUnitPercent) {
        pWidthSB->setValue(qBound(1, ToPercent(width, iSrcWidth), 500));
        pHeightSB->setValue(qBound(1, ToPercent(height, iSrcHeight), 500));
    } else {
        pWidthSB->setValue(PercentOf(iSrcWidth, width));
        pHeightSB->setValue(PercentOf(iSrcHeight, height));
    }
}

bool ResizeTool::UpdateHeightWithAR()
{
    GateCloser gate(bSignalGate);
    const int before = pHeightSB->value();
    switch (pUnitCmB->currentIndex()) {
    case SizeUnitPixels:
        pHeightSB->setValue(qBound(1, RoundHalfUp(pWidthSB->value() * dAspectRatio), 5 * iSrcHeight));
        break;
    case SizeUnitPercent:
        pHeightSB->setValue(pWidthSB->value());
        break;
    default:
        qWarning() << "ResizeTool::UpdateHeightWithAR  Invalid eUnit: " << pUnitCmB->currentIndex();
    }
    return pHeightSB->value() != before;
}

void ResizeTool::keepaspectratioChanged(int iState)
{
    if (!bSignalGate)
        return;
    if (iState == Qt::Checked) {
        pHeightLbl->setEnabled(false);
        pHeightSB->setEnabled(false);
        if (UpdateHeightWithAR())
            emit resized();
    } else if (iState == Qt::Unchecked) {
        UpdateEnabled(pEnableCB->isChecked());
    } else {
        qWarning() << "ResizeTool::keepaspectratioChanged Invalid State: " << iState;
    }
}

void ResizeTool::widthChanged(int)
{
    if (!bSignalGate)
        return;
    if (pKeepARCB->isChecked())
        UpdateHeightWithAR();
    emit resized();
}

void ResizeTool::heightChanged(int)
{
    if (bSignalGate)
        emit resized();
}

// ------------------------------------------------------- FlipTool, RotateTool

FlipTool::FlipTool(QWidget* parent)
    : QWidget(parent)
{
    pFlipCmB = MakeComboBox(FlipModeNames());
    QGridLayout* grid = new QGridLayout(this);
    AddRow(grid, tr("Flip:"), pFlipCmB);
    connect(pFlipCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(flipChanged(int)));
}

void FlipTool::SetFlip(int flip)
{
    GateCloser gate(bSignalGate);
    pFlipCmB->setCurrentIndex(flip >= FlipNone && flip <= FlipVertical ? flip : FlipNone);
}

int FlipTool::GetFlip() const
{
    return pFlipCmB->currentIndex();
}

void FlipTool::flipChanged(int)
{
    if (bSignalGate)
        emit flipped();
}

RotateTool::RotateTool(QWidget* parent)
    : QWidget(parent)
{
    pAngleSB = MakeSpinBox(0, 360);
    QGridLayout* grid = new QGridLayout(this);
    AddRow(grid, tr("Angle:"), pAngleSB);
    connect(pAngleSB, SIGNAL(valueChanged(int)), this, SLOT(rotateChanged(int)));
}

void RotateTool::SetAngle(int angle)
{
    GateCloser gate(bSignalGate);
    pAngleSB->setValue(angle);
}

int RotateTool::GetAngle() const
{
    return pAngleSB->value();
}

void RotateTool::rotateChanged(int)
{
    if (bSignalGate)
        emit rotated();
}

// ------------------------------------------------------------------ TextTool

TextTool::TextTool(QWidget* parent)
    : QWidget(parent)
    , dPointsPerPixel(TextPointsPerPixel())
{
    iMaxPointSize = int(iBgHeight * dPointsPerPixel);

    QGridLayout* fontGrid = nullptr;
    QGroupBox* fontGroup = MakeGroup(tr("Font"), fontGrid);
    pFontCmB = new QFontComboBox;
    pFontCmB->setEditable(false);
    pFontCmB->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    pFontCmB->setMinimumContentsLength(6);
    pFontCmB->setCurrentFont(QFont());
    pFontUnitCmB = MakeComboBox(FontUnitNames());
    pFontSizeCmB = MakeComboBox(QStringList());
    pFontSizeCmB->setEditable(true);
    pFontSizeCmB->setInsertPolicy(QComboBox::NoInsert);
    pSizeValidator = new QIntValidator(1, iMaxPointSize, pFontSizeCmB);
    pFontSizeCmB->setValidator(pSizeValidator);
    pBoldBtn = MakeStyleButton(":IMG_BOLD");
    pItalicBtn = MakeStyleButton(":IMG_ITALIC");
    pUnderlineBtn = MakeStyleButton(":IMG_UNDERLINE");
    QWidget* styles = new QWidget;
    QHBoxLayout* stylesLayout = new QHBoxLayout(styles);
    stylesLayout->setContentsMargins(0, 0, 0, 0);
    stylesLayout->addWidget(pBoldBtn);
    stylesLayout->addWidget(pItalicBtn);
    stylesLayout->addWidget(pUnderlineBtn);
    stylesLayout->addStretch();
    AddRow(fontGrid, tr("Name:"), pFontCmB);
    AddRow(fontGrid, tr("Unit:"), pFontUnitCmB);
    AddRow(fontGrid, tr("Size:"), pFontSizeCmB);
    AddRow(fontGrid, tr("Style:"), styles);

    pColorBtn = new QToolButton;
    pColorBtn->setFixedWidth(40);
    ShowColor();
    pOpacitySld = MakeOpacitySlider();
    QWidget* looks = new QWidget;
    QGridLayout* looksGrid = new QGridLayout(looks);
    looksGrid->setContentsMargins(0, 0, 0, 0);
    AddRow(looksGrid, tr("Color:"), pColorBtn);
    AddRow(looksGrid, tr("Opacity:"), pOpacitySld);
    looksGrid->setColumnStretch(1, 1);
    looks->setFixedWidth(kGroupWidth);

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(fontGroup);
    layout->addWidget(looks);
    layout->addWidget(MakePosGroup(pPosUnitCmB, pXSB, pYSB));
    SetBackgroundSize(iBgWidth, iBgHeight);

    connect(pFontCmB, SIGNAL(currentFontChanged(QFont)), this, SLOT(fontnameChanged(QFont)));
    connect(pFontUnitCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(fontunitChanged(int)));
    connect(pFontSizeCmB, SIGNAL(currentTextChanged(QString)), this, SLOT(fontsizeChanged(QString)));
    connect(pBoldBtn, SIGNAL(clicked()), this, SLOT(boldClicked()));
    connect(pItalicBtn, SIGNAL(clicked()), this, SLOT(italicClicked()));
    connect(pUnderlineBtn, SIGNAL(clicked()), this, SLOT(underlineClicked()));
    connect(pColorBtn, SIGNAL(clicked()), this, SLOT(colorClicked()));
    connect(pOpacitySld, SIGNAL(valueChanged(int)), this, SLOT(opaChanged(int)));
    connect(pPosUnitCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(posunitChanged(int)));
    connect(pXSB, SIGNAL(valueChanged(int)), this, SLOT(posChanged(int)));
    connect(pYSB, SIGNAL(valueChanged(int)), this, SLOT(posChanged(int)));
}

void TextTool::SetBackgroundSize(int width, int height)
{
    GateCloser gate(bSignalGate);
    iBgWidth = qMax(1, width);
    iBgHeight = qMax(1, height);
    dBgAspectRatio = double(iBgHeight) / iBgWidth;
    iMaxPointSize = qMax(1, int(iBgHeight * dPointsPerPixel));

    // The sizes on offer, in points; the field keeps what it shows, within
    // the new limits.
    const QString shown = pFontSizeCmB->currentText();
    pFontSizeCmB->clear();
    for (int size = 8; size <= qMin(72, iMaxPointSize); size += 2)
        pFontSizeCmB->addItem(QString::number(size));
    if (shown.isEmpty())
        pFontSizeCmB->setEditText(QString::number(qMin(12, iMaxPointSize)));
    else
        pFontSizeCmB->setEditText(shown);
    SetFontSizeRange();
    SetPosRange();
}

void TextTool::SetPointsPerPixel(double pointsPerPixel)
{
    if (pointsPerPixel <= 0.0)
        return;
    dPointsPerPixel = pointsPerPixel;
    SetBackgroundSize(iBgWidth, iBgHeight);
}

int TextTool::MaxFontSize(int unit) const
{
    switch (unit) {
    case FontUnitPixels:
        return iBgHeight;
    case FontUnitPercent:
        return 100;
    default:
        return iMaxPointSize;
    }
}

void TextTool::SetFontSizeRange()
{
    GateCloser gate(bSignalGate);
    const int maximum = MaxFontSize(iFontUnit);
    pSizeValidator->setRange(1, maximum);
    const int size = FontSize();
    if (size > maximum)
        SetFontSize(maximum);
}

void TextTool::SetPosRange()
{
    SetPosRanges(pXSB, pYSB, pPosUnitCmB->currentIndex(), iBgWidth, iBgHeight);
}

int TextTool::FontSize() const
{
    return pFontSizeCmB->currentText().toInt();
}

void TextTool::SetFontSize(int size)
{
    GateCloser gate(bSignalGate);
    pFontSizeCmB->setEditText(QString::number(size));
}

void TextTool::ShowColor()
{
    pColorBtn->setStyleSheet(QStringLiteral("QToolButton{ background: %1; }").arg(color.name()));
}

void TextTool::LoadParams(const TextParams& params)
{
    GateCloser gate(bSignalGate);
    if (params.fontUnit >= FontUnitPoints && params.fontUnit <= FontUnitPercent) {
        iFontUnit = params.fontUnit;
        pFontUnitCmB->setCurrentIndex(iFontUnit);
    }
    SetFontSizeRange();
    pFontCmB->setCurrentFont(params.font);
    SetFontSize(params.fontSize);
    pBoldBtn->setChecked(params.font.weight() > QFont::Normal);
    pItalicBtn->setChecked(params.font.style() != QFont::StyleNormal);
    pUnderlineBtn->setChecked(params.font.underline());
    color = params.color;
    ShowColor();
    pOpacitySld->setValue(params.opacity);
    if (params.positionUnit == SizeUnitPixels || params.positionUnit == SizeUnitPercent)
        pPosUnitCmB->setCurrentIndex(params.positionUnit);
    SetPosRange();
    pXSB->setValue(params.xValue);
    pYSB->setValue(params.yValue);
}

void TextTool::GetParams(TextParams& params) const
{
    const int size = FontSize();
    QFont font = pFontCmB->currentFont();
    font.setPointSize(TextPointSize(iFontUnit, size, iBgHeight, dPointsPerPixel));
    font.setWeight(pBoldBtn->isChecked() ? QFont::Bold : QFont::Normal);
    font.setItalic(pItalicBtn->isChecked());
    font.setUnderline(pUnderlineBtn->isChecked());
    params.font = font;
    params.fontUnit = iFontUnit;
    params.fontSize = size;
    params.color = color;
    params.opacity = pOpacitySld->value();
    params.positionUnit = pPosUnitCmB->currentIndex();
    params.x = PosPixels(pXSB, params.positionUnit, iBgWidth);
    params.y = PosPixels(pYSB, params.positionUnit, iBgHeight);
    params.xValue = pXSB->value();
    params.yValue = pYSB->value();
}

void TextTool::SetX(int x)
{
    GateCloser gate(bSignalGate);
    ShowPos(pXSB, pPosUnitCmB->currentIndex(), x, iBgWidth);
}

void TextTool::SetY(int y)
{
    GateCloser gate(bSignalGate);
    ShowPos(pYSB, pPosUnitCmB->currentIndex(), y, iBgHeight);
}

void TextTool::fontnameChanged(QFont)
{
    if (bSignalGate)
        emit textFontChanged();
}

void TextTool::fontunitChanged(int iIndex)
{
    if (!bSignalGate)
        return;
    const int size = FontSize();
    const double height = iBgHeight;
    double converted = -1.0;
    if (iFontUnit == FontUnitPoints && iIndex == FontUnitPixels)
        converted = size / dPointsPerPixel;
    else if (iFontUnit == FontUnitPoints && iIndex == FontUnitPercent)
        converted = size * 100.0 / (height * dPointsPerPixel);
    else if (iFontUnit == FontUnitPixels && iIndex == FontUnitPoints)
        converted = size * dPointsPerPixel;
    else if (iFontUnit == FontUnitPixels && iIndex == FontUnitPercent)
        converted = size * 100.0 / height;
    else if (iFontUnit == FontUnitPercent && iIndex == FontUnitPoints)
        converted = size * height * dPointsPerPixel / 100.0;
    else if (iFontUnit == FontUnitPercent && iIndex == FontUnitPixels)
        converted = size * height / 100.0;
    if (converted < 0.0) {
        qWarning() << "TextTool::fontunitChanged Invalid FontUnit: " << iIndex;
        return;
    }
    iFontUnit = iIndex;
    // Within the new unit's limits: a small size in percent of a tall page
    // would otherwise round to nothing.
    SetFontSize(qBound(1, RoundHalfUp(converted), MaxFontSize(iFontUnit)));
    SetFontSizeRange();
    emit textFontUnitChanged();
}

void TextTool::fontsizeChanged(QString text)
{
    if (!bSignalGate)
        return;
    // Half-typed sizes ("" on the way to "14") are not handed on.
    int position = 0;
    if (pSizeValidator->validate(text, position) != QValidator::Acceptable)
        return;
    emit textFontChanged();
}

void TextTool::boldClicked()
{
    if (bSignalGate)
        emit textFontChanged();
}

void TextTool::italicClicked()
{
    if (bSignalGate)
        emit textFontChanged();
}

void TextTool::underlineClicked()
{
    if (bSignalGate)
        emit textFontChanged();
}

void TextTool::colorClicked()
{
    if (!bSignalGate)
        return;
    const QColor chosen = QColorDialog::getColor(Qt::black, this, tr("Select Text Color"));
    if (!chosen.isValid())
        return;
    color = chosen;
    ShowColor();
    emit textColorChanged();
}

void TextTool::opaChanged(int)
{
    if (bSignalGate)
        emit textOpaChanged();
}

void TextTool::posunitChanged(int iIndex)
{
    if (!bSignalGate)
        return;
    {
        GateCloser gate(bSignalGate);
        if (iIndex == SizeUnitPixels || iIndex == SizeUnitPercent)
            SwitchPosUnit(pXSB, pYSB, iIndex, iBgWidth, iBgHeight);
    }
    emit textPosUnitChanged();
}

void TextTool::posChanged(int)
{
    if (bSignalGate)
        emit textPosChanged();
}

// ----------------------------------------------------------------- ImageTool

ImageTool::ImageTool(QWidget* parent)
    : QWidget(parent)
{
    QGridLayout* resizeGrid = nullptr;
    QGroupBox* resizeGroup = MakeGroup(tr("Resize"), resizeGrid);
    pSizeUnitCmB = MakeComboBox(SizeUnitNames());
    pKeepARCB = new QCheckBox(tr("Keep aspect ratio"));
    pKeepARCB->setChecked(true);
    pWidthSB = MakeSpinBox(1, iBgWidth, 500);
    pHeightLbl = new QLabel(tr("Height:"));
    pHeightSB = MakeSpinBox(1, iBgHeight, 500);
    AddRow(resizeGrid, tr("Unit:"), pSizeUnitCmB);
    resizeGrid->addWidget(pKeepARCB, resizeGrid->rowCount(), 0, 1, 2);
    AddRow(resizeGrid, tr("Width:"), pWidthSB);
    const int heightRow = resizeGrid->rowCount();
    resizeGrid->addWidget(pHeightLbl, heightRow, 0);
    resizeGrid->addWidget(pHeightSB, heightRow, 1);
    EnableHeight(false);

    pFlipCmB = MakeComboBox(FlipModeNames());
    pAngleSB = MakeSpinBox(0, 360);
    pOpacitySld = MakeOpacitySlider();
    QWidget* looks = new QWidget;
    QGridLayout* looksGrid = new QGridLayout(looks);
    looksGrid->setContentsMargins(0, 0, 0, 0);
    AddRow(looksGrid, tr("Flip:"), pFlipCmB);
    AddRow(looksGrid, tr("Rotate:"), pAngleSB);
    AddRow(looksGrid, tr("Opacity:"), pOpacitySld);
    looks->setFixedWidth(kGroupWidth);

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(resizeGroup);
    layout->addWidget(looks);
    layout->addWidget(MakePosGroup(pPosUnitCmB, pXSB, pYSB));
    SetImageSizeRange();

    connect(pSizeUnitCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(resizeunitChanged(int)));
    connect(pKeepARCB, SIGNAL(stateChanged(int)), this, SLOT(keepaspectratioChanged(int)));
    connect(pWidthSB, SIGNAL(valueChanged(int)), this, SLOT(widthChanged(int)));
    connect(pHeightSB, SIGNAL(valueChanged(int)), this, SLOT(heightChanged(int)));
    connect(pFlipCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(flipChanged(int)));
    connect(pAngleSB, SIGNAL(valueChanged(int)), this, SLOT(rotateChanged(int)));
    connect(pOpacitySld, SIGNAL(valueChanged(int)), this, SLOT(opaChanged(int)));
    connect(pPosUnitCmB, SIGNAL(currentIndexChanged(int)), this, SLOT(posunitChanged(int)));
    connect(pXSB, SIGNAL(valueChanged(int)), this, SLOT(posChanged(int)));
    connect(pYSB, SIGNAL(valueChanged(int)), this, SLOT(posChanged(int)));
}

void ImageTool::SetBackgroundSize(int width, int height)
{
    iBgWidth = qMax(1, width);
    iBgHeight = qMax(1, height);
}

void ImageTool::SetImageSizeRange()
{
    GateCloser gate(bSignalGate);
    switch (pSizeUnitCmB->currentIndex()) {
    case SizeUnitPixels:
        pWidthSB->setRange(1, iBgWidth);
        pHeightSB->setRange(1, iBgHeight);
        break;
    case SizeUnitPercent:
        pWidthSB->setRange(1, 100);
        pHeightSB->setRange(1, 100);
        break;
    default:
        qWarning() << "ImageTool::SetImageSizeRange   Invalid SizeUnit: " << pSizeUnitCmB->currentIndex();
    }
    SetPosRange();
}

void ImageTool::SetPosRange()
{
    GateCloser gate(bSignalGate);
    SetPosRanges(pXSB, pYSB, pPosUnitCmB->currentIndex(), iBgWidth, iBgHeight);
}

void ImageTool::EnableHeight(bool enabled)
{
    pHeightLbl->setEnabled(enabled);
    pHeightSB->setEnabled(enabled);
}

void ImageTool::LoadParams(const ImageParams& params)
{
    GateCloser gate(bSignalGate);
    if (params.sizeUnit == SizeUnitPixels || params.sizeUnit == SizeUnitPercent)
        pSizeUnitCmB->setCurrentIndex(params.sizeUnit);
    if (params.positionUnit == SizeUnitPixels || params.positionUnit == SizeUnitPercent)
        pPosUnitCmB->setCurrentIndex(params.positionUnit);
    SetImageSizeRange();
    dAspectRatio = params.aspectRatio;
    pKeepARCB->setChecked(params.keepAspectRatio);
    EnableHeight(!params.keepAspectRatio);
    pWidthSB->setValue(params.widthValue);
    if (params.keepAspectRatio)
        UpdateHeightWithAR();
    else
        pHeightSB->setValue(params.heightValue);
    pFlipCmB->setCurrentIndex(params.flip >= FlipNone && params.flip <= FlipVertical ? params.flip : FlipNone);
    pAngleSB->setValue(params.angle);
    pOpacitySld->setValue(params.opacity);
    pXSB->setValue(params.xValue);
    pYSB->setValue(params.yValue);
}

void ImageTool::GetParams(ImageParams& params) const
{
    const bool percent = pSizeUnitCmB->currentIndex() == SizeUnitPercent;
    params.sizeUnit = pSizeUnitCmB->currentIndex();
    params.keepAspectRatio = pKeepARCB->isChecked();
    params.width = percent ? PercentOf(iBgWidth, pWidthSB->value()) : pWidthSB->value();
    params.height = percent ? PercentOf(iBgHeight, pHeightSB->value()) : pHeightSB->value();
    params.widthValue = pWidthSB->value();
    params.heightValue = pHeightSB->value();
    params.flip = pFlipCmB->currentIndex();
    params.angle = pAngleSB->value();
    params.opacity = pOpacitySld->value();
    params.positionUnit = pPosUnitCmB->currentIndex();
    params.x = PosPixels(pXSB, params.positionUnit, iBgWidth);
    params.y = PosPixels(pYSB, params.positionUnit, iBgHeight);
    params.xValue = pXSB->value();
    params.yValue = pYSB->value();
    params.aspectRatio = dAspectRatio;
}

void ImageTool::SetX(int x)
{
    GateCloser gate(bSignalGate);
    ShowPos(pXSB, pPosUnitCmB->currentIndex(), x, iBgWidth);
}

void ImageTool::SetY(int y)
{
    GateCloser gate(bSignalGate);
    ShowPos(pYSB, pPosUnitCmB->currentIndex(), y, iBgHeight);
}

bool ImageTool::UpdateHeightWithAR()
{
    GateCloser gate(bSignalGate);
    const int before = pHeightSB->value();
    switch (pSizeUnitCmB->currentIndex()) {
    case SizeUnitPixels:
        pHeightSB->setValue(qBound(1, RoundHalfUp(pWidthSB->value() * dAspectRatio), iBgHeight));
        break;
    case SizeUnitPercent: {
        const int pixels = RoundHalfUp(iBgWidth * pWidthSB->value() / 100.0 * dAspectRatio);
        pHeightSB->setValue(ToPercent(pixels, iBgHeight));
        break;
    }
    default:
        qWarning() << "ImageTool::UpdateHeightWithAR Invalid eUnit: " << pSizeUnitCmB->currentIndex();
    }
    return pHeightSB->value() != before;
}

void ImageTool::resizeunitChanged(int iIndex)
{
    if (!bSignalGate)
        return;
    if (iIndex != SizeUnitPixels && iIndex != SizeUnitPercent) {
        qWarning() << "ImageTool::resizeunitChanged   Invalid SizeUnit: " << iIndex;
        return;
    }
    {
        GateCloser gate(bSignalGate);
        const int width = pWidthSB->value();
        const int height = pHeightSB->value();
        SetImageSizeRange();
        if (iIndex == SizeUnitPercent) {
            pWidthSB->setValue(qBound(1, ToPercent(width, iBgWidth), 100));
            pHeightSB->setValue(qBound(1, ToPercent(height, iBgHeight), 100));
        } else {
            pWidthSB->setValue(PercentOf(iBgWidth, width));
            pHeightSB->setValue(PercentOf(iBgHeight, height));
        }
    }
    emit imageResizeUnitChanged();
}

void ImageTool::keepaspectratioChanged(int iState)
{
    if (!bSignalGate)
        return;
    if (iState == Qt::Checked) {
        EnableHeight(false);
        if (UpdateHeightWithAR())
            emit imageRFRChanged();
        else
            emit imageKeepAspectRatioChanged();
    } else if (iState == Qt::Unchecked) {
        if (!pHeightSB->isEnabled()) {
            EnableHeight(true);
            emit imageKeepAspectRatioChanged();
        }
    } else {
        qWarning() << "ImageTool::keepaspectratioChanged Invalid State: " << iState;
    }
}

void ImageTool::widthChanged(int)
{
    if (!bSignalGate)
        return;
    if (pKeepARCB->isChecked())
        UpdateHeightWithAR();
    emit imageRFRChanged();
}

void ImageTool::heightChanged(int)
{
    if (bSignalGate)
        emit imageRFRChanged();
}

void ImageTool::flipChanged(int)
{
    if (bSignalGate)
        emit imageRFRChanged();
}

void ImageTool::rotateChanged(int)
{
    if (bSignalGate)
        emit imageRFRChanged();
}

void ImageTool::opaChanged(int)
{
    if (bSignalGate)
        emit imageOpaChanged();
}

void ImageTool::posunitChanged(int iIndex)
{
    if (!bSignalGate)
        return;
    {
        GateCloser gate(bSignalGate);
        if (iIndex == SizeUnitPixels || iIndex == SizeUnitPercent)
            SwitchPosUnit(pXSB, pYSB, iIndex, iBgWidth, iBgHeight);
    }
    emit imagePosUnitChanged();
}

void ImageTool::posChanged(int)
{
    if (bSignalGate)
        emit imagePosChanged();
}
