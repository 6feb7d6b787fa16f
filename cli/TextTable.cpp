// SPDX-License-Identifier: Apache-2.0
#include "cli/TextTable.h"

#include <algorithm>

namespace matrix::cli {

namespace {

// Display width: UTF-8 continuation bytes take no column.
std::size_t columns(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::string TextTable::render() const
{
    std::vector<std::size_t> widths(header_.size(), 0);
    auto measure = [&](const std::vector<std::string>& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], columns(row[i]));
    };
    measure(header_);
    for (const auto& row : rows_)
        measure(row);

    std::string out;
    auto emit = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            std::string cell = i < row.size() ? row[i] : "";
            line += cell;
            if (i + 1 < widths.size())
                line += std::string(widths[i] - columns(cell) + 2, ' ');
        }
        out += line + "\n";
    };
    emit(header_);
    for (const auto& row : rows_)
        emit(row);
    return out;
}

}  // namespace matrix::cli
