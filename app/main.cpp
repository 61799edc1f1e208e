#include "app/Program.h"
#include "platform/Platform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    ProvideRuntimeDir();
    QApplication app(argc, argv);
    return RunProgram(app);
}
