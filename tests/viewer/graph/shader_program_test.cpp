#include "shader_program.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <algorithm>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "opengl_exception.h"

namespace {

const QString kGraphVert = QStringLiteral(":/shaders/graph.vert");
const QString kGraphLineVert = QStringLiteral(":/shaders/graph_line.vert");
const QString kGraphFrag = QStringLiteral(":/shaders/graph.frag");

// A 3.3 core context made current on an offscreen surface, as the views have in their
// OpenGL initialisation.
class ShaderProgramTest : public testing::Test {
protected:
    void SetUp() override {
        const QSurfaceFormat format = QSurfaceFormat::defaultFormat();
        _surface.setFormat(format);
        _surface.create();
        ASSERT_TRUE(_surface.isValid()) << "no offscreen surface: run under Xvfb with xcb";
        _context.setFormat(format);
        ASSERT_TRUE(_context.create()) << "no OpenGL context: run under Xvfb with xcb";
        ASSERT_TRUE(_context.makeCurrent(&_surface));
        const QSurfaceFormat actual = _context.format();
        ASSERT_GE(actual.majorVersion() * 10 + actual.minorVersion(), 33);
        ASSERT_EQ(actual.profile(), QSurfaceFormat::CoreProfile);
        _gl = _context.extraFunctions();
        ASSERT_NE(_gl, nullptr);
    }

    void TearDown() override {
        if (_context.makeCurrent(&_surface)) {
            for (ShaderProgram& program : _created) {
                program.destroy();
            }
            _context.doneCurrent();
        }
    }

    // Programs handed back here are destroyed with the context current, whatever the test did.
    ShaderProgram& keep(const ShaderProgram& program) { return _created.emplace_back(program); }

    GLint currentProgram() {
        GLint id = -1;
        _gl->glGetIntegerv(GL_CURRENT_PROGRAM, &id);
        return id;
    }

    // Clears a small framebuffer to black, runs draw with the program bound and reads it back
    // (top row first).
    QImage render(ShaderProgram& program, const std::function<void()>& draw) {
        QOpenGLFramebufferObject target(kSize, kSize);
        EXPECT_TRUE(target.bind());
        _gl->glViewport(0, 0, kSize, kSize);
        _gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        _gl->glClear(GL_COLOR_BUFFER_BIT);
        QOpenGLVertexArrayObject vao;  // a core profile draws nothing without one
        EXPECT_TRUE(vao.create());
        vao.bind();
        program.bind();
        draw();
        EXPECT_EQ(_gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        program.shaderProgram()->release();
        vao.release();
        QImage image = target.toImage();
        target.release();
        return image;
    }

    // A float buffer fed to one attribute location of the bound program and vertex array.
    void attribute(QOpenGLBuffer& buffer, GLuint location, const std::vector<float>& values,
                   int components) {
        ASSERT_TRUE(buffer.create());
        buffer.bind();
        buffer.allocate(values.data(), static_cast<int>(values.size() * sizeof(float)));
        _gl->glEnableVertexAttribArray(location);
        _gl->glVertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, 0, nullptr);
        buffer.release();
    }

    static constexpr int kSize = 64;
    QOffscreenSurface _surface;
    QOpenGLContext _context;
    QOpenGLExtraFunctions* _gl = nullptr;
    std::deque<ShaderProgram> _created;
};

bool near(QRgb pixel, QRgb expected) {
    const auto close = [](int a, int b) { return a - b <= 1 && b - a <= 1; };
    return close(qRed(pixel), qRed(expected)) && close(qGreen(pixel), qGreen(expected)) &&
           close(qBlue(pixel), qBlue(expected));
}

TEST(ShaderProgramValueTest, ConstructorOnlyDescribes) {
    const ShaderProgram program(kGraphLineVert, kGraphFrag);
    EXPECT_EQ(program.vertexShaderPath, kGraphLineVert);
    EXPECT_EQ(program.fragmentShaderPath, kGraphFrag);
    EXPECT_TRUE(program.uniforms.isEmpty());
    EXPECT_TRUE(program.uniformLocations.isEmpty());
    EXPECT_EQ(program.program, nullptr);
    EXPECT_EQ(program.shaderProgram(), nullptr);
}

struct CreateCase {
    const char* name;
    QString vertex;
    QString fragment;
    QStringList uniforms;
    std::vector<bool> active;  // per uniform: whether the linked program uses it
};

TEST_F(ShaderProgramTest, CreatesTheGraphProgramsWithLocationsInUniformOrder) {
    const std::vector<CreateCase> cases = {
        {"plain", kGraphVert, kGraphFrag, {"color"}, {true}},
        {"line, owner's order with a name the program lacks",
         kGraphLineVert,
         kGraphFrag,
         {"offset", "absent", "color", "scaling"},
         {true, false, true, true}},
        {"no uniforms", kGraphLineVert, kGraphFrag, {}, {}},
        {"only names the program lacks",
         kGraphVert,
         kGraphFrag,
         {"scaling", "nope"},
         {false, false}},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.name);
        ShaderProgram& program = keep(ShaderProgram(c.vertex, c.fragment));
        program.uniforms = c.uniforms;
        program.uniformLocations = {7, 8, 9, 10, 11};  // stale values must not survive
        ASSERT_NO_THROW(program.create());
        ASSERT_NE(program.shaderProgram(), nullptr);
        EXPECT_TRUE(program.shaderProgram()->isLinked());
        ASSERT_EQ(program.uniformLocations.size(), c.uniforms.size());

        const GLuint id = program.shaderProgram()->programId();
        std::vector<int> seen;
        for (qsizetype i = 0; i < c.uniforms.size(); ++i) {
            SCOPED_TRACE(c.uniforms[i].toStdString());
            const int location = program.uniformLocations[i];
            EXPECT_EQ(location, _gl->glGetUniformLocation(id, c.uniforms[i].toUtf8().constData()));
            if (c.active[static_cast<std::size_t>(i)]) {
                EXPECT_GE(location, 0);
                EXPECT_EQ(std::count(seen.begin(), seen.end(), location), 0);
                seen.push_back(location);
            } else {
                EXPECT_EQ(location, -1);
            }
        }
    }
}

