// Operations of the graph view: scaling, time scale, slot height, modes, spectrum settings,
// context menu, reset key, colour properties.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QStringList>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "graph_view_fixture.h"

namespace {

using namespace test_colors;

// A view that is never shown: operations that need no context.
struct Unshown {
    std::shared_ptr<TestDataSource> source = std::make_shared<TestDataSource>(namedChannels(3));
    GraphView view{GraphViewConfig{}, source};
};

// ---- Scaling ------------------------------------------------------------------------------

TEST_F(GraphViewTest, ScalingDefaultsAreInsertedOnFirstUseAndKeptWhenReplaced) {
    open({{"C0", 51, 1.0f, {}}});  // a data type none of the cases asks for
    GraphView& v = *view;
    struct Case {
        int dataType;
        float mantissa;
        int exponent;
    };
    for (const Case& c : {Case{28, 20.0f, -12}, Case{14, 1.0f, -9}, Case{50, 1.0f, 0}}) {
        SCOPED_TRACE(c.dataType);
        EXPECT_FALSE(v.HasScaling(c.dataType));
        const ScalingType s = v.GetScalingFactor(c.dataType);
        EXPECT_EQ(s.mantissa, c.mantissa);
        EXPECT_EQ(s.exponent, c.exponent);
        EXPECT_TRUE(v.HasScaling(c.dataType));
    }
    EXPECT_FLOAT_EQ(ScalingType(20.0f, -12).Get(), 2e-11f);

    v.SetScalingFactor(28, ScalingType(5.0f, -12));
    EXPECT_FLOAT_EQ(v.GetScalingFactor(28).Get(), 5e-12f);
    v.SetScalingFactor(7, ScalingType(2.0f, 3));  // never asked for before
    EXPECT_FLOAT_EQ(v.GetScalingFactor(7).Get(), 2000.0f);
    // Gains follow the tick spacing of the layout in use; layouts keep the scalings.
    v.IncreaseGraphHeight();
    v.EnableFft(true);
    EXPECT_FLOAT_EQ(v.GetScalingFactor(28).Get(), 5e-12f);
    EXPECT_FLOAT_EQ(v.GetScaling(28), v.GetTickSpacing() * (1.0f / 5e-12f));
    EXPECT_FLOAT_EQ(v.GetScaling(50), v.GetTickSpacing());
}

// ---- Time scale ---------------------------------------------------------------------------

struct DivisionsCase {
    const char* name;
    float seconds;
    float inEffect;
    const char* message;  // standard error
    int points;
    int whole;  // getDivisions
    int verticalLines;
};

class GraphViewDivisionsTest : public GraphViewTest,
                               public testing::WithParamInterface<DivisionsCase> {};

TEST_P(GraphViewDivisionsTest, SetDivisionsClampsAndRefusesNonNumbers) {
    const DivisionsCase& c = GetParam();
    open(namedChannels(2));
    source->push(100);
    frame();

    CapturedOutput err(CapturedOutput::Err);
    const float result = view->SetDivisions(c.seconds);
    EXPECT_EQ(err.take(), c.message);
    EXPECT_FLOAT_EQ(result, c.inEffect);
    EXPECT_FLOAT_EQ(view->divisions(), c.inEffect);
    EXPECT_EQ(view->getDivisions(), c.whole);
    EXPECT_EQ(view->GetNumPoints(), c.points);
    EXPECT_EQ(view->GetXPositions().size(), static_cast<std::size_t>(c.points));
    EXPECT_EQ(view->GetFrameSegments().size(), static_cast<std::size_t>(2 + c.verticalLines));

    // The new grid reaches the GPU although the change came outside a paint.
    const Picture p = frame();
    ASSERT_FALSE(p.image.isNull());
    const int row = p.row(0.95f - 2.5f * view->GetTickSpacing());
    int lines = 0;
    for (int col = p.column(view->GetLeftEdge()) + 2; col <= p.column(0.95f) + 1; ++col) {
        lines += p.is(col, row, GRID) && !p.is(col - 1, row, GRID) ? 1 : 0;
    }
    EXPECT_EQ(lines, c.verticalLines);
}

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, GraphViewDivisionsTest,
    testing::Values(
        DivisionsCase{"Above120", 200.0f, 120.0f, "Max divisions is 120\n", 120000, 120, 120},
        DivisionsCase{"Below01", 0.05f, 0.1f, "Min divisions is 0.1\n", 100, 0, 0},
        DivisionsCase{"Fraction", 2.5f, 2.5f, "", 2500, 2, 2},
        DivisionsCase{"Max", 120.0f, 120.0f, "", 120000, 120, 120},
        DivisionsCase{"NaN", NaN, 10.0f, "Invalid divisions nan\n", 10000, 10, 10},
        DivisionsCase{"PlusInf", INF, 10.0f, "Invalid divisions inf\n", 10000, 10, 10},
        DivisionsCase{"MinusInf", -INF, 10.0f, "Invalid divisions -inf\n", 10000, 10, 10}),
    caseName<DivisionsCase>);

