// Stands in for vekmrkenc in the job runner's tests. It writes progress log reports as the real
// programs do (lines ending with CR LF) and behaves by its payload argument (second from last,
// before a final -verify):
//   AA  reports 0 and 50, then 1000 with every argument it received, one per line; exits 0
//   BB  reports 50 and exits 3 without a final report
//   CC  reports -10 with a message; exits 10
//   DD  prints a banner and a reason on its error output, reports -20 with a message; exits 20
// Anything else exits 4 without writing.

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool writeReport(const std::string& path, const std::vector<std::string>& lines) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    for (const std::string& line : lines) {
        std::fputs(line.c_str(), file);
        std::fputs("\r\n", file);
    }
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.back() == "-verify") {
        args.pop_back();
    }
    if (args.size() < 5 || args[0] != "-logfile") {
        return 1;
    }
    const std::string log = args[1];
    const std::string payload = args[args.size() - 2];
    if (payload == "AA") {
        writeReport(log, {"   0"});
        writeReport(log, {"  50", "3 packets encoded at an average of 10.0x"});
        std::vector<std::string> lines{"1000"};
        for (const std::string& arg : args) {
            lines.push_back("arg: " + arg);
        }
        writeReport(log, lines);
        return 0;
    }
    if (payload == "BB") {
        writeReport(log, {"  50"});
        return 3;
    }
    if (payload == "CC") {
        writeReport(log, {" -10", "Failure to open x.wav for reading."});
        return 10;
    }
    if (payload == "DD") {
        std::fputs("Vek Audio Watermark command line encoder - Version 1.1\n"
                   "Failure to open out.wav for writing.\n"
                   "The output file is the input file: choose another name.\n",
                   stderr);
        std::fflush(stderr);
        writeReport(log, {" -20", "Failure to open out.wav for writing."});
        return 20;
    }
    return 4;
}
