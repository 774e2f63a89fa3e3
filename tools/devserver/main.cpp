// SPDX-License-Identifier: MIT
// nuv-devserver: a reference platform server for NUVUpload's tests, demos and integrators.
#include "faults.h"
#include "options.h"
#include "serverapp.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

namespace {

// Decides the uploads folder; a default one is temporary and removed at exit.
bool prepareDataFolder(devserver::Options &options, bool &temporary, std::string &error)
{
    temporary = options.dataFolder.empty();
    if (temporary) {
        char pattern[] = "/tmp/nuv-devserver-XXXXXX";
        if (!::mkdtemp(pattern)) {
            error = "cannot create a folder under /tmp";
            return false;
        }
        options.dataFolder = pattern;
        return true;
    }
    std::error_code code;
    std::filesystem::create_directories(options.dataFolder, code);
    if (!std::filesystem::is_directory(options.dataFolder)) {
        error = "cannot create data folder " + options.dataFolder;
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    devserver::Options options;
    std::string error;
    if (!devserver::parseOptions(argc, argv, options, error)) {
        std::cerr << "nuv-devserver: " << error << "\n(see --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << devserver::usageText();
        return 0;
    }
    if (options.version) {
        std::cout << "nuv-devserver " NUV_APP_VERSION "\n";
        return 0;
    }
    devserver::Faults faults;
    for (const auto &fault : options.faults) {
        if (!faults.addFlag(fault.first, fault.second, error)) {
            std::cerr << "nuv-devserver: " << error << '\n';
            return 2;
        }
    }
    if (options.seeded)
        faults.seed(options.seed);

    bool temporaryData = false;
    if (!prepareDataFolder(options, temporaryData, error)) {
        std::cerr << "nuv-devserver: " << error << '\n';
        return 1;
    }
    const std::string dataFolder = options.dataFolder;
    const auto cleanUp = [&] {
        if (temporaryData) {
            std::error_code ignored;
            std::filesystem::remove_all(dataFolder, ignored);
        }
    };

    // Signals are taken by one thread with sigwait, so every worker thread must block them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    devserver::ServerApp app(options, faults, dataFolder);
    if (!app.bind(error)) {
        std::cerr << "nuv-devserver: " << error << '\n';
        cleanUp();
        return 1;
    }
    std::cout << app.firstLine() << std::endl;

    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool served = false;
    std::thread signalThread([&] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        app.stop();
        std::unique_lock<std::mutex> lock(doneMutex);
        // Idle kept-alive connections hold the listener's workers until their timeout; give
        // requests in flight a moment, then leave without waiting for idle clients.
        if (!doneChanged.wait_for(lock, std::chrono::milliseconds(500), [&] { return served; })) {
            cleanUp();
            std::_Exit(0);
        }
    });

    app.run();
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        served = true;
    }
    doneChanged.notify_all();
    // The listener can also end on its own (socket error); wake the signal thread then.
    ::kill(::getpid(), SIGTERM);
    signalThread.join();
    cleanUp();
    return 0;
}
