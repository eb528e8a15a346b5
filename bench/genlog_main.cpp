// tsry-genlog: writes a made-up server log for benchmarks.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "bench/log_generator.h"

int main(int argc, char** argv) {
    CLI::App app("Writes a made-up server log with tagged records", "tsry-genlog");
    tsry::bench::LogShape shape;
    std::string size = "1M";
    std::string eol = "crlf";
    std::string output;
    app.add_option("-s,--size", size, "Size of the log: 512M, 1G, ...");
    app.add_option("-n,--names", shape.names, "Distinct variable names");
    app.add_option("-t,--tagged", shape.taggedShare, "Share of lines that are records");
    app.add_option("-e,--eol", eol, "Line ends: crlf, lf or cr")
        ->check(CLI::IsMember({"crlf", "lf", "cr"}));
    app.add_option("--seed", shape.seed, "Seed of the generator");
    app.add_flag("--tricky", shape.tricky, "Add awkward but valid lines");
    app.add_flag("--floats", shape.floats,
                 "Records of FLT and LOC alone, their numbers written as the game writes floats");
    app.add_flag("--slow-floats", shape.slowFloats,
                 "Records of FLT and LOC alone whose numbers need the slowest float literals");
    app.add_flag("--halves", shape.halves,
                 "With --slow-floats: the same records with every number a plain half (1.5)");
    bool oneLine = false;
    bool oneLineValue = false;
    app.add_flag("--one-line", oneLine, "One line of the given size holding one small record");
    app.add_flag("--one-line-value", oneLineValue, "One line whose record's value fills it");
    app.add_option("-o,--output", output, "File to write")->required();
    CLI11_PARSE(app, argc, argv);

    shape.bytes = tsry::bench::ParseSize(size);
    if (shape.bytes == 0) {
        std::cerr << "tsry-genlog: bad size " << size << '\n';
        return 2;
    }
    shape.lineEnd = eol == "lf" ? "\n" : eol == "cr" ? "\r" : "\r\n";
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    std::uint64_t lines = 1;
    if (oneLine || oneLineValue) {
        tsry::bench::GenerateLongLine(shape.bytes, oneLineValue, out);
    } else {
        lines = tsry::bench::GenerateLog(shape, out);
    }
    out.close();
    if (!out) {
        std::cerr << "tsry-genlog: cannot write " << output << '\n';
        return 1;
    }
    std::cout << lines << '\n';
    return 0;
}
