// talvino-read COMn: reads a Talvino device once through the device link and prints one line
// per step with its LinkResult. Exit status 0 when every step succeeded, 1 otherwise, 2 for a
// bad command line.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/link/Reading.h"

int main(int argc, char** argv) {
    const std::string arg = argc == 2 ? argv[1] : "";
    char* end = nullptr;
    const long number = arg.rfind("COM", 0) == 0 ? std::strtol(arg.c_str() + 3, &end, 10) : 0;
    if (number < 1 || number > 255 || end == nullptr || *end != '\0') {
        std::fprintf(stderr, "usage: talvino-read COMn   (n from 1 to 255)\n");
        return 2;
    }
    CW38 link;
    const ReadingResults results = RunReading(link, static_cast<int32_t>(number));
    for (const std::string& line : ReadingLines(results)) {
        std::printf("%s\n", line.c_str());
    }
    return results.AllSucceeded() ? 0 : 1;
}
