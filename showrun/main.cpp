// showrun: plays a frame sequence CSV onto the network, every row as one
// ArtDmx (or sACN data packet) held for the row's delay, or writes a demo
// file to try it with.

#include "clock.hpp"
#include "demo.hpp"
#include "descriptors.hpp"
#include "notices.hpp"
#include "playback.hpp"
#include "sender.hpp"
#include "signals.hpp"
#include "udp.hpp"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The file to play, checked before it is opened: a directory is no file,
// and only a file that can go back to its start can be played again (a
// FIFO's open would also wait for a writer first). A FIFO's open waits for a
// writer; a stop request ends that wait and the program (status 0).
unique_file open_show_file(const player_settings& settings, int& status)
{
    status = 1;
    struct stat info { };
    const bool known = ::stat(settings.file, &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        std::perror("fopen");
        return nullptr;
    }
    if (settings.passes != 1 && known && !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "Error: Cannot loop a file that cannot be rewound\n");
        return nullptr;
    }
    unique_file file(std::fopen(settings.file, "r"));
    if (!file && errno == EINTR && !running)
        status = 0;
    else if (!file)
        std::perror("fopen");
    return file;
}

} // namespace

int main(int argc, char* argv[])
{
    ensure_standard_descriptors();
    if (!asks_for_help_or_version(argc, argv, option_letters))
        print_banner("showrun", "plays Art-Net DMX recordings");
    player_settings settings;
    if (const int status = read_options(argc, argv, settings); status >= 0)
        return status;
    if (settings.demo)
        return create_demo_csv(settings.demo_file) ? 0 : 1;
    if (settings.file == nullptr) {
        std::fprintf(stderr, "Error: -f <file.csv> is required (or use -d to create demo file)\n");
        usage(argv[0]);
        return 1;
    }
    install_stop_handlers();
    dmx_sender sender;
    if (!open_sender(sender, settings.net, settings.net.sacn ? make_e131_identity("showrun") : e131_identity{}))
        return 1;
    int status = 0;
    const unique_file file = open_show_file(settings, status);
    if (!file)
        return status;

    playback p(sender, settings);
    // Under sACN a pipe is read without blocking, so that the streams stay
    // alive while it is slow. Its flags are put back at the end: another
    // program may read the same pipe afterwards.
    struct stat info { };
    const int input = fileno(file.get());
    const int flags = ::fcntl(input, F_GETFL);
    if (settings.net.sacn && ::fstat(input, &info) == 0 && S_ISFIFO(info.st_mode)) {
        set_nonblocking(input);
        p.waited_input = input;
    }
    start_playback(p, monotonic_ns());
    const playback_end end = play(p, file.get());
    if (p.waited_input >= 0)
        ::fcntl(input, F_SETFL, flags);
    const bool ended = end_playback_streams(p, end);
    return print_end_report(end, p) && ended ? 0 : 1;
}
