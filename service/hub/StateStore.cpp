// SPDX-License-Identifier: Apache-2.0
#include "service/hub/StateStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace matrix::service {

namespace {

bool writeAll(int fd, const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool StateStore::createDirectory(const std::string& dir, std::string* error)
{
    std::error_code code;
    const std::filesystem::path path(dir);
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), code);
    // Names and scenes are nobody else's business: 0700, not the umask's 0755.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = dir + ": cannot be created: " + std::strerror(errno);
        return false;
    }
    return true;
}

StateStore::StateStore(std::string dir) : dir_(std::move(dir)), path_(dir_ + "/state.json") {}

std::optional<std::string> StateStore::load()
{
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            return std::nullopt;
        writable_ = false;
        return path_ + ": cannot be read: " + std::strerror(errno);
    }
    std::stringstream content;
    content << in.rdbuf();
    auto parsed = nlohmann::json::parse(content.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() ||
        (parsed.contains("matrices") && !parsed["matrices"].is_object())) {
        writable_ = false;
        return path_ +
               ": corrupt state file (not the JSON object matrixd writes); fix or remove it, it is left as it is";
    }
    document_ = std::move(parsed);
    return std::nullopt;
}

nlohmann::json& StateStore::matrix(const std::string& id)
{
    auto& matrices = document_["matrices"];
    if (!matrices.is_object())
        matrices = nlohmann::json::object();
    auto& section = matrices[id];
    if (!section.is_object())
        section = nlohmann::json::object();
    return section;
}

std::vector<Schedule> StateStore::schedules(const std::string& id, std::vector<std::string>* problems)
{
    std::vector<Schedule> list;
    const auto& section = matrix(id);
    const auto stored = section.find("schedules");
    if (stored == section.end() || !stored->is_object())
        return list;
    for (const auto& [name, value] : stored->items()) {
        std::string error = "not an object with scene, at and days";
        if (value.is_object() && value.value("scene", nlohmann::json()).is_string() &&
            value.value("at", nlohmann::json()).is_string() && value.value("days", nlohmann::json()).is_array() &&
            std::all_of(value["days"].begin(), value["days"].end(), [](const auto& d) { return d.is_string(); })) {
            auto checked = makeSchedule(name, value["scene"].get<std::string>(), value["at"].get<std::string>(),
                                        value["days"].get<std::vector<std::string>>());
            if (checked.schedule) {
                list.push_back(std::move(*checked.schedule));
                continue;
            }
            error = checked.error;
        }
        if (problems)
            problems->push_back(path_ + ": matrix " + id + ": schedule '" + name + "' left out: " + error);
    }
    return list;
}

void StateStore::setSchedules(const std::string& id, const std::vector<Schedule>& schedules)
{
    auto stored = nlohmann::json::object();
    for (const auto& schedule : schedules)
        stored[schedule.name] = {
            {"scene", schedule.scene}, {"at", atText(schedule.atMinute)}, {"days", dayNames(schedule.days)}};
    matrix(id)["schedules"] = std::move(stored);
}

bool StateStore::save(std::string* error)
{
    auto failed = [&](const std::string& what) {
        if (error)
            *error = path_ + ": " + what + ": " + std::strerror(errno);
        return false;
    };
    if (!writable_) {
        errno = EPERM;
        return failed("not written over a file that did not load");
    }
    const std::string temporary = path_ + ".tmp";
    const std::string data = document_.dump(2) + "\n";
    // Whatever sits at the temporary name (left by a crash, or planted as a
    // symlink to another file) is removed, never opened: the new file is
    // created exclusively, so a link put there in between fails the save.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        return failed("cannot remove the old " + temporary);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed("cannot create " + temporary);
    if (!writeAll(fd, data) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = saved;
        return failed("cannot write " + temporary);
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return failed("cannot rename " + temporary);
    }
    // The rename itself lives in the directory: sync it too, so the new file survives a power cut.
    const int dirFd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace matrix::service
