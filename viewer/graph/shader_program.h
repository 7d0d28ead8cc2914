#pragma once

#include <QList>
#include <QString>

class QOpenGLShaderProgram;

// A GLSL program described by its two shader sources and the uniform names its owner sets,
// compiled and linked once the owner's OpenGL context exists. A small value type: copies share
// one program object, which only destroy() deletes.
class ShaderProgram {
public:
    ShaderProgram(const QString& vertexShader, const QString& fragmentShader);

    // Compiles and links with the owner's context current; throws OpenGLException on failure.
    void create();
    void destroy();
    void bind();
    QOpenGLShaderProgram* shaderProgram() const { return program; }

    QString vertexShaderPath;
    QString fragmentShaderPath;
    QList<QString> uniforms;      // set by the owner before create
    QList<int> uniformLocations;  // after create: one per uniform, -1 if not active
    QOpenGLShaderProgram* program = nullptr;
};
