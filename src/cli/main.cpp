#include "cli/session.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    return rtu::cli::runCommand(QCoreApplication::arguments().mid(1));
}
