// Prints the image folder that the program would use when started from where
// this executable lies.
#include "image_folder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%s\n", qPrintable(imageFolder()));
    return 0;
}