TEST_F(GraphViewTest, SetDivisionsStartsAFreshPicture) {
    open(namedChannels(1));
    pushAndFrame(10);
    pushAndFrame(300);
    ASSERT_EQ(view->GetSweepPos(), 310);
    CapturedOutput out(CapturedOutput::Out);
    view->SetDivisions(2.0f);
    EXPECT_NE(out.take().find("resetGraph\n"), std::string::npos);
    EXPECT_EQ(view->GetSweepPos(), 0);
    pushAndFrame(20);
    EXPECT_EQ(view->GetSweepPos(), 10);  // a fresh record takes the ten newest samples
}

// ---- Slot height --------------------------------------------------------------------------

TEST_F(GraphViewTest, SlotHeightStepsByOneDivision) {
    open(namedChannels(40));
    struct Step {
        const char* name;
        void (*apply)(GraphView&);
        int graphHeight;
        int ticksPerGraph;
        int slots;
    };
    const Step steps[] = {
        {"decrease at the minimum", [](GraphView& v) { v.DecreaseGraphHeight(); }, 25, 1, 17},
        {"increase", [](GraphView& v) { v.IncreaseGraphHeight(); }, 35, 2, 8},
        {"increase", [](GraphView& v) { v.IncreaseGraphHeight(); }, 45, 3, 5},
        {"decrease", [](GraphView& v) { v.DecreaseGraphHeight(false); }, 35, 2, 8},
        {"increase", [](GraphView& v) { v.IncreaseGraphHeight(); }, 45, 3, 5},
        {"back to the minimum", [](GraphView& v) { v.DecreaseGraphHeight(true); }, 25, 1, 17},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.apply(*view);
        EXPECT_EQ(view->GetGraphHeight(), s.graphHeight);
        EXPECT_EQ(view->GetTicksPerGraph(), s.ticksPerGraph);
        EXPECT_EQ(view->GetNumGraphsOnScreen(), s.slots);
        ASSERT_EQ(view->GetLabels().size(), static_cast<std::size_t>(s.slots));
        const float h = view->GetTickSpacing() * static_cast<float>(s.ticksPerGraph);
        EXPECT_EQ(view->GetLabels().back().y,
                  view->ToPixel(0.95f - static_cast<float>(s.slots) * h) - 5);
    }

    // Slots taller than the plot: nothing fits, nothing is drawn.
    for (int i = 0; i < 17; ++i) {
        view->IncreaseGraphHeight();
    }
    EXPECT_EQ(view->GetTicksPerGraph(), 18);
    EXPECT_EQ(view->GetNumGraphsOnScreen(), 0);
    const Picture p = pushAndFrame(100);
    ASSERT_FALSE(p.image.isNull());
    EXPECT_EQ(p.count(p.image.rect(), TRACE), 0);
    EXPECT_GT(p.count(p.image.rect(), SWEEP), 0);
}

