// The daemon's entry: command line, log, the long-lived objects, and the stop sequence.
#include "CommandLine.h"
#include "Log.h"
#include "Project.h"
#include "api/tcp/Service.h"
#include "manager/Detection.h"
#include "manager/PrinterManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

namespace {

// The signal handler only wakes the main thread through this pipe: logging, stopping threads
// and exiting are not async-signal-safe, so the stop sequence runs on the main thread.
int gWakePipe[2] = {-1, -1};

void signalHandler(int signo) {
    static std::atomic<bool> stopping{false};
    if (stopping.exchange(true))
        return;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] ssize_t n = write(gWakePipe[1], &byte, 1);
    errno = saved;
}

// Blocks until the handler reports a signal; returns its number.
int waitForSignal() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = read(gWakePipe[0], &byte, 1);
        if (n == 1)
            return byte;
        if (n < 0 && errno == EINTR)
            continue;
        return 0;
    }
}

using zelvo::PrinterManager::PrinterManager;

// The process-wide objects, created in this order and stopped in the stop sequence.
std::shared_ptr<PrinterManager> printerManager;
std::shared_ptr<zelvo::PrinterManager::API::TCP::Service> tcpServicePtr;

void stopSequence(int signo) {
    Log::info("Signal caught: %s [%d]", strsignal(signo), signo);
    if (tcpServicePtr)
        tcpServicePtr->stop();
    if (printerManager)
        printerManager->stop();
}

} // namespace

int main(int argc, char* argv[]) {
    if (pipe2(gWakePipe, O_CLOEXEC) != 0)
        return 1;
    signal(SIGTERM, signalHandler);
    signal(SIGINT, signalHandler);

    CommandLine options;
    if (const auto exitCode = CommandLine::parse(argc, argv, options))
        return *exitCode;

    Log::open(argv[0], options.stdErr, true);
    Log::info("%s started", getBanner().c_str());
    Log::info("Log level is %d.", static_cast<int>(options.verbosity));
    Log::setLevel(options.level());

    PrinterManager::DriverFactory factory;
    if (!options.model.empty())
        factory = [model = options.model](const std::string& path) {
            return zelvo::PrinterManager::detectDriver(path, model);
        };
    printerManager = std::make_shared<PrinterManager>(options.device, options.configFile, factory);
    tcpServicePtr = std::make_shared<zelvo::PrinterManager::API::TCP::Service>(
        printerManager, options.port, options.global);
    printerManager->readConfigFile();
    printerManager->start();
    printerManager->writeConfigFile();
    try {
        tcpServicePtr->start();
    } catch (const std::exception& e) {
        // Without its listening socket the daemon is of no use to remote clients.
        Log::error("Could not start the TCP service: %s", e.what());
        printerManager->stop();
        return 1;
    }

    Log::debug("Main blocks here!");
    const int signo = waitForSignal();
    if (signo == 0)
        return 0;
    stopSequence(signo);
    return 0;
}
