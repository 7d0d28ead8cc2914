#include "graph_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <set>
#include <sstream>
#include <stdexcept>

#include "data_source.h"
#include "graph_view.h"
#include "log_line.h"
#include "vt_fft.h"

namespace {

constexpr int CONTROL_GAP = 15;  // pixels between the groups of the control row

std::string formatted(float value) {
    std::ostringstream text;
    text << value;  // the stream's default: six significant digits
    return text.str();
}

// The full-scale value of a scaling, written with the SI prefix of its exponent.
std::string scalingText(const ScalingType& scaling) {
    const int e = scaling.exponent;
    const float v = scaling.Get();
    if (e < -15) {
        return formatted(v * (1.0f / GraphDialog::siAtto)) + "a";
    }
    if (e <= -13) {
        return formatted(v * GraphDialog::siPeta) + "f";
    }
    if (e <= -10) {
        return formatted(v * GraphDialog::siTera) + "p";
    }
    if (e <= -7) {
        return formatted(v * GraphDialog::siGiga) + "n";
    }
    if (e <= -4) {
        return formatted(v * GraphDialog::siMega) + "u";
    }
    if (e <= -1) {
        return formatted(v * (1.0f / GraphDialog::siMilli)) + "m";
    }
    if (e <= 2) {
        return formatted(v);
    }
    if (e <= 5) {
        return formatted(v * GraphDialog::siMilli) + "k";
    }
    if (e <= 8) {
        return formatted(v * GraphDialog::siMicro) + "M";
    }
    if (e <= 11) {
        return formatted(v * GraphDialog::siNano) + "G";
    }
    return formatted(v * GraphDialog::siPico) + "T";
}

int exponentOfSuffix(char suffix, bool& known) {
    known = true;
    switch (suffix) {
        case 'T':
            return 12;
        case 'G':
            return 9;
        case 'M':
            return 6;
        case 'k':
            return 3;
        case 'm':
            return -3;
        case 'u':
            return -6;
        case 'n':
            return -9;
        case 'p':
            return -12;
        case 'f':
            return -15;
        case 'a':
            return -18;
        default:
            known = false;
            return 0;
    }
}

QFrame* makeGroupFrame() {
    auto* frame = new QFrame();
    frame->setFrameShape(QFrame::NoFrame);
    frame->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return frame;
}

QHBoxLayout* makeGroupLayout(QFrame* frame) {
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

}  // namespace

GraphDialog::GraphDialog(std::shared_ptr<DataSource> source)
    : QDialog(nullptr, Qt::Window), dataSource(std::move(source)) {
    GraphViewConfig config;
    config.type = Sweep;
    config.divisions = 10;
    config.timeDivisions = 10;
    config.scaleByDataType = true;
    graphView = new GraphView(config, dataSource);
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setVersion(3, 3);
    format.setSamples(4);
    format.setDepthBufferSize(24);
    graphView->setFormat(format);

    connect(dataSource.get(), &DataSource::sigDataReady, this, &GraphDialog::handleDataReady);
    connect(this, &GraphDialog::sigSetFilter, dataSource.get(), &DataSource::SetFilter);
    connect(graphView, &GraphView::sigResetRequested, this, &GraphDialog::handleSigReset);
    connect(this, &GraphDialog::sigDoPause, graphView, &GraphView::SetPaused);
    connect(this, &GraphDialog::sigResetRequested, graphView, &GraphView::resetGraph);
    graphView->setFocusPolicy(Qt::TabFocus);
    graphView->setMinimumSize(640, 400);

    auto* logoRow = new QHBoxLayout();
    logoRow->setContentsMargins(9, 9, 9, 9);
    auto* logo = new QLabel();
    logo->setPixmap(QPixmap(":/images/logo.png"));
    logo->setScaledContents(true);
    logo->setMaximumSize(152, 32);
    logo->setToolTip("Veltrane Medical");
    logoRow->addWidget(logo);
    logoRow->addStretch();

    auto* controls = new QHBoxLayout();
    controls->setContentsMargins(6, 0, 6, 0);
    controls->setSpacing(6);

    scalingCombo = new QComboBox();
    scalingCombo->setObjectName("scalingCombo");
    connect(scalingCombo, &QComboBox::currentIndexChanged, this,
            &GraphDialog::handleScalingIndexChanged);
    controls->addWidget(scalingCombo);
    scalingEdit = new QLineEdit();
    scalingEdit->setObjectName("scalingEdit");
    scalingEdit->setFixedWidth(35);
    connect(scalingEdit, &QLineEdit::returnPressed, this, &GraphDialog::handleScalingReturn);
    controls->addWidget(scalingEdit);
    controls->addWidget(new QLabel("Scaling"));
    decreaseScalingButton = makeStepButton("-");
    decreaseScalingButton->setObjectName("decreaseScalingButton");
    connect(decreaseScalingButton, &QPushButton::clicked, this,
            &GraphDialog::handleDecreaseScalingButton);
    controls->addWidget(decreaseScalingButton);
    increaseScalingButton = makeStepButton("+");
    increaseScalingButton->setObjectName("increaseScalingButton");
    connect(increaseScalingButton, &QPushButton::clicked, this,
            &GraphDialog::handleIncreaseScalingButton);
    controls->addWidget(increaseScalingButton);
    controls->addWidget(new QLabel("Spacing"));
    decreaseSpacingButton = makeStepButton("-");
    decreaseSpacingButton->setObjectName("decreaseSpacingButton");
    connect(decreaseSpacingButton, &QPushButton::clicked, this,
            &GraphDialog::handleDecreaseSpacingButton);
    controls->addWidget(decreaseSpacingButton);
    increaseSpacingButton = makeStepButton("+");
    increaseSpacingButton->setObjectName("increaseSpacingButton");
    connect(increaseSpacingButton, &QPushButton::clicked, this,
            &GraphDialog::handleIncreaseSpacingButton);
    controls->addWidget(increaseSpacingButton);
    controls->addSpacing(CONTROL_GAP);

    // Connected before the items are added: adding them sets the source's family and order.
    filterModeCombo = new QComboBox();
    filterModeCombo->setObjectName("filterModeCombo");
    connect(filterModeCombo, &QComboBox::currentIndexChanged, this,
            &GraphDialog::handleFilterModeChanged);
    for (const auto& name : filterNames) {
        filterModeCombo->addItem(QString::fromStdString(name));
    }
    controls->addWidget(filterModeCombo);
    filterOrderCombo = new QComboBox();
    filterOrderCombo->setObjectName("filterOrderCombo");
    connect(filterOrderCombo, &QComboBox::currentIndexChanged, this,
            &GraphDialog::handleFilterOrderChanged);
    for (int order = 1; order <= 6; ++order) {
        filterOrderCombo->addItem(QString::number(order));
    }
    filterOrderCombo->setCurrentIndex(3);
    controls->addWidget(filterOrderCombo);
    controls->addSpacing(CONTROL_GAP);

    lineFreqCombo = new QComboBox();
    lineFreqCombo->setObjectName("lineFreqCombo");
    lineFreqCombo->addItem("50Hz");
    lineFreqCombo->addItem("60Hz");
    connect(lineFreqCombo, &QComboBox::currentIndexChanged, this,
            &GraphDialog::handleLineFilterFreqChanged);
    lineFreqCombo->setCurrentIndex(dataSource->GetLineFreq() == 60 ? 1 : 0);
    controls->addWidget(lineFreqCombo);
    auto* lineFilterCheck = new QCheckBox("Enable Line Freq Filter");
    lineFilterCheck->setObjectName("lineFreqCheck");
    connect(lineFilterCheck, &QCheckBox::toggled, this,
            [this](bool on) { Q_EMIT sigSetFilter(on, LineFreq); });
    controls->addWidget(lineFilterCheck);
    controls->addSpacing(CONTROL_GAP);

    controls->addWidget(new QLabel("Low pass"));
    lowPassCheck = new QCheckBox("Enable");
    lowPassCheck->setObjectName("lowPassCheck");
    connect(lowPassCheck, &QCheckBox::toggled, this, &GraphDialog::handleLPFilterToggled);
    controls->addWidget(lowPassCheck);
    lowPassSpin = new QSpinBox();
    lowPassSpin->setObjectName("lowPassSpin");
    lowPassSpin->setRange(1, 300);
    lowPassSpin->setValue(30);
    controls->addWidget(lowPassSpin);
    controls->addSpacing(CONTROL_GAP);

    controls->addWidget(new QLabel("High pass"));
    highPassCheck = new QCheckBox("Enable");
    highPassCheck->setObjectName("highPassCheck");
    connect(highPassCheck, &QCheckBox::toggled, this, &GraphDialog::handleHPFilterToggled);
    controls->addWidget(highPassCheck);
    highPassSpin = new QSpinBox();
    highPassSpin->setObjectName("highPassSpin");
    highPassSpin->setRange(1, 300);
    highPassSpin->setValue(1);
    controls->addWidget(highPassSpin);
    controls->addSpacing(CONTROL_GAP);

    playButton = new QPushButton("Pause");
    playButton->setObjectName("playButton");
    playButton->setMinimumWidth(50);
    playButton->setFocusPolicy(Qt::NoFocus);
    connect(playButton, &QPushButton::clicked, this, &GraphDialog::handlePlayButton);
    controls->addWidget(playButton);
    domainButton = new QPushButton("FFT");
    domainButton->setObjectName("domainButton");
    domainButton->setMinimumWidth(50);
    domainButton->setFocusPolicy(Qt::NoFocus);
    connect(domainButton, &QPushButton::clicked, this, &GraphDialog::handleDomainButton);
    controls->addWidget(domainButton);
    controls->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    timeFrame = makeGroupFrame();
    timeFrame->setObjectName("timeFrame");
    auto* timeLayout = makeGroupLayout(timeFrame);
    timeLayout->addWidget(new QLabel("Timescale [sec]"));
    timeScaleEdit = new QLineEdit(QString::number(graphView->getDivisions()));
    timeScaleEdit->setObjectName("timeScaleEdit");
    timeScaleEdit->setFixedWidth(40);
    connect(timeScaleEdit, &QLineEdit::returnPressed, this,
            &GraphDialog::handleTimeScaleEditReturn);
    timeLayout->addWidget(timeScaleEdit);
    controls->addWidget(timeFrame);

    fftFrame = makeGroupFrame();
    fftFrame->setObjectName("fftFrame");
    auto* fftLayout = makeGroupLayout(fftFrame);
    windowTypeCombo = new QComboBox();
    windowTypeCombo->setObjectName("windowTypeCombo");
    std::vector<std::string> windows;
    VtFFT::GetWindows(windows);
    for (const auto& name : windows) {
        windowTypeCombo->addItem(QString::fromStdString(name));
    }
    connect(windowTypeCombo, &QComboBox::currentIndexChanged, this,
            &GraphDialog::handleWindowTypeIndexChanged);
    fftLayout->addWidget(windowTypeCombo);
    fftLayout->addWidget(new QLabel("Averages"));
    numAveragesEdit = new QLineEdit("1");
    numAveragesEdit->setObjectName("numAveragesEdit");
    numAveragesEdit->setFixedWidth(40);
    connect(numAveragesEdit, &QLineEdit::returnPressed, this,
            &GraphDialog::handleNumAveragesEditReturn);
    fftLayout->addWidget(numAveragesEdit);
    controls->addWidget(fftFrame);
    fftFrame->hide();

    auto* main = new QVBoxLayout();
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addLayout(logoRow);
    main->addWidget(graphView, 1);
    main->addLayout(controls);
    setLayout(main);
    resize(700, 450);
    graphView->setFocus();
}

QPushButton* GraphDialog::makeStepButton(const char* text) {
    auto* button = new QPushButton(text);
    // The style sheet makes these 15 x 15; clicking them leaves the focus on the view.
    button->setProperty("control", true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

int GraphDialog::GetSelectedScaling() const {
    const int index = scalingCombo->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= dataTypes.size()) {
        return -1;
    }
    return dataTypes[static_cast<std::size_t>(index)];
}

void GraphDialog::handleDataReady() {
    outLine("Data ready");
    dataTypes.clear();
    scalingCombo->clear();
    std::set<int> distinct;
    for (int c = 0; c < dataSource->GetNumChannels(); ++c) {
        distinct.insert(dataSource->GetChannelDataType(c));
    }
    for (const int type : distinct) {
        dataTypes.push_back(type);
        outLine("DATATYPE: " + std::to_string(type));
        scalingCombo->addItem(QString::number(type));
    }
    graphView->start();
}

void GraphDialog::handleScalingIndexChanged(int idx) {
    if (idx < 0 || static_cast<std::size_t>(idx) >= dataTypes.size()) {
        return;  // no data type yet
    }
    const ScalingType scaling =
        graphView->GetScalingFactor(dataTypes[static_cast<std::size_t>(idx)]);
    scalingEdit->setText(QString::fromStdString(scalingText(scaling)));
}

void GraphDialog::handleScalingReturn() {
    const std::string text = scalingEdit->text().toStdString();
    outLine("Scaling text: " + text);
    if (text.empty()) {
        return;
    }
    const int dataType = GetSelectedScaling();
    if (dataType < 0) {
        return;
    }
    bool known = false;
    const int exponent = exponentOfSuffix(text.back(), known);
    const std::string number = known ? text.substr(0, text.size() - 1) : text;
    try {
        const float mantissa = std::stof(number);
        graphView->SetScalingFactor(dataType, ScalingType(mantissa, exponent));
    } catch (const std::invalid_argument&) {
        outLine("std::invalid_argument::what(): stof");
    } catch (const std::out_of_range&) {
        outLine("std::out_of_range::what(): stof");
    }
    handleScalingIndexChanged(scalingCombo->currentIndex());
}

void GraphDialog::handleIncreaseScalingButton() {
    const int dataType = GetSelectedScaling();
    if (dataType < 0) {
        return;
    }
    ScalingType s = graphView->GetScalingFactor(dataType);
    if (s.mantissa <= 1.0f) {
        s.mantissa = 5.0f;
        s.exponent -= 1;
    } else if (s.mantissa <= 2.0f) {
        s.mantissa = 1.0f;
    } else if (s.mantissa <= 5.0f) {
        s.mantissa = 2.0f;
    } else {
        s.mantissa = 5.0f;
    }
    graphView->SetScalingFactor(dataType, s);
    handleScalingIndexChanged(scalingCombo->currentIndex());
}

void GraphDialog::handleDecreaseScalingButton() {
    const int dataType = GetSelectedScaling();
    if (dataType < 0) {
        return;
    }
    ScalingType s = graphView->GetScalingFactor(dataType);
    if (s.mantissa >= 5.0f) {
        s.mantissa = 1.0f;
        s.exponent += 1;
    } else if (s.mantissa >= 2.0f) {
        s.mantissa = 5.0f;
    } else if (s.mantissa >= 1.0f) {
        s.mantissa = 2.0f;
    } else {
        s.mantissa = 1.0f;
    }
    graphView->SetScalingFactor(dataType, s);
    handleScalingIndexChanged(scalingCombo->currentIndex());
}

void GraphDialog::handleIncreaseSpacingButton() {
    graphView->IncreaseGraphHeight();
}

void GraphDialog::handleDecreaseSpacingButton() {
    graphView->DecreaseGraphHeight(false);
}

void GraphDialog::handleLPFilterToggled(bool on) {
    // The cut-off cannot change while the filter runs.
    lowPassSpin->setEnabled(!on);
    if (on) {
        dataSource->SetLPFilter(lowPassSpin->value());
    }
    Q_EMIT sigSetFilter(on, LowPass);
}

void GraphDialog::handleHPFilterToggled(bool on) {
    highPassSpin->setEnabled(!on);
    if (on) {
        dataSource->SetHPFilter(highPassSpin->value());
    }
    Q_EMIT sigSetFilter(on, HighPass);
}

void GraphDialog::handleFilterModeChanged(int idx) {
    dataSource->SetFilterMode(static_cast<FilterMode>(idx));
}

void GraphDialog::handleFilterOrderChanged(int idx) {
    dataSource->SetFilterOrder(idx + 1);
}

void GraphDialog::handleLineFilterFreqChanged(int idx) {
    if (idx == 0) {
        dataSource->SetLineFreq(50);
    } else if (idx == 1) {
        dataSource->SetLineFreq(60);
    }
}

void GraphDialog::handlePlayButton() {
    if (playButton->text() == "Play") {
        playButton->setText("Pause");
        Q_EMIT sigDoPause(false);
    } else {
        playButton->setText("Play");
        Q_EMIT sigDoPause(true);
    }
}

void GraphDialog::handleSigReset() {
    playButton->setText("Pause");  // a reset always ends a pause
    showTimeScaleInEffect();
    Q_EMIT sigResetRequested();
}

void GraphDialog::handleDomainButton() {
    const bool spectrum = domainButton->text() == "FFT";
    fftFrame->setVisible(spectrum);
    timeFrame->setVisible(!spectrum);
    graphView->EnableFft(spectrum);
    domainButton->setText(spectrum ? "Time" : "FFT");
    showTimeScaleInEffect();
}

void GraphDialog::showTimeScaleInEffect() {
    // After a mode change the view returns to its configured time scale; show what is in use.
    if (graphView->graphType() != Spectrum) {
        timeScaleEdit->setText(QString::fromStdString(formatted(graphView->divisions())));
    }
}

void GraphDialog::handleTimeScaleEditReturn() {
    const std::string text = timeScaleEdit->text().toStdString();
    try {
        const float seconds = std::stof(text);
        const float inEffect = graphView->SetDivisions(seconds);
        timeScaleEdit->setText(QString::fromStdString(formatted(inEffect)));
    } catch (const std::invalid_argument&) {
        errLine("Time parse str: " + text);
        errLine("std::invalid_argument::what(): stof");
    } catch (const std::out_of_range&) {
        errLine("Time parse str: " + text);
        errLine("std::out_of_range::what(): stof");
    }
}

void GraphDialog::handleNumAveragesEditReturn() {
    const std::string text = numAveragesEdit->text().toStdString();
    try {
        const int count = std::stoi(text);
        numAveragesEdit->setText(QString::number(graphView->SetNumFftAverages(count)));
    } catch (const std::invalid_argument&) {
        errLine("Averages parse str: " + text);
        errLine("std::invalid_argument::what(): stoi");
    } catch (const std::out_of_range&) {
        errLine("Averages parse str: " + text);
        errLine("std::out_of_range::what(): stoi");
    }
}

void GraphDialog::handleWindowTypeIndexChanged(int idx) {
    graphView->SetFftWindowType(idx);
}

void GraphDialog::closeEvent(QCloseEvent* event) {
    outLine("Closing graphDialog");
    graphView->close();
    QDialog::closeEvent(event);
}
