// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace matrix::edid {

// The real display EDIDs kept with the tests, and a scratch directory for
// the broken variants a test makes from them.
class TempEdidDir {
public:
    using Bytes = std::vector<std::uint8_t>;

    static std::vector<std::string> sampleNames()
    {
        return {"monitor-lenovo-128.bin", "monitor-nec-128.bin", "monitor-samsung-128.bin",
                "tv-lg-256.bin",          "tv-samsung-256.bin",  "tv-sony-256.bin"};
    }

    TempEdidDir()
    {
        static int counter = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("edid-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(dir_);
    }
    ~TempEdidDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempEdidDir(const TempEdidDir&) = delete;
    TempEdidDir& operator=(const TempEdidDir&) = delete;

    static std::string sample(const std::string& name) { return std::string(MATRIX_EDID_DATA_DIR) + "/" + name; }
    std::string dir() const { return dir_.string(); }

    static Bytes read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        EXPECT_TRUE(in.good()) << path;
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string write(const std::string& name, const Bytes& bytes) const
    {
        const std::string path = (dir_ / name).string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

private:
    std::filesystem::path dir_;
};

}  // namespace matrix::edid
