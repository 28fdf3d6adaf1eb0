#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace orvane::test {

// A publisher's "snapshot" frame of about `size` bytes whose transcript reads like prose (words
// drawn from a fixed list by a seeded generator), so compression sees what it sees in use.
inline std::string snapshotFrame(int sequence, std::size_t size)
{
    static const char *const words[] = {"the", "test", "build", "failed", "because", "parser", "rejects", "trailing",
                                        "commas", "in", "config", "files", "so", "I", "updated", "tokenizer", "and",
                                        "added", "a", "case", "for", "nested", "arrays", "running", "cargo", "npm",
                                        "src/lib.rs", "error:", "expected", "value", "line", "42", "column", "7"};
    std::mt19937 random(static_cast<unsigned>(sequence));
    std::string frame = R"({"type":"snapshot","snapshot":{"sequence":)" + std::to_string(sequence) +
                        R"(,"threads":[{"id":"019a0000-0000-7000-8000-000000000010","transcript":[)";
    int entry = 0;
    while (frame.size() + 200 < size) {
        frame += (entry ? "," : "") + std::string(R"({"id":"item-)") + std::to_string(entry) + R"(","text":")";
        for (int word = 0; word < 40; ++word)
            frame += std::string(words[random() % std::size(words)]) + ' ';
        frame += "\"}";
        ++entry;
    }
    return frame + "]}]}}";
}

} // namespace orvane::test