TEST_F(ShaderProgramTest, GraphShadersPlaceVerticesAsTheViewsExpect) {
    const QRgb colour = qRgb(255, 128, 64);
    const float rgba[4] = {1.0f, 128.0f / 255.0f, 64.0f / 255.0f, 1.0f};

    // graph.vert drops z: a triangle far outside the depth range still fills the target.
    {
        SCOPED_TRACE("graph.vert");
        ShaderProgram& program = keep(ShaderProgram(kGraphVert, kGraphFrag));
        program.uniforms = {"color"};
        ASSERT_NO_THROW(program.create());
        QOpenGLBuffer positions(QOpenGLBuffer::VertexBuffer);
        const QImage image = render(program, [&] {
            attribute(positions, 0, {-1.0f, -1.0f, 5.0f, 3.0f, -1.0f, 5.0f, -1.0f, 3.0f, 5.0f}, 3);
            _gl->glUniform4fv(program.uniformLocations[0], 1, rgba);
            _gl->glDrawArrays(GL_TRIANGLES, 0, 3);
        });
        for (const auto& [x, y] : {std::pair{0, 0}, {kSize - 1, kSize - 1}, {kSize / 2, 3}}) {
            EXPECT_TRUE(near(image.pixel(x, y), colour)) << x << "," << y;
        }
    }

    // graph_line.vert: y = pos_y * scaling.y + offset.y; the x and z parts of both are unused.
    {
        SCOPED_TRACE("graph_line.vert");
        ShaderProgram& program = keep(ShaderProgram(kGraphLineVert, kGraphFrag));
        program.uniforms = {"color", "scaling", "offset"};
        ASSERT_NO_THROW(program.create());
        QOpenGLBuffer xs(QOpenGLBuffer::VertexBuffer);
        QOpenGLBuffer ys(QOpenGLBuffer::VertexBuffer);
        const QImage image = render(program, [&] {
            attribute(xs, 0, {-1.0f, 1.0f}, 1);
            attribute(ys, 1, {0.53125f, 0.53125f}, 1);
            _gl->glUniform4fv(program.uniformLocations[0], 1, rgba);
            _gl->glUniform3f(program.uniformLocations[1], 100.0f, 0.5f, -7.0f);
            _gl->glUniform3f(program.uniformLocations[2], 50.0f, -0.5f, 9.0f);
            _gl->glDrawArrays(GL_LINES, 0, 2);
        });
        // y = -0.234375 lies on the centre of framebuffer row 24 from the bottom.
        const int expectedRow = kSize - 1 - 24;
        for (int x : {2, kSize / 2, kSize - 3}) {
            SCOPED_TRACE(x);
            std::vector<int> lit;
            for (int y = 0; y < kSize; ++y) {
                if (qRed(image.pixel(x, y)) > 0) {
                    lit.push_back(y);
                }
            }
            EXPECT_EQ(lit, std::vector<int>{expectedRow});
            EXPECT_TRUE(near(image.pixel(x, expectedRow), colour));
        }
    }
}

