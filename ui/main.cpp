#include "ui/sonvexapp.h"

int main(int argc, char** argv) {
    CSonvexApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    return app.Run();
}