// ---- Modes --------------------------------------------------------------------------------

TEST_F(GraphViewTest, ModeChangesRestoreTheConfiguredTimeScale) {
    open(namedChannels(2), configFor(Scroll));
    QSignalSpy resets(view.get(), &GraphView::sigResetRequested);
    view->SetDivisions(2.5f);
    EXPECT_EQ(resets.count(), 0);  // a layout change resets directly, without asking

    view->EnableFft(true);
    EXPECT_EQ(view->graphType(), Spectrum);
    EXPECT_FLOAT_EQ(view->divisions(), 5.0f);
    EXPECT_EQ(view->GetNumPoints(), 511);
    EXPECT_NEAR(view->GetXPositions().front(), view->GetLeftEdge(), 1e-6);
    EXPECT_NEAR(view->GetXPositions().back(), 0.95f, 1e-5);  // left edge + xrange
    view->EnableFft(true);  // twice in a row still returns to the time mode
    view->EnableFft(false);
    EXPECT_EQ(view->graphType(), Scroll);
    EXPECT_FLOAT_EQ(view->divisions(), 10.0f);
    EXPECT_EQ(view->GetNumPoints(), 10000);
    EXPECT_EQ(resets.count(), 3);
    const Picture p = pushAndFrame(50);
    EXPECT_FALSE(p.image.isNull());
}

// ---- Spectrum settings --------------------------------------------------------------------

TEST(GraphViewSpectrumSettingsTest, AverageCountOutsideOneToThirtyTwoIsIgnored) {
    Unshown u;
    struct Case {
        int count;
        int inEffect;
    };
    for (const Case& c : {Case{0, 1}, Case{33, 1}, Case{32, 32}, Case{0, 32}, Case{-5, 32},
                          Case{1, 1}, Case{8, 8}}) {
        SCOPED_TRACE(c.count);
        EXPECT_EQ(u.view.SetNumFftAverages(c.count), c.inEffect);
        EXPECT_EQ(u.view.GetNumFftAverages(), c.inEffect);
    }
}

// ---- Context menu -------------------------------------------------------------------------

struct MenuCase {
    GraphingType mode;
    const char* toggleText;
    GraphingType afterToggle;
};

class GraphViewMenuTest : public GraphViewTest, public testing::WithParamInterface<MenuCase> {
protected:
    // Opens the context menu with a right click, and once it shows, records it and triggers
    // the action at `trigger`.
    void openMenu(int trigger) {
        bool seen = false;
        auto inspect = [&, this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr) {
                return;
            }
            seen = true;
            title = menu->title();
            texts.clear();
            for (QAction* action : menu->actions()) {
                texts << action->text();
            }
            EXPECT_EQ(menu->parent(), view.get());
            QAction* chosen = menu->actions().value(trigger);
            menu->close();
            if (chosen != nullptr) {
                chosen->trigger();
            }
        };
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!seen) {
                inspect();
            }
        });
        poll.start(10);
        const QPoint at(200, 200);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
        QApplication::sendEvent(view.get(), &event);
        EXPECT_TRUE(seen) << "no context menu";
        EXPECT_TRUE(view->findChildren<QMenu*>().isEmpty()) << "the menu outlives its run";
    }

    QString title;
    QStringList texts;
};

