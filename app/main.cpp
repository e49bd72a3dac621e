#include "app/MainApp.h"

int main(int argc, char** argv)
{
    kestrel::CMainApp app(argc, argv);
    return app.Run();
}
