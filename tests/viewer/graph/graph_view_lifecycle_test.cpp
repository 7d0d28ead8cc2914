// The graph view's OpenGL lifecycle: timer and close, layout before the context exists, the
// objects it makes and deletes, and a failing shader program.
#include <gtest/gtest.h>

#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QStringList>
#include <memory>
#include <ostream>
#include <utility>

#include "graph_view_fixture.h"

namespace {

using namespace test_colors;

TEST_F(GraphViewTest, CloseStopsTheRefreshTimer) {
    source = std::make_shared<TestDataSource>(namedChannels(1));
    view = std::make_unique<GraphView>(GraphViewConfig{}, source);
    QTimer* timer = view->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 16);
    view->show();
    QApplication::setQuitOnLastWindowClosed(false);  // later tests still run event loops
    CapturedOutput out(CapturedOutput::Out);
    view->close();
    EXPECT_EQ(out.take(), "Closing graphView\n");
    EXPECT_FALSE(timer->isActive());
}

// Layout operations before the context exists touch no OpenGL; the first resize lays the view
// out again with what they set.
TEST_F(GraphViewTest, LayoutBeforeTheContextExists) {
    source = std::make_shared<TestDataSource>(namedChannels(3));
    view = std::make_unique<GraphView>(GraphViewConfig{}, source);
    paintWithTestColors(*view);
    view->start();
    EXPECT_EQ(view->GetNumTicks(), 0);
    view->SetDivisions(5.0f);
    view->IncreaseGraphHeight();
    view->SetNumFftAverages(4);
    EXPECT_EQ(view->context(), nullptr);

    showAndSettle(*view, {700, 450});
    EXPECT_EQ(view->GetNumTicks(), 17);
    EXPECT_EQ(view->GetNumGraphsOnScreen(), 3);
    EXPECT_EQ(view->GetNumPoints(), 5000);
    const Picture p = frame();
    ASSERT_FALSE(p.image.isNull());
    const int row = p.row(0.95f - 1.5f * view->GetTickSpacing());
    for (int i = 1; i <= 5; ++i) {
        const float x =
            view->GetLeftEdge() + static_cast<float>(i) * (0.95f - view->GetLeftEdge()) / 5;
        EXPECT_TRUE(p.near(p.column(x), row, GRID)) << i;
    }
}

// Live buffer, program and shader names of a share group, counted from another context of it.
struct NameCount {
    int buffers = 0;
    int programs = 0;
    int shaders = 0;
    bool operator==(const NameCount&) const = default;
};

NameCount countNames(QOpenGLWidget& probe) {
    probe.makeCurrent();
    QOpenGLFunctions* gl = probe.context()->functions();
    NameCount n;
    for (GLuint name = 1; name < 4000; ++name) {
        n.buffers += gl->glIsBuffer(name) ? 1 : 0;
        n.programs += gl->glIsProgram(name) ? 1 : 0;
        n.shaders += gl->glIsShader(name) ? 1 : 0;
    }
    probe.doneCurrent();
    return n;
}

std::ostream& operator<<(std::ostream& out, const NameCount& n) {
    return out << n.buffers << " buffers, " << n.programs << " programs, " << n.shaders
               << " shaders";
}

// Collects warnings and errors of Qt and the view while it lives.
class WarningCollector {
public:
    WarningCollector() : previous(qInstallMessageHandler(collect)) { active = &messages; }
    ~WarningCollector() {
        qInstallMessageHandler(previous);
        active = nullptr;
    }
    QStringList messages;

private:
    static void collect(QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg && active != nullptr) {
            active->append(message);
        }
    }
    static inline QStringList* active = nullptr;
    QtMessageHandler previous;
};

// The view's own objects only: Qt's text drawing keeps a glyph-cache texture and buffer per
// context in the window's share group until the group goes, whoever draws the text.
class TracesOnlyView : public GraphView {
public:
    using GraphView::GraphView;

protected:
    void paintGL() override { renderGraph(); }
};

