// dahlo2-sim: a simulated keyer on a pseudo-terminal. Prints the terminal's path, then
// answers the host until SIGINT or SIGTERM.
#include "ProjectVersion.h"
#include "dl2mgr/keyersim/KeyerSim.h"
#include "dl2mgr/link/PortNames.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/signalfd.h>
#include <unistd.h>

int Run(int argc, char** argv) {
    using dl2mgr::keyersim::KeyerSimOptions;
    KeyerSimOptions options;
    CLI::App app{"Simulated keyer on a pseudo-terminal, paced at 1200 baud", "dahlo2-sim"};
    app.set_version_flag("--version", std::string("dahlo2-sim ") + ProjectVersion);
    std::string image, log;
    int com = 0;
    unsigned revision = 23, pot = 0, pb = 0;
    std::size_t shortDump = 0, silentAfter = 0;
    unsigned slowMs = 0;
    app.add_option("--image", image,
                   "EEPROM file, kept across runs (a new one starts as a keyer never set up)");
    app.add_option("--com", com, "make the link COMn to the terminal in dl2mgr's ports folder")
        ->check(CLI::Range(1, 999));
    app.add_option("--revision", revision, "firmware revision byte (default 23)")
        ->check(CLI::Range(0, 255));
    app.add_option("--pot", pot, "PotVal reply byte")->check(CLI::Range(0, 255));
    app.add_option("--pb", pb, "PbVal reply byte")->check(CLI::Range(0, 255));
    app.add_flag("--fast", options.Fast, "send at once instead of at 1200 baud");
    app.add_option("--slow", slowMs,
                   "start every answer MS milliseconds late (a slow keyer; below 2500 the "
                   "host still gets it)")
        ->check(CLI::Range(0, 60000));
    app.add_flag("--no-echo", options.NoEcho, "fault: do not answer the echo test");
    app.add_flag("--wrong-echo", options.WrongEcho, "fault: answer the echo test wrongly");
    auto* shortOpt = app.add_option("--short-dump", shortDump, "fault: send only N dump bytes");
    auto* silentOpt =
        app.add_option("--silent-after", silentAfter, "fault: send nothing after N bytes");
    std::size_t longDump = 0;
    auto* longOpt =
        app.add_option("--long-dump", longDump, "fault: send N dump bytes, zeros after the 256th");
    std::string stray;
    app.add_option("--stray-after", stray, "fault: follow the echo or PbVal reply by a 0x0D")
        ->check(CLI::IsMember({"echo", "pb"}));
    app.add_option("--log", log, "record every byte received and sent, with times");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    options.AnswerDelay = std::chrono::milliseconds(slowMs);
    options.ImagePath = image;
    options.LogPath = log;
    options.Revision = static_cast<std::uint8_t>(revision);
    options.PotVal = static_cast<std::uint8_t>(pot);
    options.PbVal = static_cast<std::uint8_t>(pb);
    if (*shortOpt) options.ShortDump = shortDump;
    if (*silentOpt) options.SilentAfter = silentAfter;
    if (*longOpt) options.LongDump = longDump;
    if (stray == "echo") options.Stray = dl2mgr::keyersim::StrayAfter::Echo;
    if (stray == "pb") options.Stray = dl2mgr::keyersim::StrayAfter::PbVal;
    if (com > 0) {
        options.Com = com;
        options.PortsFolder = dl2mgr::link::PortsFolder();
    }

    // Signals arrive through a descriptor, so the serve loop stops cleanly between bytes
    // and the COM link is removed on the way out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::perror("dahlo2-sim: signalfd");
        return 1;
    }

    dl2mgr::keyersim::KeyerSim sim(options);
    const std::string error = sim.Start();
    if (!error.empty()) {
        std::fprintf(stderr, "dahlo2-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim.DevicePath().c_str());
    std::fflush(stdout);
    if (!sim.ComLink().empty()) {
        std::fprintf(stderr, "dahlo2-sim: %s -> %s\n", sim.ComLink().c_str(),
                     sim.DevicePath().c_str());
    }
    sim.Serve(stopFd);
    ::close(stopFd);
    return 0;
}

int main(int argc, char** argv) {
    // Whatever goes wrong ends as one line and a failure status, never as an abort.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dahlo2-sim: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "dahlo2-sim: unexpected error\n");
    }
    return 1;
}
