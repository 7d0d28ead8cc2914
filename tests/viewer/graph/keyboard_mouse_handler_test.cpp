#include "keyboard_mouse_handler.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QWheelEvent>
#include <ostream>
#include <vector>

// Readable points in failure messages.
void PrintTo(const QPointF& point, std::ostream* os) {
    *os << "(" << point.x() << ", " << point.y() << ")";
}

namespace {

QKeyEvent keyEvent(QEvent::Type type, Qt::Key key, bool autoRepeat) {
    return QKeyEvent(type, key, Qt::NoModifier, QString(), autoRepeat);
}

QMouseEvent mouseEvent(QEvent::Type type, Qt::MouseButton button, QPointF global,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                       Qt::MouseButtons held = Qt::NoButton) {
    // The local position is deliberately different: the tracker works in screen coordinates.
    return QMouseEvent(type, QPointF(1.0, 2.0), global, button, held, modifiers);
}

QWheelEvent wheelEvent(QPoint pixelDelta, QPoint angleDelta) {
    return QWheelEvent(QPointF(10.0, 10.0), QPointF(110.0, 110.0), pixelDelta, angleDelta,
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
}

TEST(KeyboardMouseHandlerTest, NewTrackerHoldsNothing) {
    KeyboardMouseHandler handler;
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
        SCOPED_TRACE(static_cast<int>(button));
        EXPECT_FALSE(handler.buttonDown(button));
        EXPECT_FALSE(handler.buttonReleased(button));
    }
    EXPECT_EQ(handler.mouseDownPos(), QPointF(0.0, 0.0));
    EXPECT_EQ(handler.wheelDelta(), 0);
    EXPECT_FALSE(handler.controlKeyWithMouseHeld());
}

TEST(KeyboardMouseHandlerTest, KeysMoveUpDownWasPressedUp) {
    KeyboardMouseHandler handler;
    handler.addRecognizedKey(Qt::Key_R);
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));

    EXPECT_TRUE(handler.pressKey(Qt::Key_R));
    EXPECT_TRUE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));

    EXPECT_TRUE(handler.releaseKey(Qt::Key_R));
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_R));

    handler.clearWasPressedKeyStates();
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));
}

TEST(KeyboardMouseHandlerTest, ClearingKeepsHeldKeysAndEachKeyHasItsOwnState) {
    KeyboardMouseHandler handler;
    handler.addRecognizedKey(Qt::Key_R);
    handler.addRecognizedKey(Qt::Key_Space);
    handler.addRecognizedKey(Qt::Key_A);

    handler.pressKey(Qt::Key_R);
    handler.pressKey(Qt::Key_Space);
    handler.releaseKey(Qt::Key_Space);
    EXPECT_TRUE(handler.keyDown(Qt::Key_R));
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_Space));
    EXPECT_FALSE(handler.keyDown(Qt::Key_A));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_A));

    handler.clearWasPressedKeyStates();
    EXPECT_TRUE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_Space));

    // A release without a press (focus came in with the key held) still counts.
    EXPECT_TRUE(handler.releaseKey(Qt::Key_A));
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_A));
}

TEST(KeyboardMouseHandlerTest, DuplicateKeyKeepsOneEntry) {
    KeyboardMouseHandler handler;
    handler.addRecognizedKey(Qt::Key_R);
    handler.pressKey(Qt::Key_R);
    // A second add must neither reset the held key nor leave a stale twin behind.
    handler.addRecognizedKey(Qt::Key_R);
    EXPECT_TRUE(handler.keyDown(Qt::Key_R));
    handler.releaseKey(Qt::Key_R);
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_R));
}

TEST(KeyboardMouseHandlerTest, UnrecognisedKeysAreRefusedAndChangeNothing) {
    KeyboardMouseHandler handler;
    EXPECT_FALSE(handler.pressKey(Qt::Key_R));
    EXPECT_FALSE(handler.releaseKey(Qt::Key_R));

    handler.addRecognizedKey(Qt::Key_R);
    EXPECT_FALSE(handler.pressKey(Qt::Key_Q));
    EXPECT_FALSE(handler.keyDown(Qt::Key_Q));
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.releaseKey(Qt::Key_Q));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_Q));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));

    handler.pressKey(Qt::Key_R);
    handler.clearRecognizedKeys();
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.pressKey(Qt::Key_R));
}