TEST_P(GraphViewMenuTest, MenuOffersTheOtherTimeMode) {
    const MenuCase& c = GetParam();
    open(namedChannels(2), configFor(c.mode == Spectrum ? Sweep : c.mode));
    if (c.mode == Spectrum) {
        view->EnableFft(true);
    }
    QSignalSpy resets(view.get(), &GraphView::sigResetRequested);

    openMenu(1);
    EXPECT_EQ(title, "Context menu");
    EXPECT_EQ(texts, QStringList({"Reset", c.toggleText}));
    EXPECT_EQ(view->graphType(), c.afterToggle);
    EXPECT_EQ(resets.count(), 1);

    openMenu(0);
    EXPECT_EQ(view->graphType(), c.afterToggle);
    EXPECT_EQ(resets.count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, GraphViewMenuTest,
                         testing::Values(MenuCase{Sweep, "Switch to Scroll", Scroll},
                                         MenuCase{Scroll, "Switch to Sweep", Sweep},
                                         MenuCase{Spectrum, "Switch to Sweep", Sweep}),
                         [](const testing::TestParamInfo<MenuCase>& info) {
                             return modeName(info.param.mode);
                         });

// ---- Reset key ----------------------------------------------------------------------------

struct KeyCase {
    const char* name;
    std::vector<std::pair<Qt::Key, bool>> presses;  // key, auto-repeated
    int resets;
};

class GraphViewKeyTest : public GraphViewTest, public testing::WithParamInterface<KeyCase> {};

// Each press of R is answered by one reset request at the next frame.
TEST_P(GraphViewKeyTest, ResetKeyRequestsOneResetPerPress) {
    open(namedChannels(1));
    QSignalSpy resets(view.get(), &GraphView::sigResetRequested);
    for (const auto& [key, repeated] : GetParam().presses) {
        const int before = resets.count();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), repeated);
        QApplication::sendEvent(view.get(), &press);
        EXPECT_EQ(resets.count(), before) << "requested before the frame";
        frame();
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(), repeated);
        QApplication::sendEvent(view.get(), &release);
    }
    frame();
    EXPECT_EQ(resets.count(), GetParam().resets);
    EXPECT_EQ(view->GetSweepPos(), 0);  // a request alone resets nothing
}

INSTANTIATE_TEST_SUITE_P(
    Presses, GraphViewKeyTest,
    testing::Values(
        KeyCase{"OnePress", {{Qt::Key_R, false}}, 1},
        KeyCase{"AutoRepeatIgnored", {{Qt::Key_R, false}, {Qt::Key_R, true}, {Qt::Key_R, true}}, 1},
        KeyCase{"TwoPresses", {{Qt::Key_R, false}, {Qt::Key_R, false}}, 2},
        KeyCase{"OtherKeys", {{Qt::Key_S, false}, {Qt::Key_Space, false}}, 0}),
    caseName<KeyCase>);

TEST_F(GraphViewTest, KeyClickRequestsReset) {
    open(namedChannels(1));
    QSignalSpy resets(view.get(), &GraphView::sigResetRequested);
    QTest::keyClick(view.get(), Qt::Key_R);
    frame();
    frame();
    EXPECT_EQ(resets.count(), 1);
}

// ---- Colour properties --------------------------------------------------------------------

struct ColorProperty {
    const char* name;
    const char* signal;
    QColor (GraphView::*read)() const;
};

const ColorProperty COLOR_PROPERTIES[] = {
    {"graphlinecolor", "graphLineColorChanged", &GraphView::graphLineColor},
    {"graphinputlinecolor", "graphInputLineColorChanged", &GraphView::graphInputLineColor},
    {"graphframecolor", "graphFrameColorChanged", &GraphView::graphFrameColor},
    {"graphbgcolor", "graphBackgroundColorChanged", &GraphView::graphBackgroundColor},
    {"graphsweeplinecolor", "graphSweepLineColorChanged", &GraphView::graphSweepLineColor},
    {"graphgridcolor", "graphGridColorChanged", &GraphView::graphGridColor},
};

