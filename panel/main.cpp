// Entry point of the control panel: one application, one main window.
#include <QApplication>

#include "FInit.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FInit* window = new FInit();
    window->show();
    const int result = app.exec();
    delete window;
    return result;
}
