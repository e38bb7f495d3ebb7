#include <QApplication>
#include <QDialog>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QDialog window;
    window.setWindowTitle("Quorvan Update 2.0");
    window.show();
    return application.exec();
}