TEST(KeyboardMouseHandlerTest, AutoRepeatedKeyEventsAreIgnored) {
    KeyboardMouseHandler handler;
    handler.addRecognizedKey(Qt::Key_R);

    QKeyEvent press = keyEvent(QEvent::KeyPress, Qt::Key_R, false);
    press.ignore();
    handler.keyPressEvent(&press);
    EXPECT_TRUE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(press.isAccepted()) << "a recorded event is left to the widget";

    // Holding the key: the platform repeats release and press pairs.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        QKeyEvent repeatRelease = keyEvent(QEvent::KeyRelease, Qt::Key_R, true);
        QKeyEvent repeatPress = keyEvent(QEvent::KeyPress, Qt::Key_R, true);
        repeatRelease.accept();
        repeatPress.accept();
        handler.keyReleaseEvent(&repeatRelease);
        handler.keyPressEvent(&repeatPress);
        EXPECT_FALSE(repeatRelease.isAccepted());
        EXPECT_FALSE(repeatPress.isAccepted());
        EXPECT_TRUE(handler.keyDown(Qt::Key_R));
        EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));
    }

    QKeyEvent release = keyEvent(QEvent::KeyRelease, Qt::Key_R, false);
    handler.keyReleaseEvent(&release);
    EXPECT_TRUE(release.isAccepted());
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_R));

    // A repeat arriving late must not undo the release.
    QKeyEvent late = keyEvent(QEvent::KeyPress, Qt::Key_R, true);
    handler.keyPressEvent(&late);
    EXPECT_TRUE(handler.keyWasPressed(Qt::Key_R));

    handler.clearWasPressedKeyStates();
    EXPECT_FALSE(handler.keyDown(Qt::Key_R));
    EXPECT_FALSE(handler.keyWasPressed(Qt::Key_R));
}

TEST(KeyboardMouseHandlerTest, ButtonsFollowTheKeyStates) {
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
        SCOPED_TRACE(static_cast<int>(button));
        KeyboardMouseHandler handler;
        EXPECT_TRUE(handler.pressButton(button, QPointF(3.0, 4.0)));
        EXPECT_TRUE(handler.buttonDown(button));
        EXPECT_FALSE(handler.buttonReleased(button));
        EXPECT_EQ(handler.mouseDownPos(), QPointF(3.0, 4.0));

        EXPECT_TRUE(handler.releaseButton(button, QPointF(8.0, 9.0)));
        EXPECT_FALSE(handler.buttonDown(button));
        EXPECT_TRUE(handler.buttonReleased(button));
        EXPECT_EQ(handler.mouseDownPos(), QPointF(3.0, 4.0)) << "release keeps the press point";

        // Only this button moved.
        for (Qt::MouseButton other : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
            if (other != button) {
                EXPECT_FALSE(handler.buttonDown(other));
                EXPECT_FALSE(handler.buttonReleased(other));
            }
        }

        handler.clearWasPressedKeyStates();
        EXPECT_FALSE(handler.buttonDown(button));
        EXPECT_FALSE(handler.buttonReleased(button));
    }
}

TEST(KeyboardMouseHandlerTest, ClearingKeepsHeldButtons) {
    KeyboardMouseHandler handler;
    handler.pressButton(Qt::LeftButton, QPointF());
    handler.pressButton(Qt::RightButton, QPointF());
    handler.releaseButton(Qt::RightButton, QPointF());
    handler.clearWasPressedKeyStates();
    EXPECT_TRUE(handler.buttonDown(Qt::LeftButton));
    EXPECT_FALSE(handler.buttonReleased(Qt::RightButton));
}

TEST(KeyboardMouseHandlerTest, OtherButtonsAreNotRecorded) {
    for (Qt::MouseButton button : {Qt::BackButton, Qt::ForwardButton, Qt::NoButton}) {
        SCOPED_TRACE(static_cast<int>(button));
        KeyboardMouseHandler handler;
        EXPECT_FALSE(handler.pressButton(button, QPointF(5.0, 5.0)));
        EXPECT_FALSE(handler.buttonDown(button));
        EXPECT_EQ(handler.mouseDownPos(), QPointF(0.0, 0.0));
        EXPECT_FALSE(handler.releaseButton(button, QPointF(6.0, 6.0)));
        EXPECT_FALSE(handler.buttonReleased(button));
        for (Qt::MouseButton known : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
            EXPECT_FALSE(handler.buttonDown(known));
            EXPECT_FALSE(handler.buttonReleased(known));
        }
    }
}

