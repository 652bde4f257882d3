#pragma once

#include <QString>
#include <QUrl>

// Everything main() does, so that the shipped binary and the tests' build of
// it run the same code. The shipped main() passes the built-in endpoint and
// the real instance name. The only options are --background (the login
// autostart entry's), --version and --help; nothing reads environment
// variables or configuration files.
struct ShellOptions
{
    QUrl uploadEndpoint;
    QString instanceName;
};

int runPelkinDrop(int argc, char **argv, const ShellOptions &options);
