// The edges of a process's life that every program shares: closed standard
// descriptors at start, and stop signals that must end any wait at once.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string header = "# Art-Net recording created by framelog\n"
                           "# Format: delay_ms,channel1,channel2,channel3,...\n"
                           "# Each row is a frame, first column is delay before that frame\n"
                           "# Only records frames when DMX values change (change detection enabled)\n"
                           "# Recording universe 0\n\n";

// Milliseconds from the signal to the end, or -1 when it had to be killed.
int stop_time_ms(process& p, int signal_number, int& status)
{
    const auto start = std::chrono::steady_clock::now();
    status = p.stop(signal_number, 3000);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return status < 0 ? -1 : static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool wait_for_file(const std::string& path, const std::string& content)
{
    for (int i = 0; i < 200 && read_file(path) != content; ++i)
        usleep(10'000);
    return read_file(path) == content;
}

} // namespace

TEST(LifecycleE2E, ClosedStandardDescriptorsStayClosedToSocketsAndFiles)
{
    // linecast: a closed standard input is an empty one, not the socket.
    udp_capture capture;
    process sender({"linecast", "-u", "1", "-c", "1", "-t", "127.0.0.1", "-p", std::to_string(capture.port())},
        input_mode::closed);
    EXPECT_EQ(sender.wait(3000), 0);
    EXPECT_FALSE(capture.receive(300)) << "nothing sent";

    // framelog without standard output and error: the status lines must not
    // land in the socket or the recording.
    temp_dir dir;
    const std::string path = dir.file("show.csv");
    const int port = free_udp_port();
    process recorder({"framelog", "-f", path, "-p", std::to_string(port), "-u", "0"}, input_mode::closed_output);
    ASSERT_TRUE(wait_for_file(path, header));
    send_udp(port, artdmx_packet(0, {1, 2}));
    ASSERT_TRUE(wait_for_file(path, header + "0,1,2\n"));
    EXPECT_EQ(recorder.stop(SIGINT), 0);
    EXPECT_EQ(read_file(path), header + "0,1,2\n");

    // dmxscope without a keyboard: datagrams are never read as keys (3 would
    // stop it, 'c' export), and every packet is drawn.
    const int monitor_port = free_udp_port();
    process monitor({"dmxscope", "-p", std::to_string(monitor_port)}, input_mode::closed, {"TERM=xterm"});
    ASSERT_TRUE(monitor.wait_for_out("Ctrl+C to exit\n\n"));
    send_udp(monitor_port, std::vector<std::uint8_t>{3, 'c', 3});
    for (int k = 1; k <= 20; ++k) {
        send_udp(monitor_port, artdmx_packet(4, {static_cast<std::uint8_t>(k)}));
        ASSERT_TRUE(monitor.wait_for_out("(Packets: " + std::to_string(k) + ")")) << k;
    }
    EXPECT_FALSE(monitor.exited());
    EXPECT_EQ(monitor.stop(SIGINT), 0);
    EXPECT_EQ(monitor.err(), "");
}

TEST(LifecycleE2E, AStopSignalEndsAnyWaitAtOnce)
{
    temp_dir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int port = free_udp_port();
    udp_capture capture;
    const std::string target_port = std::to_string(capture.port());
    const struct {
        const char* what;
        std::vector<std::string> args;
        int signal_number;
        const char* ready; // on standard error, before the signal
    } cases[] = {
        {"framelog opening a FIFO nobody reads", {"framelog", "-f", fifo, "-p", std::to_string(port)}, SIGINT,
            "records Art-Net DMX to CSV\n\n"},
        {"showrun opening a FIFO nobody writes", {"showrun", "-f", fifo, "-t", "127.0.0.1", "-p", target_port}, SIGTERM,
            "plays Art-Net DMX recordings\n\n"},
        {"showrun reading a pipe", {"showrun", "-f", "/dev/stdin", "-t", "127.0.0.1", "-p", target_port}, SIGINT,
            "Frame 1: 1 channels, delay 0 ms\r"},
        {"framelog waiting for traffic", {"framelog", "-f", dir.file("idle.csv"), "-p", std::to_string(port)}, SIGHUP,
            "Press Ctrl+C to stop\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        process p(c.args);
        p.write_input("0,1\n");
        ASSERT_TRUE(p.wait_for_err(c.ready));
        usleep(100'000); // well into the wait
        int status = -1;
        const int ms = stop_time_ms(p, c.signal_number, status);
        EXPECT_EQ(status, 0);
        EXPECT_GE(ms, 0);
        EXPECT_LT(ms, 500);
        EXPECT_EQ(p.err().find("Interrupted"), std::string::npos) << p.err();
    }
}

TEST(LifecycleE2E, HangupEndsARecordingWithItsReportAndACompleteFile)
{
    temp_dir dir;
    const std::string path = dir.file("show.csv");
    const int port = free_udp_port();
    process p({"framelog", "-f", path, "-p", std::to_string(port), "-u", "0"}, input_mode::null_device);
    ASSERT_TRUE(p.wait_for_err("Press Ctrl+C to stop\n"));
    send_udp(port, artdmx_packet(0, {7}));
    ASSERT_TRUE(p.wait_for_err("Packets: 1 ("));
    EXPECT_EQ(p.stop(SIGHUP), 0);
    EXPECT_NE(p.err().find("\nRecording stopped.\nFrames recorded: 1 (only changes)\nPackets received: 1\n"),
        std::string::npos);
    EXPECT_EQ(read_file(path), header + "0,7\n");
}
