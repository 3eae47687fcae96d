#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "Prompter.h"
#include "WidgetSeams.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvo"));

    tarvo::ConsoleModel model;
    tarvo::ConsoleWindow window(model);
    tarvo::MessageBoxPrompter prompter(&window);
    tarvo::setDefaultPrompter(&prompter);
    window.show();
    const int code = QApplication::exec();
    tarvo::setDefaultPrompter(nullptr);
    return code;
}
