#include "PelkinConfig.h"
#include "ShellMain.h"
#include "SingleInstance.h"

int main(int argc, char **argv)
{
    return runPelkinDrop(
        argc, argv,
        {QUrl(QString::fromLatin1(PelkinConfig::uploadEndpoint)), SingleInstance::defaultName()});
}
