#include "shader_program.h"

#include <QOpenGLShader>
#include <QOpenGLShaderProgram>

#include "opengl_exception.h"

ShaderProgram::ShaderProgram(const QString& vertexShader, const QString& fragmentShader)
    : vertexShaderPath(vertexShader), fragmentShaderPath(fragmentShader) {}

void ShaderProgram::create() {
    // No Qt parent: copies of this value share the object, and only destroy() deletes it.
    program = new QOpenGLShaderProgram();

    // Both placeholders are filled in one pass, so a '%' in a path or log is left alone.
    if (!program->addShaderFromSourceFile(QOpenGLShader::Vertex, vertexShaderPath)) {
        throw OpenGLException(QStringLiteral("Error compiling vertex shader %1:\n%2")
                                  .arg(vertexShaderPath, program->log()),
                              QStringLiteral("create"));
    }
    if (!program->addShaderFromSourceFile(QOpenGLShader::Fragment, fragmentShaderPath)) {
        throw OpenGLException(QStringLiteral("Error compiling fragment shader %1:\n%2")
                                  .arg(fragmentShaderPath, program->log()),
                              QStringLiteral("create"));
    }
    if (!program->link()) {
        throw OpenGLException(QStringLiteral("Shader linker error:\n%2").arg(program->log()),
                              QStringLiteral("create"));
    }

    uniformLocations.clear();
    uniformLocations.reserve(uniforms.size());
    for (const QString& name : uniforms) {
        uniformLocations.append(program->uniformLocation(name));
    }
}

void ShaderProgram::destroy() {
    delete program;
    program = nullptr;
}

void ShaderProgram::bind() {
    if (program != nullptr) {
        program->bind();
    }
}
