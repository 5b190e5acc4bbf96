#pragma once
// Playing a file: its passes, its rows sent and held on the timeline, the
// keep-alive and the sync packets. Three kinds of file play in two orders. A
// hand-written file (the demo among them) sends a row's frame and then waits
// its delay. A framelog recording waits a row's delay and then sends its
// frame, because the recorder wrote in each row the time that came before
// it; a show file does the same, each row going to its own universe.

#include "clock.hpp"
#include "file_lines.hpp"
#include "sender.hpp"
#include "settings.hpp"
#include "show_csv.hpp"
#include "timeline.hpp"
#include "universe_frames.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

enum class playback_end { end_of_file, read_error, send_failed, stopped };
enum class file_kind { plain, recording, show };

// What playback carries from row to row and from pass to pass.
struct playback {
    // An sACN source always keeps its streams alive, every 800 ms unless -k
    // says otherwise.
    playback(dmx_sender& out, const player_settings& s)
        : sender(out), settings(s),
          resends((s.keep_alive_ms == 0 && s.net.sacn ? sacn_keep_alive_ms : s.keep_alive_ms) * ns_per_ms,
              s.net.sacn ? sacn_repeats : 0, sacn_repeat_gap_ms * ns_per_ms)
    {
    }

    dmx_sender& sender;
    const player_settings& settings;
    universe_frames sent;    // the last frame sent to each universe, for the keep-alive
    resend_schedule resends; // when each universe's keep-alive is due; interval 0: none
    show_moments moments;    // where the sync packets of a recording or a show go
    unsigned long long frames_sent = 0;
    unsigned long long shown = 0; // frames the status line has shown
    long pass = 0;
    file_kind kind = file_kind::plain; // decided anew by each pass's header
    unsigned long long line = 0;       // of the file, in this pass
    unsigned long long frame_line = 0; // the line of the last frame sent
    std::uint16_t universe = 0;        // of the last frame sent
    std::size_t count = 0;             // its channels
    std::uint32_t delay = 0;           // the delay of its row
    bool sync_due = false;             // frames went out since the last frame ended
    bool reported = false;             // the start-up report was printed
    // A pipe, read without blocking so that the streams stay alive while it
    // is slow: its descriptor, or -1 for a file read as it comes.
    int waited_input = -1;
    bool wait_failed = false;  // a re-send, or the wait itself, failed while the pipe was slow
    pacing clock;              // the timeline
    std::int64_t went_out = 0; // when the last row took its place on it
    std::array<char, longest_line + 1> text{};
    std::array<std::uint8_t, channels_per_universe> levels{};
};

// Starts the timeline at `now`.
void start_playback(playback& p, std::int64_t now);

// Plays the file as many times as asked, after the start-up report, which
// waits for the file's header to say what kind of file it is.
playback_end play(playback& p, std::FILE* file);

// Under sACN, the end of every stream, once the last frame has gone out
// three times (at once after a stop request or a failure). False when a send
// failed.
bool end_playback_streams(playback& p, playback_end end);

// The closing report, and whether playback ended as asked (the end of the
// file, or a stop request) rather than by a failure.
bool print_end_report(playback_end end, const playback& p);
