#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "batch.h"

namespace {

bool ends_in_tex(const PathString& name) {
    if (name.size() < 4) {
        return false;
    }
    const PathChar* end = name.data() + name.size() - 4;
    return end[0] == '.' && (end[1] | 0x20) == 't' && (end[2] | 0x20) == 'e' &&
           (end[3] | 0x20) == 'x';
}

// "a.TEX" -> "a.dds"; a file given by name without ".tex" keeps its whole
// name: "a.bin" -> "a.bin.dds", never the input's own name.
PathString output_name(const PathString& name) {
    const PathString dds = {'.', 'd', 'd', 's'};
    return (ends_in_tex(name) ? name.substr(0, name.size() - 4) : name) + dds;
}

bool ends_a_folder(PathChar c) {
#ifdef _WIN32
    return is_separator(c) || c == L':';  // "C:" names the drive's current folder
#else
    return is_separator(c);
#endif
}

PathString join(const PathString& folder, const PathString& name) {
    if (folder.empty()) {
        return name;
    }
    if (name.empty()) {
        return folder;
    }
    return ends_a_folder(folder.back()) ? folder + name : folder + SEPARATOR + name;
}

struct Scan {
    const BatchOptions& options;
    std::vector<BatchJob>& jobs;
};

void add_file(Scan& scan, const PathString& input, const PathString& name,
              const PathString& relative) {
    const PathString& under = scan.options.output_folder;
    BatchJob job;
    job.input = input;
    if (under.empty()) {
        job.output = input.substr(0, input.size() - name.size()) + output_name(name);
    } else {
        job.output_folder = join(under, relative);
        job.output = join(job.output_folder, output_name(name));
    }
    scan.jobs.push_back(std::move(job));
}

// The folder's *.tex files and, when recursive, its subfolders', in name
// order. Links to folders are not followed: a link back up would never end.
void scan_folder(Scan& scan, const PathString& folder, const PathString& relative) {
    std::vector<FolderEntry> entries;
    std::string reason;
    if (!list_folder(folder.c_str(), entries, reason)) {
        scan.jobs.push_back({folder, PathString(), PathString(), reason});
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    for (const FolderEntry& entry : entries) {
        const PathString path = join(folder, entry.name);
        if (entry.kind == PathKind::FOLDER) {
            if (scan.options.recursive && !entry.linked) {
                scan_folder(scan, path, join(relative, entry.name));
            }
        } else if (!ends_in_tex(entry.name)) {
            continue;
        } else if (entry.kind == PathKind::OTHER) {
            // A pipe would block the read for ever; a device is no texture.
            scan.jobs.push_back({path, PathString(), PathString(), "not a regular file"});
        } else {
            add_file(scan, path, entry.name, relative);
        }
    }
}

// Two inputs with one output would race to write it, and an output that is
// another job's input would be replaced while read: when writing, each such
// job after the first is refused. The same input found twice (a folder and
// a file in it) runs once.
void refuse_shared_outputs(std::vector<BatchJob>& jobs, bool writing) {
    std::unordered_set<PathString> inputs;
    for (const BatchJob& job : jobs) {
        inputs.insert(path_key(job.input));
    }
    std::unordered_map<PathString, size_t> outputs;
    std::vector<BatchJob> kept;
    kept.reserve(jobs.size());
    for (BatchJob& job : jobs) {
        if (job.refused.empty()) {
            const PathString key = path_key(job.output);
            const auto [first, inserted] = outputs.emplace(key, kept.size());
            if (!inserted) {
                const BatchJob& other = kept[first->second];
                if (path_key(other.input) == path_key(job.input)) {
                    continue;
                }
                if (!writing) {
                    kept.push_back(std::move(job));
                    continue;
                }
                job.refused = "its output " + path_for_message(job.output.c_str()) +
                              " is also the output of " + path_for_message(other.input.c_str());
            } else if (writing && inputs.count(key) != 0) {
                job.refused = "its output " + path_for_message(job.output.c_str()) +
                              " is also an input";
            }
        }
        kept.push_back(std::move(job));
    }
    jobs = std::move(kept);
}

}  // namespace

bool find_jobs(const BatchOptions& options, std::vector<BatchJob>& jobs, std::string& why) {
    std::vector<PathKind> kinds;
    for (const PathString& path : options.paths) {
        PathInfo info{};
        std::string reason;
        if (!path_info(path.c_str(), info, reason)) {
            why = path_for_message(path.c_str()) + ": " + reason;
            return false;
        }
        if (info.kind == PathKind::MISSING) {
            why = path_for_message(path.c_str()) + ": " + std::strerror(ENOENT);
            return false;
        }
        kinds.push_back(info.kind);
    }
    if (!options.output_folder.empty() && !options.check) {
        PathInfo info{};
        std::string reason;
        if (path_info(options.output_folder.c_str(), info, reason) &&
            info.kind != PathKind::MISSING && info.kind != PathKind::FOLDER) {
            why = path_for_message(options.output_folder.c_str()) + ": not a folder";
            return false;
        }
    }
    Scan scan{options, jobs};
    for (size_t i = 0; i < options.paths.size(); ++i) {
        const PathString& path = options.paths[i];
        if (kinds[i] == PathKind::FOLDER) {
            scan_folder(scan, path, PathString());
            continue;
        }
        size_t start = path.size();
        while (start > 0 && !ends_a_folder(path[start - 1])) {
            --start;
        }
        add_file(scan, path, path.substr(start), PathString());
    }
    refuse_shared_outputs(jobs, !options.check);
    return true;
}
