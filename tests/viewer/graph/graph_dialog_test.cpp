// The main window: every control's initial state, its handlers and their messages, driven with
// real key presses and clicks on a shown window.
#include "graph_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "graph_view.h"
#include "test_data_source.h"

namespace {

std::string captured(const std::function<void()>& action, bool stderrToo = false) {
    testing::internal::CaptureStdout();
    if (stderrToo) {
        testing::internal::CaptureStderr();
    }
    action();
    std::string out = testing::internal::GetCapturedStdout();
    if (stderrToo) {
        out += "|" + testing::internal::GetCapturedStderr();
    }
    return out;
}

std::vector<TestChannel> channelsOfTypes(const std::vector<int>& types) {
    std::vector<TestChannel> channels;
    for (std::size_t i = 0; i < types.size(); ++i) {
        TestChannel c;
        c.name = "C" + std::to_string(i);
        c.dataType = types[i];
        c.calibration = types[i] == 28 ? 1e-12f : 1.0f;
        channels.push_back(c);
    }
    return channels;
}

class GraphDialogTest : public testing::Test {
protected:
    void build(const std::vector<int>& types = {50, 28, 50}, int lineFreq = 60) {
        construction = captured([&] {
            source = std::make_shared<TestDataSource>(channelsOfTypes(types));
            source->SetLineFreq(lineFreq);
            dialog = std::make_unique<GraphDialog>(source);
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        });
    }
    void dataReady() {
        readyOutput = captured([&] { dialog->handleDataReady(); });
    }
    template <typename T>
    T* child(const char* name) {
        T* found = dialog->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // Types text into a line edit and presses Return; returns what was printed.
    std::string enter(const char* edit, const QString& text, bool stderrToo = false) {
        auto* field = child<QLineEdit>(edit);
        return captured(
            [&] {
                field->clear();
                QTest::keyClicks(field, text);
                QTest::keyClick(field, Qt::Key_Return);
            },
            stderrToo);
    }
    std::string click(const char* button) {
        return captured([&] { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); });
    }
    QString text(const char* edit) { return child<QLineEdit>(edit)->text(); }

    void TearDown() override {
        captured([&] { dialog.reset(); });
    }

