#include "app/CStationApp.h"

int main(int argc, char** argv) {
    chatterly::CStationApp app(argc, argv);
    return app.Run();
}
