// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Schedule.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// What the service learns at run time (scenes, renamed ports), kept in
// DIR/state.json as {"matrices":{"<id>":{...}}}. Every save writes the whole
// file to a temporary name, syncs it and renames it over the old one, so a
// kill at any moment leaves either the old or the new file.
class StateStore {
public:
    explicit StateStore(std::string dir);

    // Makes the state directory (and its parents) when missing; the directory
    // itself 0700. An existing directory is left as it is.
    static bool createDirectory(const std::string& dir, std::string* error = nullptr);

    // Reads the file; a missing file is an empty state. A file that does not
    // parse gives an error text, and the store then refuses to save, so the
    // file is never overwritten.
    std::optional<std::string> load();

    // The section of one matrix (created empty when missing).
    nlohmann::json& matrix(const std::string& id);
    // One matrix's schedules, kept in its section as
    //   "schedules":{"NAME":{"scene":"Signage","at":"07:30","days":["mon","tue"]}}
    // (files from before schedules simply have none). An entry that does not
    // check is left out, with a line in `problems`.
    std::vector<Schedule> schedules(const std::string& id, std::vector<std::string>* problems = nullptr);
    // Replaces them in the document; save() writes them.
    void setSchedules(const std::string& id, const std::vector<Schedule>& schedules);

    // Writes the file; false with an error text when that failed.
    bool save(std::string* error = nullptr);

    const std::string& path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
    nlohmann::json document_ = nlohmann::json::object();
    bool writable_ = true;
};

}  // namespace matrix::service
