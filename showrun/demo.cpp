#include "demo.hpp"

#include "descriptors.hpp"
#include "frame_csv.hpp"

#include <array>
#include <cstdio>
#include <string_view>

#include <sys/stat.h>

namespace {

constexpr std::string_view demo_header = "# Demo CSV file for showrun";

// Whether writing the demo to `path` loses nothing: there is no such file,
// an empty one, no regular file at all (a device, a FIFO), or an earlier
// demo, known by its first line. Reports a refusal.
bool may_replace(const char* path)
{
    struct stat info { };
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0)
        return true;
    const unique_file file(std::fopen(path, "r"));
    if (!file) {
        std::perror("fopen");
        return false;
    }
    std::array<char, demo_header.size() + 3> line{};
    std::string_view first;
    if (std::fgets(line.data(), static_cast<int>(line.size()), file.get()) != nullptr) {
        first = line.data();
        first = first.substr(0, first.find_first_of("\r\n"));
    }
    if (first == demo_header)
        return true;
    std::fprintf(stderr, "Error: Not overwriting %s: it is not a demo file\n", path);
    return false;
}

} // namespace

bool create_demo_csv(const char* path)
{
    if (!may_replace(path))
        return false;
    unique_file file(std::fopen(path, "w"));
    if (!file) {
        std::perror("fopen");
        return false;
    }
    if (std::fputs("# Demo CSV file for showrun\n"
                   "# Format: delay_ms,channel1,channel2,channel3,...\n"
                   "# Each row is a frame, first column is delay before that frame\n\n",
            file.get())
        == EOF) {
        std::perror("fputs");
        return false;
    }
    // A chase over channels 1 to 8 at full, then twelve frames of all zeros.
    for (std::size_t row = 0; row < 20; ++row) {
        std::array<std::uint8_t, 8> levels{};
        if (row < levels.size())
            levels[row] = 255;
        if (!write_csv_frame(file.get(), 100, levels)) {
            std::perror("fprintf");
            return false;
        }
    }
    // The rows usually reach the disk only now, so a full disk shows here.
    if (std::fclose(file.release()) != 0) {
        std::perror("fclose");
        return false;
    }
    std::fprintf(stderr, "Created demo file: %s\n", path);
    std::fprintf(stderr, "This file contains 20 frames with 8 channels each.\n");
    return true;
}