TEST_F(ShaderProgramTest, CopiesShareOneProgramObject) {
    ShaderProgram description(kGraphLineVert, kGraphFrag);
    description.uniforms = {"scaling", "offset", "color"};
    // Owners copy into their list and create the element; the original stays a description.
    ShaderProgram& program = keep(description);
    ASSERT_NO_THROW(program.create());
    EXPECT_EQ(description.shaderProgram(), nullptr);

    const ShaderProgram copy = program;
    ShaderProgram temporary = program;
    const ShaderProgram moved = std::move(temporary);
    for (const ShaderProgram* other : {&copy, &moved}) {
        EXPECT_EQ(other->shaderProgram(), program.shaderProgram());
        EXPECT_EQ(other->uniformLocations, program.uniformLocations);
        EXPECT_EQ(other->uniforms, program.uniforms);
    }

    const auto id = static_cast<GLint>(program.shaderProgram()->programId());
    ASSERT_NE(id, 0);
    _gl->glUseProgram(0);
    ShaderProgram(moved).bind();
    EXPECT_EQ(currentProgram(), id);
    _gl->glUseProgram(0);
    program.bind();
    EXPECT_EQ(currentProgram(), id);
}

TEST_F(ShaderProgramTest, DestroyDeletesTheProgramObject) {
    ShaderProgram program(kGraphVert, kGraphFrag);
    program.destroy();  // nothing created yet: nothing to delete
    EXPECT_EQ(program.shaderProgram(), nullptr);
    program.bind();  // and nothing to bind
    EXPECT_EQ(currentProgram(), 0);

    ASSERT_NO_THROW(program.create());
    const QPointer<QOpenGLShaderProgram> object = program.shaderProgram();
    ASSERT_FALSE(object.isNull());
    program.destroy();
    EXPECT_EQ(program.shaderProgram(), nullptr);
    EXPECT_TRUE(object.isNull());
    program.destroy();
    EXPECT_EQ(program.shaderProgram(), nullptr);
}

struct FailureCase {
    const char* name;
    QString vertexFile;    // a file name in the temporary folder, or a resource path
    QByteArray vertex;     // written to vertexFile unless empty
    QString fragmentFile;  // likewise
    QByteArray fragment;
    QString firstLine;  // %v and %f stand for the two full paths
    bool logExpected;   // a missing file compiles nothing, so there is no log
};

TEST_F(ShaderProgramTest, FailuresThrowWithTheCompilerOrLinkerLog) {
    const QByteArray syntaxError =
        "#version 330 core\nvoid main()\n{\n    gl_Position = vec4(1.0)\n}\n";
    // Mesa links a fragment input that no vertex output feeds, but not a type mismatch.
    const QByteArray vec3Out =
        "#version 330 core\nlayout(location = 0) in vec3 pos;\nout vec3 tint;\n"
        "void main()\n{\n    tint = pos;\n    gl_Position = vec4(pos, 1.0);\n}\n";
    const QByteArray vec4In =
        "#version 330 core\nin vec4 tint;\nout vec4 frag_color;\n"
        "void main()\n{\n    frag_color = tint;\n}\n";
    const QByteArray noMain = "#version 330 core\nout vec4 frag_color;\n";
    const QString vertexFailed = "[0] create : Error compiling vertex shader %v:";
    const QString fragmentFailed = "[0] create : Error compiling fragment shader %f:";
    const QString linkFailed = "[0] create : Shader linker error:";
    const std::vector<FailureCase> cases = {
        {"vertex syntax error, '%' in the path", "bad%2.vert", syntaxError, kGraphFrag, "",
         vertexFailed, true},
        {"vertex file missing", "missing.vert", "", kGraphFrag, "", vertexFailed, false},
        {"fragment syntax error", kGraphVert, "", "bad.frag", syntaxError, fragmentFailed, true},
        {"vertex output and fragment input of different types", "tint.vert", vec3Out, "tint.frag",
         vec4In, linkFailed, true},
        {"fragment shader without main", kGraphVert, "", "nomain.frag", noMain, linkFailed, true},
    };

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto place = [&](const QString& name, const QByteArray& source) {
        if (name.startsWith(QLatin1Char(':'))) {
            return name;
        }
        const QString path = dir.filePath(name);
        if (!source.isEmpty()) {
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(source);
        }
        return path;
    };

    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString vertexPath = place(c.vertexFile, c.vertex);
        const QString fragmentPath = place(c.fragmentFile, c.fragment);
        ShaderProgram& program = keep(ShaderProgram(vertexPath, fragmentPath));
        program.uniforms = {"color"};

        std::ostringstream out;
        try {
            program.create();
            ADD_FAILURE() << "no exception";
            continue;
        } catch (const OpenGLException& e) {
            ASSERT_EQ(e.msgStack.size(), 1);
            EXPECT_EQ(e.msgStack[0].second, QStringLiteral("create"));
            e.writeMsgStackToStream(out);
        }
        // The failed program is kept, unlinked, for destroy() to delete.
        ASSERT_NE(program.shaderProgram(), nullptr);
        EXPECT_FALSE(program.shaderProgram()->isLinked());

        const std::string expectedFirst = QString(c.firstLine)
                                              .replace(QLatin1String("%v"), vertexPath)
                                              .replace(QLatin1String("%f"), fragmentPath)
                                              .toStdString();
        const std::string text = out.str();
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        std::istringstream lines(text);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line, expectedFirst);
        int logLines = 0;
        while (std::getline(lines, line)) {
            EXPECT_EQ(line.rfind("[0] create : ", 0), 0u) << line;
            logLines += line.size() > std::string("[0] create : ").size() ? 1 : 0;
        }
        if (c.logExpected) {
            EXPECT_GT(logLines, 0) << text;
        }
    }
}

