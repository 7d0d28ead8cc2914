#include "test_qt_resources.h"

#include <QtCore/qglobal.h>

// Referencing the collection's initialiser also keeps the linker from dropping it.
void initTestQtResources() {
    Q_INIT_RESOURCE(test_qt);
}
