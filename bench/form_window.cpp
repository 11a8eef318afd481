// The program's own main window with nothing loaded and nothing else done:
// its controls, captions and fonts, started the way the program starts it.
// Start-up beside it shows what the data and the program's own start-up work
// cost, apart from the window itself.
#include "app/startupwork.h"
#include "ui/classic/fonts.h"
#include "ui/main/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    tavlo::BackgroundJob fontConfiguration(tavlo::LoadFontConfiguration);
    QApplication app(argc, argv);
    tavlo::BackgroundJob imagePlugins(tavlo::LoadImagePlugins);
    fontConfiguration.wait();
    QApplication::setFont(tavlo::WindowFont(9.0));
    tavlo::Form1 window(tavlo::AgendaFile("/nonexistent/tavlo.txt", "tavlo"));
    window.setWindowTitle(QStringLiteral("form"));
    window.show();
    return app.exec();
}
