// The floor for start-up and memory: an empty Qt window with the same kinds
// of widgets as the main window, nothing loaded.
#include <QApplication>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("empty"));
    auto *central = new QWidget(&window);
    auto *list = new QListWidget(central);
    list->setGeometry(8, 12, 105, 340);
    auto *editor = new QPlainTextEdit(central);
    editor->setGeometry(124, 36, 465, 281);
    window.setCentralWidget(central);
    window.resize(600, 364);
    window.show();
    return app.exec();
}
