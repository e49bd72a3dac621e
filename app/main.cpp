#include "app/MainApp.h"
#include "app/QuietOutput.h"

int main(int argc, char** argv)
{
    kestrel::QuietEngineOutput();
    kestrel::CMainApp app(argc, argv);
    return app.Run();
}