    std::shared_ptr<TestDataSource> source;
    std::unique_ptr<GraphDialog> dialog;
    std::string construction;
    std::string readyOutput;
};

TEST_F(GraphDialogTest, ControlsStartAsLaidOut) {
    build();
    // The family and order boxes are connected before their items are added.
    EXPECT_NE(construction.find("Using Butterworth filter\nFilter order set to 1\n"
                                "Filter order set to 4\n"),
              std::string::npos)
        << construction;
    EXPECT_EQ(source->GetFilterMode(), Butterworth);
    EXPECT_EQ(source->GetFilterOrder(), 4);

    auto* family = child<QComboBox>("filterModeCombo");
    ASSERT_EQ(family->count(), 2);
    EXPECT_EQ(family->itemText(1), "Chebyshev");
    auto* order = child<QComboBox>("filterOrderCombo");
    ASSERT_EQ(order->count(), 6);
    EXPECT_EQ(order->currentText(), "4");
    EXPECT_EQ(child<QComboBox>("lineFreqCombo")->currentText(), "60Hz");
    EXPECT_EQ(child<QSpinBox>("lowPassSpin")->value(), 30);
    EXPECT_EQ(child<QSpinBox>("lowPassSpin")->maximum(), 300);
    EXPECT_EQ(child<QSpinBox>("highPassSpin")->value(), 1);
    EXPECT_FALSE(child<QCheckBox>("lowPassCheck")->isChecked());
    EXPECT_EQ(child<QPushButton>("playButton")->text(), "Pause");
    EXPECT_EQ(child<QPushButton>("domainButton")->text(), "FFT");
    EXPECT_TRUE(child<QFrame>("timeFrame")->isVisible());
    EXPECT_FALSE(child<QFrame>("fftFrame")->isVisible());
    EXPECT_EQ(text("timeScaleEdit"), "10");
    EXPECT_EQ(text("numAveragesEdit"), "1");
    auto* windows = child<QComboBox>("windowTypeCombo");
    ASSERT_EQ(windows->count(), 6);
    EXPECT_EQ(windows->itemText(5), "Hanning");
    EXPECT_EQ(child<QComboBox>("scalingCombo")->count(), 0);

    for (const char* name : {"increaseScalingButton", "decreaseScalingButton",
                             "increaseSpacingButton", "decreaseSpacingButton"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(child<QPushButton>(name)->property("control").toBool());
        EXPECT_EQ(child<QPushButton>(name)->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(child<QPushButton>("playButton")->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(dialog->view()->focusPolicy(), Qt::TabFocus);
    EXPECT_EQ(dialog->view()->minimumSize(), QSize(640, 400));
    // The view holds the window's focus (the window itself need not be active under Xvfb).
    EXPECT_EQ(dialog->focusWidget(), dialog->view());
}

TEST_F(GraphDialogTest, LineFrequencyFollowsTheSourceAndTheBox) {
    build({50}, 50);
    auto* box = child<QComboBox>("lineFreqCombo");
    EXPECT_EQ(box->currentText(), "50Hz");
    box->setCurrentIndex(1);
    EXPECT_EQ(source->GetLineFreq(), 60);
    box->setCurrentIndex(0);
    EXPECT_EQ(source->GetLineFreq(), 50);
}

TEST_F(GraphDialogTest, DataReadyListsTheDistinctDataTypesAndShowsTheFirstScaling) {
    build({50, 28, 50});
    dataReady();
    EXPECT_NE(readyOutput.find("Data ready\nDATATYPE: 28\nDATATYPE: 50\n"), std::string::npos)
        << readyOutput;
    auto* types = child<QComboBox>("scalingCombo");
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), "28");
    EXPECT_EQ(types->itemText(1), "50");
    EXPECT_EQ(text("scalingEdit"), "20p");
    EXPECT_EQ(dialog->GetSelectedScaling(), 28);
    types->setCurrentIndex(1);
    EXPECT_EQ(text("scalingEdit"), "1");
}

TEST_F(GraphDialogTest, ScalingIsTypedWithSiSuffixesAndSteppedOneTwoFive) {
    build({28, 50});
    dataReady();
    EXPECT_NE(enter("scalingEdit", "2n").find("Scaling text: 2n\n"), std::string::npos);
    EXPECT_EQ(text("scalingEdit"), "2n");
    const ScalingType typed = dialog->view()->GetScalingFactor(28);
    EXPECT_EQ(typed.mantissa, 2.0f);
    EXPECT_EQ(typed.exponent, -9);
    click("decreaseScalingButton");
    EXPECT_EQ(text("scalingEdit"), "5n");
    enter("scalingEdit", "2n");
    click("increaseScalingButton");
    EXPECT_EQ(text("scalingEdit"), "1n");

    const std::string rejected = enter("scalingEdit", "abc");
    EXPECT_NE(rejected.find("std::invalid_argument::what(): stof\n"), std::string::npos);
    EXPECT_EQ(text("scalingEdit"), "1n");  // the value in effect again

    enter("scalingEdit", "1e-9");
    EXPECT_EQ(text("scalingEdit"), "1e-09");

    // From the default 20p: finer 5p 2p 1p 500f, coarser 10p 20p 50p 100p.
    const struct {
        const char* button;
        std::vector<QString> shown;
    } walks[] = {{"increaseScalingButton", {"5p", "2p", "1p", "500f"}},
                 {"decreaseScalingButton", {"10p", "20p", "50p", "100p"}}};
    for (const auto& walk : walks) {
        SCOPED_TRACE(walk.button);
        enter("scalingEdit", "20p");
        for (const auto& expected : walk.shown) {
            click(walk.button);
            EXPECT_EQ(text("scalingEdit"), expected);
        }
    }
}

TEST_F(GraphDialogTest, ScalingControlsWaitForTheFirstDataTypes) {
    build({28});
    EXPECT_EQ(dialog->GetSelectedScaling(), -1);
    click("increaseScalingButton");
    click("decreaseScalingButton");
    enter("scalingEdit", "5p");
    const ScalingType untouched = dialog->view()->GetScalingFactor(28);
    EXPECT_EQ(untouched.mantissa, 20.0f);
    EXPECT_EQ(untouched.exponent, -12);
}

TEST_F(GraphDialogTest, TimeScaleAndAveragesShowTheValueInEffect) {
    build();
    EXPECT_NE(enter("timeScaleEdit", "500", true).find("Max divisions is 120\n"),
              std::string::npos);
    EXPECT_EQ(text("timeScaleEdit"), "120");
    enter("timeScaleEdit", "2.5");
    EXPECT_EQ(text("timeScaleEdit"), "2.5");
    const std::string bad = enter("timeScaleEdit", "abc", true);
    EXPECT_NE(bad.find("Time parse str: abc\nstd::invalid_argument::what(): stof\n"),
              std::string::npos)
        << bad;
    EXPECT_EQ(text("timeScaleEdit"), "abc");

    enter("numAveragesEdit", "0");
    EXPECT_EQ(text("numAveragesEdit"), "1");
    enter("numAveragesEdit", "8");
    EXPECT_EQ(text("numAveragesEdit"), "8");
    EXPECT_EQ(dialog->view()->GetNumFftAverages(), 8);
    const std::string badCount = enter("numAveragesEdit", "many", true);
    EXPECT_NE(badCount.find("Averages parse str: many\nstd::invalid_argument::what(): stoi\n"),
              std::string::npos);
}

TEST_F(GraphDialogTest, FilterChecksSetTheCutOffFirstAndLockTheirSpinBox) {
    build();
    auto* check = child<QCheckBox>("lowPassCheck");
    auto* spin = child<QSpinBox>("lowPassSpin");
    spin->setValue(30);
    const std::string on = captured([&] { QTest::mouseClick(check, Qt::LeftButton); });
    EXPECT_NE(on.find("Low Pass: 30Hz\nLow pass filter freq: 30 mode: Butterworth order: 4 on\n"),
              std::string::npos)
        << on;
    EXPECT_FALSE(spin->isEnabled());
    const std::string off = captured([&] { QTest::mouseClick(check, Qt::LeftButton); });
    EXPECT_NE(off.find("Low pass filter off\n"), std::string::npos);
    EXPECT_TRUE(spin->isEnabled());

    child<QSpinBox>("highPassSpin")->setValue(5);
    const std::string high =
        captured([&] { QTest::mouseClick(child<QCheckBox>("highPassCheck"), Qt::LeftButton); });
    EXPECT_NE(high.find("High Pass: 5Hz\nHigh pass filter freq: 5 mode: Butterworth order: 4 on\n"),
              std::string::npos);
    const std::string line =
        captured([&] { QTest::mouseClick(child<QCheckBox>("lineFreqCheck"), Qt::LeftButton); });
    EXPECT_NE(line.find("Line frequency filters on\n"), std::string::npos);

    captured([&] { child<QComboBox>("filterModeCombo")->setCurrentIndex(1); });
    EXPECT_EQ(source->GetFilterMode(), Chebyshev);
    captured([&] { child<QComboBox>("filterOrderCombo")->setCurrentIndex(1); });
    EXPECT_EQ(source->GetFilterOrder(), 2);
}

TEST_F(GraphDialogTest, DomainButtonSwitchesBetweenTimeAndSpectrum) {
    build();
    dataReady();
    captured([&] { dialog->view()->setGraphType(Scroll); });
    click("domainButton");
    EXPECT_EQ(dialog->view()->graphType(), Spectrum);
    EXPECT_EQ(child<QPushButton>("domainButton")->text(), "Time");
    EXPECT_TRUE(child<QFrame>("fftFrame")->isVisible());
    EXPECT_FALSE(child<QFrame>("timeFrame")->isVisible());
    click("domainButton");
    EXPECT_EQ(dialog->view()->graphType(), Scroll);
    EXPECT_EQ(child<QPushButton>("domainButton")->text(), "FFT");
    EXPECT_TRUE(child<QFrame>("timeFrame")->isVisible());
    EXPECT_EQ(text("timeScaleEdit"), "10");
}

TEST_F(GraphDialogTest, PauseAndResetAndSpacing) {
    build();
    dataReady();
    click("playButton");
    EXPECT_EQ(child<QPushButton>("playButton")->text(), "Play");
    EXPECT_TRUE(dialog->view()->IsPaused());
    click("playButton");
    EXPECT_EQ(child<QPushButton>("playButton")->text(), "Pause");
    EXPECT_FALSE(dialog->view()->IsPaused());

    // A reset asked for by the view ends a pause.
    click("playButton");
    captured([&] { dialog->view()->requestReset(); });
    EXPECT_EQ(child<QPushButton>("playButton")->text(), "Pause");
    EXPECT_FALSE(dialog->view()->IsPaused());

    click("increaseSpacingButton");
    EXPECT_EQ(dialog->view()->GetTicksPerGraph(), 2);
    click("decreaseSpacingButton");
    EXPECT_EQ(dialog->view()->GetTicksPerGraph(), 1);
}

TEST_F(GraphDialogTest, ClosingClosesTheView) {
    build();
    const std::string out = captured([&] { dialog->close(); });
    EXPECT_NE(out.find("Closing graphDialog\nClosing graphView\n"), std::string::npos) << out;
}

}  // namespace