TEST(KeyboardMouseHandlerTest, MouseEventsUseGlobalPositionsAndTrackControlDrag) {
    KeyboardMouseHandler handler;
    QMouseEvent press =
        mouseEvent(QEvent::MouseButtonPress, Qt::MiddleButton, QPointF(100.0, 200.0));
    handler.mousePressEvent(&press);
    EXPECT_TRUE(handler.buttonDown(Qt::MiddleButton));
    EXPECT_EQ(handler.mouseDownPos(), QPointF(100.0, 200.0));
    EXPECT_FALSE(handler.controlKeyWithMouseHeld());

    QMouseEvent release =
        mouseEvent(QEvent::MouseButtonRelease, Qt::MiddleButton, QPointF(150.0, 250.0));
    handler.mouseReleaseEvent(&release);
    EXPECT_TRUE(handler.buttonReleased(Qt::MiddleButton));
    EXPECT_FALSE(handler.buttonReleased(Qt::LeftButton));
    EXPECT_FALSE(handler.buttonReleased(Qt::RightButton));

    QMouseEvent controlPress = mouseEvent(QEvent::MouseButtonPress, Qt::LeftButton,
                                          QPointF(10.0, 20.0), Qt::ControlModifier);
    handler.mousePressEvent(&controlPress);
    EXPECT_TRUE(handler.controlKeyWithMouseHeld());

    // A second button pressed without Control does not end the drag.
    QMouseEvent rightPress = mouseEvent(QEvent::MouseButtonPress, Qt::RightButton,
                                        QPointF(11.0, 21.0), Qt::NoModifier, Qt::LeftButton);
    handler.mousePressEvent(&rightPress);
    EXPECT_TRUE(handler.controlKeyWithMouseHeld());

    // Releasing either button ends it, although the left one is still held.
    QMouseEvent rightRelease = mouseEvent(QEvent::MouseButtonRelease, Qt::RightButton,
                                          QPointF(12.0, 22.0), Qt::NoModifier, Qt::LeftButton);
    handler.mouseReleaseEvent(&rightRelease);
    EXPECT_FALSE(handler.controlKeyWithMouseHeld());
    EXPECT_TRUE(handler.buttonDown(Qt::LeftButton));
}

TEST(KeyboardMouseHandlerTest, ReleasingAnUnrecordedButtonStillEndsTheControlDrag) {
    KeyboardMouseHandler handler;
    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, Qt::LeftButton, QPointF(1.0, 1.0),
                                   Qt::ControlModifier);
    handler.mousePressEvent(&press);
    QMouseEvent release = mouseEvent(QEvent::MouseButtonRelease, Qt::BackButton, QPointF(2.0, 2.0),
                                     Qt::NoModifier, Qt::LeftButton);
    handler.mouseReleaseEvent(&release);
    EXPECT_FALSE(handler.controlKeyWithMouseHeld());
    EXPECT_TRUE(handler.buttonDown(Qt::LeftButton));
}

TEST(KeyboardMouseHandlerTest, ResetMouseDeltaConsumesTheMovement) {
    KeyboardMouseHandler handler;
    handler.pressButton(Qt::LeftButton, QPointF(10.0, 20.0));
    EXPECT_EQ(handler.resetMouseDelta(QPointF(13.5, 16.0)), QPointF(3.5, -4.0));
    EXPECT_EQ(handler.mouseDownPos(), QPointF(13.5, 16.0));
    EXPECT_EQ(handler.resetMouseDelta(QPointF(13.5, 16.0)), QPointF(0.0, 0.0));
    EXPECT_EQ(handler.resetMouseDelta(QPointF(12.5, 17.0)), QPointF(-1.0, 1.0));
}

struct WheelCase {
    const char* name;
    QPoint pixelDelta;
    QPoint angleDelta;
    int added;
};

TEST(KeyboardMouseHandlerTest, WheelAccounting) {
    const std::vector<WheelCase> cases = {
        {"touchpad pixels", QPoint(0, 7), QPoint(0, 0), 7},
        {"pixels win over angle", QPoint(0, -3), QPoint(0, 120), -3},
        {"horizontal pixels only", QPoint(9, 0), QPoint(0, 120), 0},
        {"one notch", QPoint(0, 0), QPoint(0, 120), 1},
        {"one notch back", QPoint(0, 0), QPoint(0, -120), -1},
        {"three notches", QPoint(0, 0), QPoint(0, 360), 3},
        {"half notch rounds up", QPoint(0, 0), QPoint(0, 60), 1},
        {"small step rounds to nothing", QPoint(0, 0), QPoint(0, 40), 0},
        {"neither", QPoint(0, 0), QPoint(0, 0), 0},
    };
    for (const WheelCase& c : cases) {
        SCOPED_TRACE(c.name);
        KeyboardMouseHandler handler;
        QWheelEvent first = wheelEvent(c.pixelDelta, c.angleDelta);
        first.ignore();
        handler.wheelEvent(&first);
        EXPECT_TRUE(first.isAccepted());
        EXPECT_EQ(handler.wheelDelta(), c.added);

        // Deltas accumulate until consumed.
        QWheelEvent second = wheelEvent(c.pixelDelta, c.angleDelta);
        handler.wheelEvent(&second);
        EXPECT_EQ(handler.wheelDelta(), 2 * c.added);
        EXPECT_EQ(handler.resetWheelDelta(), 2 * c.added);
        EXPECT_EQ(handler.wheelDelta(), 0);
        EXPECT_EQ(handler.resetWheelDelta(), 0);
    }
}

}  // namespace
