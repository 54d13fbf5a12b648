#include "tests/fuzz/fuzzutil.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/option.h"

namespace fuzz {

const std::string& GameDir() {
    // Never destroyed: the clean-up at exit below still needs the path.
    static const std::string& dir = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "nuvel-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) {
            std::perror("fuzz game folder");
            std::abort();
        }
        // The folder goes with the process; libFuzzer ends through exit().
        std::atexit([] { std::filesystem::remove_all(GameDir()); });
        return pattern;
    }());
    return dir;
}

void WriteInput(const char* gamePath, const uint8_t* data, size_t size) {
    std::filesystem::path path = std::filesystem::path(GameDir()) / gamePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

std::string ReadBack(const char* gamePath) {
    std::ifstream in(std::filesystem::path(GameDir()) / gamePath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CheckSavedSettingsAreStable() {
    theOption.Save();
    std::string first = ReadBack("option.txt");
    theOption.Load();
    theOption.Save();
    if (ReadBack("option.txt") != first) std::abort();
}

}  // namespace fuzz
