// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/formats/FirmwareContainer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace matrix::testing {

// A scratch folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (auto& c : name)
            if (c == '/')
                c = '_';
        path_ = std::filesystem::temp_directory_path() / ("fwtest_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string folder() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

inline Bytes patternBytes(std::size_t length, unsigned seed = 7)
{
    Bytes bytes(length);
    unsigned x = seed;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// An image made of one part: its marker and `length` data bytes.
inline Bytes partImage(std::uint8_t m0, std::uint8_t m1, std::size_t length, unsigned seed = 7)
{
    Bytes image{m0, m1};
    Bytes data = patternBytes(length, seed);
    // Keep stray markers out of the data so that part boundaries stay where the test puts them.
    for (auto& b : data)
        if (b == 0xA3 || b == 0xA4)
            b = 0x11;
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

inline std::string writeContainer(const ScratchDir& dir, const std::string& name, Bytes image)
{
    scramble(image);
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeFile(path, image));
    return path;
}

}  // namespace matrix::testing