// Records how much had been written at every flush.
class FlushRecorder : public std::stringbuf {
public:
    std::vector<std::size_t> flushedAt;

protected:
    int sync() override {
        flushedAt.push_back(str().size());
        return std::stringbuf::sync();
    }
};

struct StackCase {
    const char* name;
    std::function<OpenGLException()> make;
    std::string expected;
};

TEST(OpenGLExceptionTest, WritesEveryLineOfEveryMessageWithItsPrefix) {
    const auto inner = [] { return OpenGLException("inner", "create"); };
    const std::vector<StackCase> cases = {
        {"location", [] { return OpenGLException("x", "create"); }, "[0] create : x\n"},
        {"no location", [] { return OpenGLException("x"); }, "[0] x\n"},
        {"empty location", [] { return OpenGLException("x", ""); }, "[0] x\n"},
        {"nested without location", [&] { return OpenGLException(inner(), "outer"); },
         "[0] create : inner\n[1] outer\n"},
        {"nested with location", [&] { return OpenGLException(inner(), "outer", "load"); },
         "[0] create : inner\n[1] load : outer\n"},
        {"three deep",
         [&] { return OpenGLException(OpenGLException(inner(), "middle"), "top", "init"); },
         "[0] create : inner\n[1] middle\n[2] init : top\n"},
        {"blank line kept", [] { return OpenGLException("a\n\nb", "create"); },
         "[0] create : a\n[0] create : \n[0] create : b\n"},
        {"blank line kept, no location", [] { return OpenGLException("a\n\nb"); },
         "[0] a\n[0] \n[0] b\n"},
        {"trailing line feed", [] { return OpenGLException("log\n", "create"); },
         "[0] create : log\n[0] create : \n"},
        {"empty message", [] { return OpenGLException(""); }, "[0] \n"},
        {"UTF-8",
         [] { return OpenGLException(QString::fromUtf8("5 \u00b5T \u2264 x"), "f\u00fcr"); },
         "[0] f\xc3\xbcr : 5 \xc2\xb5T \xe2\x89\xa4 x\n"},
    };
    for (const StackCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        c.make().writeMsgStackToStream(out);
        EXPECT_EQ(out.str(), c.expected);
    }
}

TEST(OpenGLExceptionTest, NestingCopiesTheInnerStack) {
    const OpenGLException inner("first", "create");
    const OpenGLException outer(inner, "second");
    ASSERT_EQ(inner.msgStack.size(), 1);
    ASSERT_EQ(outer.msgStack.size(), 2);
    EXPECT_EQ(outer.msgStack[0], qMakePair(QString("first"), QString("create")));
    EXPECT_EQ(outer.msgStack[1], qMakePair(QString("second"), QString()));

    // Thrown and caught through the standard base, as a caller wrapping it would.
    try {
        throw OpenGLException(outer, "third", "paint");
    } catch (const std::exception& e) {
        const auto* caught = dynamic_cast<const OpenGLException*>(&e);
        ASSERT_NE(caught, nullptr);
        ASSERT_EQ(caught->msgStack.size(), 3);
        EXPECT_EQ(caught->msgStack[2], qMakePair(QString("third"), QString("paint")));
    }
}

TEST(OpenGLExceptionTest, FlushesAfterEachMessage) {
    const OpenGLException e(OpenGLException("a\nb", "create"), "c");
    FlushRecorder buffer;
    std::ostream out(&buffer);
    e.writeMsgStackToStream(out);
    const std::string first = "[0] create : a\n[0] create : b\n";
    EXPECT_EQ(buffer.str(), first + "[1] c\n");
    EXPECT_EQ(buffer.flushedAt, (std::vector<std::size_t>{first.size(), first.size() + 6}));
}

}  // namespace
