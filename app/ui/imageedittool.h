// The edit dialog's tool panels: resize, flip and rotation of the whole page,
// and the text and image watermark tools. Each panel keeps its values
// consistent in pixels and in the unit it shows, and reports user changes by
// signals; while the program itself sets a panel's widgets its signal gate
// is closed and the panel reports nothing.
#ifndef KORVANE_IMAGEEDITTOOL_H
#define KORVANE_IMAGEEDITTOOL_H

#include "editsettings.h"

#include <QColor>
#include <QFont>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QIntValidator;
class QLabel;
class QSlider;
class QSpinBox;
class QToolButton;

class ResizeTool : public QWidget
{
    Q_OBJECT
    friend class ImageEditToolTest;
    friend class EditDlgTest;

public:
    explicit ResizeTool(QWidget* parent = nullptr);

    // The size of the page the tool resizes; the aspect ratio follows it.
    void SetSourceSize(int width, int height);
    void SetRange();
    // Off, pixels, keeping the aspect ratio, at the source size.
    void Reset();
    // Shows stored values (gate closed).
    void LoadParams(const RFRParams& params);
    void GetParams(RFRParams& params) const;

signals:
    void resized();

public slots:
    void resizeenableChanged(int iState);
    void unitChanged(int iIndex);
    void keepaspectratioChanged(int iState);
    void widthChanged(int);
    void heightChanged(int);

private:
    bool UpdateHeightWithAR();
    void UpdateEnabled(bool enabled);
    int ToPixels(int value, int sourceSize) const;

    QCheckBox* pEnableCB = nullptr;
    QLabel* pUnitLbl = nullptr;
    QComboBox* pUnitCmB = nullptr;
    QCheckBox* pKeepARCB = nullptr;
    QLabel* pWidthLbl = nullptr;
    QSpinBox* pWidthSB = nullptr;
    QLabel* pHeightLbl = nullptr;
    QSpinBox* pHeightSB = nullptr;
    int iSrcWidth = 1000;
    int iSrcHeight = 1000;
    double dAspectRatio = 1.0;
    bool bSignalGate = true;
};

class FlipTool : public QWidget
{
    Q_OBJECT
    friend class ImageEditToolTest;

public:
    explicit FlipTool(QWidget* parent = nullptr);

    void SetFlip(int flip);
    int GetFlip() const;

signals:
    void flipped();

public slots:
    void flipChanged(int iIndex);

private:
    QComboBox* pFlipCmB = nullptr;
    bool bSignalGate = true;
};

class RotateTool : public QWidget
{
    Q_OBJECT
    friend class ImageEditToolTest;

public:
    explicit RotateTool(QWidget* parent = nullptr);

    void SetAngle(int angle);
    int GetAngle() const;

signals:
    void rotated();

public slots:
    void rotateChanged(int iAngle);

private:
    QSpinBox* pAngleSB = nullptr;
    bool bSignalGate = true;
};

class TextTool : public QWidget
{
    Q_OBJECT
    friend class ImageEditToolTest;
    friend class EditDlgTest;

public:
    explicit TextTool(QWidget* parent = nullptr);

    // The page the text is placed on: limits of the size and position fields.
    void SetBackgroundSize(int width, int height);
    void SetPointsPerPixel(double pointsPerPixel);
    double GetPointsPerPixel() const { return dPointsPerPixel; }
    int GetMaxPointSize() const { return iMaxPointSize; }
    void LoadParams(const TextParams& params);
    void GetParams(TextParams& params) const;
    // Shows a position in pixels in the position unit.
    void SetX(int x);
    void SetY(int y);

signals:
    void textFontChanged();
    void textColorChanged();
    void textOpaChanged();
    void textPosChanged();
    void textFontUnitChanged();
    void textPosUnitChanged();

public slots:
    void fontnameChanged(QFont);
    void fontunitChanged(int iIndex);
    void fontsizeChanged(QString);
    void boldClicked();
    void italicClicked();
    void underlineClicked();
    void colorClicked();
    void opaChanged(int iOpacity);
    void posunitChanged(int);
    void posChanged(int iPos);

private:
    int MaxFontSize(int unit) const;
    void SetFontSizeRange();
    void SetPosRange();
    void ShowColor();
    int FontSize() const;
    void SetFontSize(int size);

    QFontComboBox* pFontCmB = nullptr;
    QComboBox* pFontUnitCmB = nullptr;
    QComboBox* pFontSizeCmB = nullptr;
    QIntValidator* pSizeValidator = nullptr;
    QToolButton* pBoldBtn = nullptr;
    QToolButton* pItalicBtn = nullptr;
    QToolButton* pUnderlineBtn = nullptr;
    QToolButton* pColorBtn = nullptr;
    QSlider* pOpacitySld = nullptr;
    QComboBox* pPosUnitCmB = nullptr;
    QSpinBox* pXSB = nullptr;
    QSpinBox* pYSB = nullptr;
    int iBgWidth = 1000;
    int iBgHeight = 1000;
    double dBgAspectRatio = 1.0;
    double dPointsPerPixel;
    int iMaxPointSize;
    QColor color = Qt::black;
    int iFontUnit = FontUnitPoints;
    bool bSignalGate = true;
};

class ImageTool : public QWidget
{
    Q_OBJECT
    friend class ImageEditToolTest;
    friend class EditDlgTest;

public:
    explicit ImageTool(QWidget* parent = nullptr);

    void SetBackgroundSize(int width, int height);
    void SetAspectRatio(double aspectRatio) { dAspectRatio = aspectRatio; }
    void SetImageSizeRange();
    void LoadParams(const ImageParams& params);
    void GetParams(ImageParams& params) const;
    void SetX(int x);
    void SetY(int y);

signals:
    void imageRFRChanged();
    void imageOpaChanged();
    void imagePosChanged();
    void imageResizeUnitChanged();
    void imagePosUnitChanged();
    void imageKeepAspectRatioChanged();

public slots:
    void resizeunitChanged(int iIndex);
    void keepaspectratioChanged(int iState);
    void widthChanged(int);
    void heightChanged(int);
    void flipChanged(int);
    void rotateChanged(int iAngle);
    void opaChanged(int iOpacity);
    void posunitChanged(int);
    void posChanged(int);

private:
    bool UpdateHeightWithAR();
    void SetPosRange();
    void EnableHeight(bool enabled);

    QComboBox* pSizeUnitCmB = nullptr;
    QCheckBox* pKeepARCB = nullptr;
    QSpinBox* pWidthSB = nullptr;
    QLabel* pHeightLbl = nullptr;
    QSpinBox* pHeightSB = nullptr;
    QComboBox* pFlipCmB = nullptr;
    QSpinBox* pAngleSB = nullptr;
    QSlider* pOpacitySld = nullptr;
    QComboBox* pPosUnitCmB = nullptr;
    QSpinBox* pXSB = nullptr;
    QSpinBox* pYSB = nullptr;
    int iBgWidth = 1000;
    int iBgHeight = 1000;
    double dAspectRatio = 1.0;
    bool bSignalGate = true;
};

#endif
