// Per-format writing options: one small dialog per format that has any.
#ifndef KORVANE_IMAGECODECDLG_H
#define KORVANE_IMAGECODECDLG_H

#include <QDialog>

class ConvertSettings;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QSlider;
class QVBoxLayout;

// Reads the options into its widgets when built; writes them back on OK.
class ImageCodecDlg : public QDialog
{
    Q_OBJECT
public:
    ImageCodecDlg(const QString& title, ConvertSettings* settings, QWidget* parent);

public slots:
    void accept() override;
    void reject() override;

protected:
    virtual void CreateWidgets() = 0;
    virtual void SetConvertSettings() = 0;
    virtual bool GetConvertSettings() = 0;

    // Puts the format's own widgets above the buttons.
    void SetContent(QWidget* content);

    QDialogButtonBox* pButtonBox;
    QVBoxLayout* pMainLayout;
    ConvertSettings* pSettings;
};

class ICODlg : public ImageCodecDlg
{
    Q_OBJECT
public:
    ICODlg(ConvertSettings* settings, QWidget* parent);

public slots:
    void accept() override;

protected:
    void CreateWidgets() override;
    void SetConvertSettings() override;
    bool GetConvertSettings() override;

private:
    QList<QCheckBox*> lDimCBs;
};

class JPEGDlg : public ImageCodecDlg
{
    Q_OBJECT
public:
    JPEGDlg(ConvertSettings* settings, QWidget* parent);

public slots:
    void CmpsnQualityChanged(int iValue);

protected:
    // The same quality slider for another format's field.
    JPEGDlg(const QString& title, int ConvertSettings::*quality, ConvertSettings* settings, QWidget* parent);

    void CreateWidgets() override;
    void SetConvertSettings() override;
    bool GetConvertSettings() override;

private:
    int ConvertSettings::*pQuality;
    QLabel* pValueLbl = nullptr;
    QSlider* pQualitySlider = nullptr;
};

// HEIF: a quality, no lossless mode.
class HEIFDlg : public JPEGDlg
{
    Q_OBJECT
public:
    HEIFDlg(ConvertSettings* settings, QWidget* parent);
};

// The lossless-or-lossy design shared by JPEG 2000, JPEG XR, WebP, AVIF and
// JPEG XL.
class LossyCodecDlg : public ImageCodecDlg
{
    Q_OBJECT
public:
    struct Parameters {
        QString valueName;
        int minimum;
        int maximum;
        QString widestValue;
        QString toolTip;
        bool ConvertSettings::*lossless;
        int ConvertSettings::*value;
    };

    LossyCodecDlg(const QString& title, const Parameters& parameters, ConvertSettings* settings, QWidget* parent);

public slots:
    void CmpsnRateChanged(int iValue);
    void CmpsnTypeChanged(int iIndex);

protected:
    void CreateWidgets() override;
    void SetConvertSettings() override;
    bool GetConvertSettings() override;

private:
    Parameters params;
    QComboBox* pTypeCmB = nullptr;
    QLabel* pValueNameLbl = nullptr;
    QLabel* pValueLbl = nullptr;
    QSlider* pValueSlider = nullptr;
};

class JPEG2000Dlg : public LossyCodecDlg
{
    Q_OBJECT
public:
    JPEG2000Dlg(ConvertSettings* settings, QWidget* parent);
};

class JPEGXRDlg : public LossyCodecDlg
{
    Q_OBJECT
public:
    JPEGXRDlg(ConvertSettings* settings, QWidget* parent);
};

class WEBPDlg : public LossyCodecDlg
{
    Q_OBJECT
public:
    WEBPDlg(ConvertSettings* settings, QWidget* parent);
};

class AVIFDlg : public LossyCodecDlg
{
    Q_OBJECT
public:
    AVIFDlg(ConvertSettings* settings, QWidget* parent);
};

class JXLDlg : public LossyCodecDlg
{
    Q_OBJECT
public:
    JXLDlg(ConvertSettings* settings, QWidget* parent);
};

class PDFDlg : public ImageCodecDlg
{
    Q_OBJECT
public:
    PDFDlg(ConvertSettings* settings, QWidget* parent);

protected:
    void CreateWidgets() override;
    void SetConvertSettings() override;
    bool GetConvertSettings() override;

private:
    QComboBox* pPageSizeCmB = nullptr;
    QComboBox* pPageOriCmB = nullptr;
    QComboBox* pAlignCmB = nullptr;
};

#endif
