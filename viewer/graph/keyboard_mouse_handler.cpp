#include "keyboard_mouse_handler.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>

namespace {

template <typename Keys>
auto findKey(Keys& keys, Qt::Key key) {
    return std::find(keys.begin(), keys.end(), key);
}

}  // namespace

void KeyboardMouseHandler::addRecognizedKey(Qt::Key key) {
    if (findKey(_keys, key) == _keys.end()) {
        _keys.push_back(key);
        _keyStates.push_back(KeyUp);
    }
}

void KeyboardMouseHandler::clearRecognizedKeys() {
    _keys.clear();
    _keyStates.clear();
}

// A held key repeats presses and releases; only the first press and the final release count.
void KeyboardMouseHandler::keyPressEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        event->ignore();
        return;
    }
    pressKey(static_cast<Qt::Key>(event->key()));
}

void KeyboardMouseHandler::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        event->ignore();
        return;
    }
    releaseKey(static_cast<Qt::Key>(event->key()));
}

bool KeyboardMouseHandler::pressKey(Qt::Key key) {
    const auto it = findKey(_keys, key);
    if (it == _keys.end()) {
        return false;
    }
    _keyStates[static_cast<std::size_t>(it - _keys.begin())] = KeyDown;
    return true;
}

bool KeyboardMouseHandler::releaseKey(Qt::Key key) {
    const auto it = findKey(_keys, key);
    if (it == _keys.end()) {
        return false;
    }
    _keyStates[static_cast<std::size_t>(it - _keys.begin())] = KeyWasPressed;
    return true;
}

bool KeyboardMouseHandler::keyDown(Qt::Key key) const {
    const auto it = findKey(_keys, key);
    return it != _keys.end() && _keyStates[static_cast<std::size_t>(it - _keys.begin())] == KeyDown;
}

bool KeyboardMouseHandler::keyWasPressed(Qt::Key key) const {
    const auto it = findKey(_keys, key);
    return it != _keys.end() &&
           _keyStates[static_cast<std::size_t>(it - _keys.begin())] == KeyWasPressed;
}

void KeyboardMouseHandler::clearWasPressedKeyStates() {
    const auto clear = [](KeyStates& state) {
        if (state == KeyWasPressed) {
            state = KeyUp;
        }
    };
    std::for_each(_keyStates.begin(), _keyStates.end(), clear);
    clear(_leftButton);
    clear(_middleButton);
    clear(_rightButton);
}

void KeyboardMouseHandler::mousePressEvent(QMouseEvent* event) {
    pressButton(event->button(), event->globalPosition());
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        _controlDrag = true;
    }
}

// Any release ends a control drag, whichever button started it.
void KeyboardMouseHandler::mouseReleaseEvent(QMouseEvent* event) {
    releaseButton(event->button(), event->globalPosition());
    _controlDrag = false;
}

bool KeyboardMouseHandler::pressButton(Qt::MouseButton button, QPointF position) {
    KeyStates* state = buttonState(button);
    if (state == nullptr) {
        return false;
    }
    *state = KeyDown;
    _mouseDownPos = position;
    return true;
}

bool KeyboardMouseHandler::releaseButton(Qt::MouseButton button, QPointF position) {
    KeyStates* state = buttonState(button);
    if (state == nullptr) {
        return false;
    }
    *state = KeyWasPressed;
    _mouseUpPos = position;
    return true;
}

bool KeyboardMouseHandler::buttonDown(Qt::MouseButton button) const {
    const KeyStates* state = buttonState(button);
    return state != nullptr && *state == KeyDown;
}

bool KeyboardMouseHandler::buttonReleased(Qt::MouseButton button) const {
    const KeyStates* state = buttonState(button);
    return state != nullptr && *state == KeyWasPressed;
}

QPointF KeyboardMouseHandler::resetMouseDelta(QPointF position) {
    const QPointF delta = position - _mouseDownPos;
    _mouseDownPos = position;
    return delta;
}

// Touchpads report pixels; a standard wheel reports eighths of a degree, 15 degrees a notch.
void KeyboardMouseHandler::wheelEvent(QWheelEvent* event) {
    const QPoint pixels = event->pixelDelta();
    const QPoint degrees = event->angleDelta() / 8;
    if (!pixels.isNull()) {
        _wheelDelta += pixels.y();
    } else if (!degrees.isNull()) {
        _wheelDelta += (degrees / 15).y();
    }
    event->accept();
}

int KeyboardMouseHandler::resetWheelDelta() {
    const int delta = _wheelDelta;
    _wheelDelta = 0;
    return delta;
}

KeyboardMouseHandler::KeyStates* KeyboardMouseHandler::buttonState(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return &_leftButton;
        case Qt::MiddleButton:
            return &_middleButton;
        case Qt::RightButton:
            return &_rightButton;
        default:
            return nullptr;
    }
}

const KeyboardMouseHandler::KeyStates* KeyboardMouseHandler::buttonState(
    Qt::MouseButton button) const {
    return const_cast<KeyboardMouseHandler*>(this)->buttonState(button);
}