// A window with a small OpenGL widget whose context shares with every view placed in it, so
// that it sees whatever a view leaves behind.
struct ProbeWindow {
    ProbeWindow() : probe(new QOpenGLWidget(&window)) {
        probe->setGeometry(0, 0, 16, 16);
        window.resize(420, 300);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        probe->grabFramebuffer();
        EXPECT_NE(probe->context(), nullptr);
    }
    // Shows the view in the window and draws 310 samples.
    void place(GraphView& view, TestDataSource& source) {
        paintWithTestColors(view);
        view.setParent(&window);
        view.setGeometry(20, 20, 400, 260);
        view.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.context() != nullptr; }));
        view.start();
        source.push(10);
        grabFrame(view);
        source.push(300);
        const Picture p = grabFrame(view);
        EXPECT_GT(p.count(p.image.rect(), TRACE), 0);
        EXPECT_TRUE(QOpenGLContext::areSharing(view.context(), probe->context()));
    }

    QWidget window;
    QOpenGLWidget* probe;
};

TEST(GraphViewLifecycleTest, RepeatedViewsLeaveNoOpenGLObjectsBehind) {
    auto source = std::make_shared<TestDataSource>(namedChannels(4));
    ProbeWindow host;
    const NameCount before = countNames(*host.probe);
    const WarningCollector warnings;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        auto* view = new TracesOnlyView(GraphViewConfig{}, source);
        host.place(*view, *source);
        const NameCount with = countNames(*host.probe);
        EXPECT_EQ(with.buffers, before.buffers + 5);
        EXPECT_EQ(with.programs, before.programs + 3);
        delete view;
        EXPECT_EQ(countNames(*host.probe), before);
    }
    EXPECT_TRUE(warnings.messages.isEmpty()) << warnings.messages.join('\n').toStdString();
}

// Moving a view to another window replaces its context: the objects go with the old one and
// are made again, with the layout, in the new one.
TEST(GraphViewLifecycleTest, ViewMovedToAnotherWindowDrawsOnAndLeavesNothingBehind) {
    auto source = std::make_shared<TestDataSource>(namedChannels(2));
    ProbeWindow first;
    ProbeWindow second;
    const NameCount before = countNames(*first.probe);
    const WarningCollector warnings;
    TracesOnlyView view(GraphViewConfig{}, source);
    first.place(view, *source);
    view.SetDivisions(2.0f);
    second.place(view, *source);
    EXPECT_EQ(countNames(*first.probe), before);
    EXPECT_EQ(view.GetNumPoints(), 2000);
    view.setParent(nullptr);  // before the windows go
    EXPECT_TRUE(warnings.messages.isEmpty()) << warnings.messages.join('\n').toStdString();
}

// Real views, with their labels, opened and closed as top-level windows again and again.
TEST(GraphViewLifecycleTest, RepeatedWindowsDrawWithoutErrors) {
    auto source = std::make_shared<TestDataSource>(namedChannels(4));
    const WarningCollector warnings;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        GraphView view(GraphViewConfig{}, source);
        paintWithTestColors(view);
        view.start();
        showAndSettle(view, {400, 260});
        source->push(10);
        grabFrame(view);
        source->push(300);
        const Picture p = grabFrame(view);
        EXPECT_GT(p.count(p.image.rect(), TRACE), 0);
    }
    EXPECT_TRUE(warnings.messages.isEmpty()) << warnings.messages.join('\n').toStdString();
}

// A program that does not compile leaves initializeGL: its messages go to standard error and
// the program ends, rather than showing a black window.
class BrokenShaderView : public GraphView {
public:
    explicit BrokenShaderView(std::shared_ptr<DataSource> source)
        : GraphView(GraphViewConfig{}, std::move(source)) {
        programs[1].vertexShaderPath = ":/shaders/missing.vert";
    }
};

void showBrokenView() {
    BrokenShaderView view(std::make_shared<TestDataSource>(namedChannels(1)));
    view.resize(300, 200);
    view.show();
    if (QTest::qWaitForWindowExposed(&view)) {
        view.grabFramebuffer();
    }
}

TEST(GraphViewDeathTest, ShaderFailureIsReportedAndEndsTheProgram) {
    // A fresh process of this runner, not a fork of one that talks to the X server.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(showBrokenView(), testing::ExitedWithCode(1),
                "\\[0\\] create : Error compiling vertex shader :/shaders/missing.vert:");
}

}  // namespace