TEST(GraphViewColorTest, ColoursArePropertiesWithChangeSignals) {
    Unshown u;
    const QMetaObject* meta = u.view.metaObject();
    for (const ColorProperty& c : COLOR_PROPERTIES) {
        SCOPED_TRACE(c.name);
        const int index = meta->indexOfProperty(c.name);
        ASSERT_GE(index, 0);
        const QMetaProperty property = meta->property(index);
        EXPECT_EQ(property.metaType(), QMetaType::fromType<QColor>());
        EXPECT_TRUE(property.isReadable());
        EXPECT_TRUE(property.isWritable());
        ASSERT_TRUE(property.hasNotifySignal());
        EXPECT_EQ(property.notifySignal().name(), c.signal);
        EXPECT_EQ(property.notifySignal().parameterNames(), QList<QByteArray>({"c"}));

        // Invalid, reading as black, until a style sheet sets it.
        EXPECT_FALSE((u.view.*c.read)().isValid());
        QSignalSpy changes(&u.view, property.notifySignal());
        EXPECT_TRUE(u.view.setProperty(c.name, QColor(1, 2, 3)));
        EXPECT_TRUE(u.view.setProperty(c.name, QColor(1, 2, 3)));  // unchanged: no signal
        ASSERT_EQ(changes.count(), 1);
        EXPECT_EQ(changes[0][0].value<QColor>(), QColor(1, 2, 3));
        EXPECT_EQ((u.view.*c.read)(), QColor(1, 2, 3));
    }
    // The first two signals precede the colours.
    EXPECT_LT(meta->indexOfSignal("sigResetRequested()"),
              meta->indexOfSignal("graphLineColorChanged(QColor)"));
}

QString resourceSheet() {
    QFile file(":/stylesheets/testsheet.qss");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QString::fromLatin1(file.readAll());
}

struct SheetCase {
    const char* name;
    bool onParent;
    bool fromResource;
    std::array<QColor, 6> colors;  // in the order of COLOR_PROPERTIES
};

class GraphViewStyleSheetTest : public GraphViewTest,
                                public testing::WithParamInterface<SheetCase> {};

TEST_P(GraphViewStyleSheetTest, StyleSheetSetsTheColours) {
    const SheetCase& c = GetParam();
    QString sheet;
    if (c.fromResource) {
        sheet = resourceSheet();
    } else {
        sheet = "GraphView {";
        for (std::size_t i = 0; i < 6; ++i) {
            sheet += QString(" qproperty-%1: %2;")
                         .arg(COLOR_PROPERTIES[i].name, c.colors[i].name(QColor::HexRgb));
        }
        sheet += " }";
    }
    source = std::make_shared<TestDataSource>(namedChannels(2));
    QWidget parent;
    view = std::make_unique<GraphView>(GraphViewConfig{}, source);
    QSignalSpy backgrounds(view.get(), &GraphView::graphBackgroundColorChanged);
    if (c.onParent) {
        view->setParent(&parent);
        parent.setStyleSheet(sheet);
        view->resize(700, 450);
        showAndSettle(parent, {700, 450});
    } else {
        view->setStyleSheet(sheet);
        showAndSettle(*view, {700, 450});
    }
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ((view.get()->*COLOR_PROPERTIES[i].read)(), c.colors[i])
            << COLOR_PROPERTIES[i].name;
    }
    EXPECT_EQ(backgrounds.count(), 1);
    const Picture p = frame();
    ASSERT_FALSE(p.image.isNull());
    const int between = p.column(view->GetLeftEdge() + 0.08f);
    EXPECT_TRUE(p.is(between, p.row(0.95f - 1.5f * view->GetTickSpacing()), c.colors[3]));
    EXPECT_TRUE(p.near(between, p.row(0.95f), c.colors[5]));
    view.reset();  // before its parent
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, GraphViewStyleSheetTest,
    testing::Values(SheetCase{"OnTheView",
                              false,
                              false,
                              {QColor("#10e010"), QColor("#2040f0"), QColor("#f01010"),
                               QColor("#203040"), QColor("#e0e010"), QColor("#808080")}},
                    SheetCase{"ApplicationSheetOnParent",
                              true,
                              true,
                              {QColor("#27637A"), QColor("#d36737"), QColor("#051C26"),
                               QColor("#F5F6F6"), QColor("#69777D"), QColor("#E2E2E2")}}),
    caseName<SheetCase>);

}  // namespace
