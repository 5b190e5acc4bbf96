#pragma once
// A fuzzer's input as a command line: the program's name, then the words
// that zero bytes separate, and argv pointing at them with its null pointer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct command_words {
    std::vector<std::string> words;
    std::vector<char*> argv;

    // At most `most` words in all, the name included.
    command_words(const char* program, std::span<const std::uint8_t> data, std::size_t most = 1024) : words{program}
    {
        std::string word;
        for (const std::uint8_t byte : data) {
            if (words.size() == most)
                break;
            if (byte == 0) {
                words.push_back(word);
                word.clear();
            } else {
                word.push_back(static_cast<char>(byte));
            }
        }
        if (!word.empty() && words.size() < most)
            words.push_back(word);
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
};
