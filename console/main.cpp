// tarnflash: programs KV32 chips through their factory bootloader.
#include <QCoreApplication>

#include "cli/Handlers.h"

int main(int argc, char* argv[])
{
    // The core application object exists for the whole run; no event loop runs.
    QCoreApplication application(argc, argv);
    return RunCommandLine(argc - 1, argv + 1);
}
