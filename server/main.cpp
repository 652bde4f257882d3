#include "PelkinConfig.h"
#include "ServerOptions.h"
#include "UploadService.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>
#include <string_view>
#include <thread>

int main(int argc, char **argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "pelkin-upload-server " << PelkinConfig::version << "\n";
        return 0;
    }
    std::string error;
    const auto options =
        ServerOptions::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "pelkin-upload-server: " << error << "\n\n" << ServerOptions::usage();
        return 2;
    }
    if (options->helpRequested) {
        std::cout << ServerOptions::usage();
        return 0;
    }

    std::signal(SIGPIPE, SIG_IGN);
    // Block the stop signals in every thread; one thread waits for them and shuts
    // the server down cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    UploadService service(*options);
    if (!service.start(error)) {
        std::cerr << "pelkin-upload-server: " << error << std::endl;
        return 1;
    }
    std::thread signalWaiter([&service, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        service.stop();
    });

    // Scripts and tests wait for exactly this line.
    std::cout << "listening on " << service.listeningUrl() << std::endl;
    std::cerr << "pelkin-upload-server: data in " << options->dataDir.string()
              << ", share links at "
              << (options->publicUrl.empty() ? service.listeningUrl() : options->publicUrl)
              << std::endl;
    const bool ok = service.run();
    // Wake the waiter if no signal came (the server failed), then let it finish.
    pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    return ok ? 0 : 1;
}
