#include <cstring>

#include "batch.h"

const char* const BATCH_USAGE_LINE =
    "Usage: tavrimox-batch [-r] [-o DIR] [-j N] [--skip-existing] [--check] [--strict] "
    "[--dds-header exact|readers] [-q] PATH...\n";

const char* const BATCH_HELP =
    "Usage: tavrimox-batch [options] PATH...\n"
    "Converts TEX textures to DDS files as tavrimox does, many at once.\n"
    "A PATH is a TEX file, or a folder whose *.tex files (any letter case) are\n"
    "converted. Each output is the input's name with .dds in place of .tex.\n"
    "\n"
    "  -r, --recursive        also the *.tex files of every subfolder\n"
    "  -o, --output DIR       write under DIR, keeping each file's folder path\n"
    "                         relative to the PATH it was found under\n"
    "  -j, --jobs N           N conversions at once (default: one per processor)\n"
    "      --skip-existing    leave an output that is newer than its input\n"
    "      --check            decode every file and write nothing: finds the\n"
    "                         damaged ones\n"
    "      --strict           a damaged payload is a failure, and is not written\n"
    "      --dds-header KIND  exact (default): the header tavrimox writes;\n"
    "                         readers: also the caps and linear size that\n"
    "                         OpenImageIO, Blender, NVIDIA Texture Tools and\n"
    "                         Godot before 4.3 require\n"
    "  -q, --quiet            print only failed and damaged files\n"
    "      --help, --version  print this or the version, and exit\n"
    "\n"
    "Exit status: 0 when every file was converted (damaged ones too, unless\n"
    "--strict) or skipped; 1 when any failed (with --check: when any is damaged\n"
    "or unreadable); 2 for a usage error.\n";

namespace {

constexpr unsigned MOST_JOBS = 1024;

PathString ascii(const char* text) {
    return PathString(text, text + std::strlen(text));
}

bool parse_jobs(const PathString& text, unsigned& jobs) {
    if (text.empty() || text.size() > 4) {
        return false;
    }
    unsigned value = 0;
    for (const PathChar c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    jobs = value;
    return value >= 1 && value <= MOST_JOBS;
}

bool parse_header(const PathString& text, DdsHeaderKind& header) {
    if (text == ascii("exact")) {
        header = DdsHeaderKind::EXACT;
        return true;
    }
    if (text == ascii("readers")) {
        header = DdsHeaderKind::READERS;
        return true;
    }
    return false;
}

// The option's value: what follows "=" or the letter, else the next argument.
bool take_value(const PathString& attached, bool has_attached, int argc, PathChar** argv, int& i,
                PathString& value) {
    if (has_attached) {
        value = attached;
        return true;
    }
    if (i + 1 >= argc) {
        return false;
    }
    value = argv[++i];
    return true;
}

std::string quoted(const PathString& text) {
    std::string out = "'";
    out += path_for_message(text.c_str());  // not "'" + ...: GCC 12 misreports it (-Wrestrict)
    out += "'";
    return out;
}

// An option that takes a value: -o, -j, --dds-header. False, why set, when
// the value is missing or wrong.
bool set_value(char letter, const PathString& value, BatchOptions& options, std::string& why) {
    switch (letter) {
        case 'o':
            if (value.empty()) {
                why = "the output folder is an empty name";
                return false;
            }
            options.output_folder = value;
            return true;
        case 'j':
            if (!parse_jobs(value, options.jobs)) {
                why = "--jobs takes a number from 1 to " + std::to_string(MOST_JOBS) + ", not " +
                      quoted(value);
                return false;
            }
            return true;
        default:
            if (!parse_header(value, options.header)) {
                why = "--dds-header takes exact or readers, not " + quoted(value);
                return false;
            }
            return true;
    }
}

}  // namespace

ArgsAction parse_batch_args(int argc, PathChar** argv, BatchOptions& options, std::string& why) {
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const PathString arg = argv[i];
        if (options_end || arg.size() < 2 || arg[0] != '-') {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == ascii("--")) {
            options_end = true;
            continue;
        }
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const PathString name = arg.substr(0, equals);
            const bool has_attached = equals != PathString::npos;
            const PathString attached = has_attached ? arg.substr(equals + 1) : PathString();
            char letter = 0;
            if (name == ascii("--output")) {
                letter = 'o';
            } else if (name == ascii("--jobs")) {
                letter = 'j';
            } else if (name == ascii("--dds-header")) {
                letter = 'h';
            } else if (has_attached) {
                why = "unknown option " + quoted(arg);
                return ArgsAction::USAGE_ERROR;
            } else if (arg == ascii("--recursive")) {
                options.recursive = true;
            } else if (arg == ascii("--skip-existing")) {
                options.skip_existing = true;
            } else if (arg == ascii("--check")) {
                options.check = true;
            } else if (arg == ascii("--strict")) {
                options.strict = true;
            } else if (arg == ascii("--quiet")) {
                options.quiet = true;
            } else if (arg == ascii("--help")) {
                return ArgsAction::HELP;
            } else if (arg == ascii("--version")) {
                return ArgsAction::VERSION;
            } else {
                why = "unknown option " + quoted(arg);
                return ArgsAction::USAGE_ERROR;
            }
            if (letter != 0) {
                PathString value;
                if (!take_value(attached, has_attached, argc, argv, i, value)) {
                    why = "option " + quoted(name) + " needs a value";
                    return ArgsAction::USAGE_ERROR;
                }
                if (!set_value(letter, value, options, why)) {
                    return ArgsAction::USAGE_ERROR;
                }
            }
            continue;
        }
        // Short options, which may share one argument: -rq, -j4, -oDIR.
        for (size_t k = 1; k < arg.size(); ++k) {
            const PathChar c = arg[k];
            if (c == 'r') {
                options.recursive = true;
            } else if (c == 'q') {
                options.quiet = true;
            } else if (c == 'h') {
                return ArgsAction::HELP;
            } else if (c == 'o' || c == 'j') {
                const bool has_attached = k + 1 < arg.size();
                PathString value;
                if (!take_value(arg.substr(k + 1), has_attached, argc, argv, i, value)) {
                    why = "option " + quoted(arg.substr(0, 1) + c) + " needs a value";
                    return ArgsAction::USAGE_ERROR;
                }
                if (!set_value(static_cast<char>(c), value, options, why)) {
                    return ArgsAction::USAGE_ERROR;
                }
                break;
            } else {
                why = "unknown option " + quoted(ascii("-") + c);
                return ArgsAction::USAGE_ERROR;
            }
        }
    }
    if (options.paths.empty()) {
        why = "no PATH given";
        return ArgsAction::USAGE_ERROR;
    }
    return ArgsAction::RUN;
}
