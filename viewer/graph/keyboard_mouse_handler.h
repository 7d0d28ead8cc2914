#pragma once

#include <QPointF>
#include <Qt>
#include <vector>

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

// Key, mouse-button and wheel state of an OpenGL widget, fed with the widget's events and
// polled when it draws.
class KeyboardMouseHandler {
public:
    enum KeyStates {
        KeyUp = 0,          // not pressed
        KeyDown = 1,        // held
        KeyWasPressed = 2,  // released since the last clearing
    };

    virtual ~KeyboardMouseHandler() = default;

    void addRecognizedKey(Qt::Key key);
    void clearRecognizedKeys();
    void keyPressEvent(QKeyEvent* event);
    void keyReleaseEvent(QKeyEvent* event);
    bool pressKey(Qt::Key key);
    bool releaseKey(Qt::Key key);
    bool keyDown(Qt::Key key) const;
    // True when a recognised key was released since the last clearing.
    bool keyWasPressed(Qt::Key key) const;
    void clearWasPressedKeyStates();

    void mousePressEvent(QMouseEvent* event);
    void mouseReleaseEvent(QMouseEvent* event);
    bool pressButton(Qt::MouseButton button, QPointF position);
    bool releaseButton(Qt::MouseButton button, QPointF position);
    bool buttonDown(Qt::MouseButton button) const;
    bool buttonReleased(Qt::MouseButton button) const;
    QPointF mouseDownPos() const { return _mouseDownPos; }
    QPointF resetMouseDelta(QPointF position);

    void wheelEvent(QWheelEvent* event);
    int wheelDelta() const { return _wheelDelta; }
    int resetWheelDelta();
    bool controlKeyWithMouseHeld() const { return _controlDrag; }

private:
    KeyStates* buttonState(Qt::MouseButton button);
    const KeyStates* buttonState(Qt::MouseButton button) const;

    std::vector<Qt::Key> _keys;
    std::vector<KeyStates> _keyStates;
    KeyStates _leftButton = KeyUp;
    KeyStates _middleButton = KeyUp;
    KeyStates _rightButton = KeyUp;
    QPointF _mouseDownPos{0.0, 0.0};
    QPointF _mouseUpPos{0.0, 0.0};
    int _wheelDelta = 0;
    bool _controlDrag = false;
};
