// lumora_gallery: a host window that shows lumora's services at work, open until it is closed.

#include "w_gallery.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumora_gallery"));
    w_gallery window;
    window.show();
    return QApplication::exec();
}
