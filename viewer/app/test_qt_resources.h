#pragma once

// Registers the compiled-in collection test_qt. It lives in a static library, so a program or
// test runner that reads from it calls this once before the first read; repeated calls are
// harmless.
void initTestQtResources();
