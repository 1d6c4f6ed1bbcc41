// What the command line sees of the program: its exit statuses and the only
// two lines it ever prints on standard output.
#ifndef TAVRIMOX_CLI_H
#define TAVRIMOX_CLI_H

inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_USAGE = 1;
inline constexpr int EXIT_BAD_MAGIC = 2;
// Not 3: on Windows abort() exits with 3, and a crash must not look handled.
inline constexpr int EXIT_CANNOT_CONVERT = 4;

inline constexpr const char* USAGE_LINE = "Usage: tavrimox filename.tex filename.dds\n";
inline constexpr const char* BAD_MAGIC_LINE = "ERROR: invalid input file.\n";

#endif
