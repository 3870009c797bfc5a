#include "resources/StringTable.h"

#include <QtGlobal>

static void initCompiledResources() {
    Q_INIT_RESOURCE(resources);
}

namespace chatterly {

const char* loadResourceString(int id) {
    switch (id) {
        case IDS_OLE_INIT_FAILED:
            return "OLE initialization failed.  Make sure that the OLE libraries are the correct "
                   "version.";
        case IDS_SOCKETS_INIT_FAILED:
            return "Windows sockets initialization failed.";
        default:
            return "";
    }
}

void initResources() {
    static const bool done = (initCompiledResources(), true);
    (void)done;
}

}  // namespace chatterly
