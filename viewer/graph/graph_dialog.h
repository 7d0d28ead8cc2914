#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "filters.h"

class DataSource;
class GraphView;
class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The window the user works in: the logo row, the graph view, and one row of controls for the
// scaling of each data type, slot spacing, the data source's filters, pause, time or spectrum
// display, the time scale and the spectrum settings.
class GraphDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr float siPeta = 1e15f;
    static constexpr float siTera = 1e12f;
    static constexpr float siGiga = 1e9f;
    static constexpr float siMega = 1e6f;
    static constexpr float siKilo = 1e3f;
    static constexpr float siMilli = 1e-3f;
    static constexpr float siMicro = 1e-6f;
    static constexpr float siNano = 1e-9f;
    static constexpr float siPico = 1e-12f;
    static constexpr float siFemto = 1e-15f;
    static constexpr float siAtto = 1e-18f;

    explicit GraphDialog(std::shared_ptr<DataSource> source);

    // The data type whose scaling the controls show, or -1 before the first data-ready notice.
    int GetSelectedScaling() const;
    GraphView* view() const { return graphView; }

Q_SIGNALS:
    void sigResetRequested();
    void sigSetFilter(bool on, FilterType type);
    void sigDoPause(bool pause);

public Q_SLOTS:
    void handleDataReady();

private Q_SLOTS:
    void handleIncreaseSpacingButton();
    void handleDecreaseSpacingButton();
    void handleIncreaseScalingButton();
    void handleDecreaseScalingButton();
    void handleLPFilterToggled(bool on);
    void handleHPFilterToggled(bool on);
    void handlePlayButton();
    void handleSigReset();
    void handleScalingReturn();
    void handleScalingIndexChanged(int idx);
    void handleTimeScaleEditReturn();
    void handleFilterModeChanged(int idx);
    void handleFilterOrderChanged(int idx);
    void handleDomainButton();
    void handleNumAveragesEditReturn();
    void handleWindowTypeIndexChanged(int idx);
    void handleLineFilterFreqChanged(int idx);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* makeStepButton(const char* text);
    void showTimeScaleInEffect();

    GraphView* graphView = nullptr;
    std::shared_ptr<DataSource> dataSource;
    QPushButton* increaseScalingButton = nullptr;
    QPushButton* decreaseScalingButton = nullptr;
    QPushButton* increaseSpacingButton = nullptr;
    QPushButton* decreaseSpacingButton = nullptr;
    QComboBox* lineFreqCombo = nullptr;
    std::vector<std::string> filterNames{"Butterworth", "Chebyshev"};
    QComboBox* filterModeCombo = nullptr;
    QComboBox* filterOrderCombo = nullptr;
    QSpinBox* lowPassSpin = nullptr;
    QSpinBox* highPassSpin = nullptr;
    QCheckBox* lowPassCheck = nullptr;
    QCheckBox* highPassCheck = nullptr;
    QPushButton* playButton = nullptr;
    QComboBox* scalingCombo = nullptr;
    QLineEdit* scalingEdit = nullptr;
    QLineEdit* timeScaleEdit = nullptr;
    std::vector<int> dataTypes;
    QPushButton* domainButton = nullptr;
    QFrame* timeFrame = nullptr;
    QFrame* fftFrame = nullptr;
    QComboBox* windowTypeCombo = nullptr;
    QLineEdit* numAveragesEdit = nullptr;
};
