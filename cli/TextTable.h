// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace matrix::cli {

// Columns padded to their widest cell, two blanks apart, a header row on top.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) : header_(std::move(header)) {}
    void addRow(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::string render() const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace matrix::cli
