// The acquisition console: the application object, the main window, the message loop.
#include "app/Unit1.h"
#include "serial/ComSelectForm.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orvi::InstallPortSelectionDialog();
    orvi::app::TForm1 form;
    form.show();
    return application.exec();
}
