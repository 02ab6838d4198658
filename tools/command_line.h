// The command line of a tool: parsed, then checked by `validate` (which
// throws CLI11's errors). --help and --version print to standard output.
// Returns -1 to go on, else the exit code to end with: 0 after --help or
// --version, `badUsage` after "NAME: what is wrong" on standard error.
#pragma once
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <iostream>

inline int ParseCommandLine(CLI::App& app, int argc, char** argv, int badUsage,
                            const std::function<void()>& validate = {}) {
    try {
        app.parse(argc, argv);
        if (validate) validate();
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        const char* name = app.get_name().c_str();
        std::fprintf(stderr, "%s: %s\n(see %s --help)\n", name, e.what(), name);
        return badUsage;
    }
    return -1;
}
