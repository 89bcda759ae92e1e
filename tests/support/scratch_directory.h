// A fresh directory for one test under $TARNWICK_TEST_TMP (else the system's temporary
// directory), removed with its contents at the end of the test; and whole-file helpers.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace tarnwick::testing {

class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* base = std::getenv("TARNWICK_TEST_TMP");
        const auto parent =
            base ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(parent);
        std::string name = (parent / "scratch-XXXXXX").string();
        if (!mkdtemp(name.data())) ADD_FAILURE() << "mkdtemp failed under " << parent;
        path_ = name;
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }  // without trailing "/"
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Deterministic bytes of every value, so that a shifted or dropped block shows.
inline std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7919) & 0xff);
    return bytes;
}

}  // namespace tarnwick::testing
