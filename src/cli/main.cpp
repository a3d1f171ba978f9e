#include "cli/session.h"

#include <QByteArrayList>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // The bytes as given, before anything decodes them.
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    QCoreApplication application(argc, argv);
    return rtu::cli::runCommand(arguments);
}
