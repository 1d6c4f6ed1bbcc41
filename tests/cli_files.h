// What the tests of the program as a process share: its path, a folder of
// their own, files written and read whole, and the smallest conversion.
#ifndef TAVRIMOX_TESTS_CLI_FILES_H
#define TAVRIMOX_TESTS_CLI_FILES_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tex_file.h"

inline const std::string EXE = TAVRIMOX_EXE;

// The name as the program receives it on the command line: UTF-8 on Windows
// (the runner makes it UTF-16), the bytes themselves on POSIX.
inline std::string arg_of(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.native();
#endif
}

// A new, empty folder in the temp folder. create_directory fails on a name
// that exists, so test processes running at once never share one.
inline std::filesystem::path new_temp_folder(const std::string& prefix) {
    std::random_device random;
    for (;;) {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) {
            return dir;
        }
    }
}

inline void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << arg_of(path);
}

// The file's bytes, or a marker that it is missing or unreadable.
inline Bytes read_bytes(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        return bytes_of("<cannot open>");
    }
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Each file's own: <windows.h> declares a global ABC.
namespace {
const Bytes ABC = bytes_of("abc");
const Bytes VALID_TEX = tex_file(stored_block(ABC, true), 3);
const Bytes VALID_DDS = dds_file(ABC);
}  // namespace

#endif
