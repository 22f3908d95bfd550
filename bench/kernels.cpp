// Times each character kernel that this processor can run on the benchmark's
// kind of text, and checks that they all give the same answers.
//
//   fwprep-bench-kernels FILE [ROUNDS]
//
// For every line of FILE (read whole; use a few megabytes): the ends of three
// pieces of 5 characters (split -n 3 -w 5) and the end of 4 characters (join
// -w 4), ROUNDS times (default 20); prints the best round's nanoseconds per
// line for each kernel.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "utf8_kernels.h"

using namespace fwprep;

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fwprep-bench-kernels FILE [ROUNDS]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    std::vector<std::pair<std::size_t, std::size_t>> lines; // offset, length
    for (std::size_t at = 0; at < text.size();) {
        std::size_t lf = text.find('\n', at);
        if (lf == std::string::npos)
            lf = text.size();
        lines.emplace_back(at, lf - at);
        at = lf + 1;
    }
    text.append(64, '\0'); // the kernels read up to 64 bytes past an end

    std::vector<std::size_t> reference;
    for (const utf8::Kernels* k : utf8::availableKernels()) {
        std::vector<std::size_t> answers;
        answers.reserve(lines.size() * 4);
        double best = 1e30;
        for (int r = 0; r < rounds; ++r) {
            answers.clear();
            const auto t0 = std::chrono::steady_clock::now();
            for (const auto& [offset, length] : lines) {
                const char* p = text.data() + offset;
                const char* ends[3];
                const std::size_t found = k->pieceEnds(p, p + length, 5, 3, ends);
                std::size_t taken = 0;
                const char* q = k->advance(p, p + length, 4, taken);
                answers.push_back(found);
                answers.push_back(static_cast<std::size_t>(ends[found - 1] - p));
                answers.push_back(static_cast<std::size_t>(q - p));
                answers.push_back(taken);
            }
            const auto t1 = std::chrono::steady_clock::now();
            best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
        }
        if (reference.empty())
            reference = answers;
        std::printf("%-14s %6.2f ns/line  %s\n", k->name, best / double(lines.size()),
            answers == reference ? "same answers" : "DIFFERENT ANSWERS");
        if (answers != reference)
            return 1;
    }
    std::printf("in use: %s\n", utf8::kernels().name);
    return 0;
}
