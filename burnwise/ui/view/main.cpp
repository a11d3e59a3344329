// burnwise: the EEPROM programmer's window. Takes no arguments.

#include "burnwise/ui/view/Program.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    burnwise::view::PrepareApplication(app);
    return burnwise::view::RunProgram(app);
}
