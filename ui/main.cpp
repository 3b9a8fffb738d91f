#include <cstdio>
#include <cstring>

#include "sonvex/buildconfig.h"
#include "ui/sonvexapp.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it works without a display.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("sonvex %s\n", sonvex::kVersion);
            return 0;
        }
    }
    CSonvexApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    return app.Run();
}
