#pragma once

#include <QString>

// The application style sheet in the collection test_qt.
inline constexpr char STYLE_SHEET_PATH[] = ":/stylesheets/testsheet.qss";

// Reads the application style sheet whole, as Latin-1 text. An unreadable sheet gives an empty
// text, which leaves Qt's default look.
QString loadStyleSheet();
