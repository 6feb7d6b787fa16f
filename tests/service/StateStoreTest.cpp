// SPDX-License-Identifier: Apache-2.0
// The state file: what a save writes comes back at the next start, and a
// file that does not parse stops the start and is never written over.
#include "service/hub/StateStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace matrix::service {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class StateStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("matrixd-state-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(StateStoreTest, SavedStateComesBackAndLeavesNoTemporaryFile)
{
    StateStore first(dir_.string());
    EXPECT_FALSE(first.load());  // no file yet: an empty state
    first.matrix("hall")["scenes"]["talk"] = {3, 0, 2, 0};
    ASSERT_TRUE(first.save());
    EXPECT_FALSE(fs::exists(dir_ / "state.json.tmp"));

    StateStore second(dir_.string());
    EXPECT_FALSE(second.load());
    EXPECT_EQ(second.matrix("hall")["scenes"]["talk"], nlohmann::json({3, 0, 2, 0}));
}

TEST_F(StateStoreTest, CorruptFileIsReportedAndNeverOverwritten)
{
    for (const std::string corrupt : {"{\"matrices\": {\"hall\": ", "[1, 2]", "{\"matrices\": 3}", ""}) {
        std::ofstream(dir_ / "state.json") << corrupt;
        StateStore store(dir_.string());
        const auto error = store.load();
        ASSERT_TRUE(error) << corrupt;
        EXPECT_NE(error->find("state.json"), std::string::npos);
        store.matrix("hall")["scenes"] = nlohmann::json::object();
        EXPECT_FALSE(store.save());
        EXPECT_EQ(readFile(dir_ / "state.json"), corrupt);
    }
}

TEST_F(StateStoreTest, SchedulesAreKeptBesideWhatOlderFilesHold)
{
    // A file from before schedules: scenes only.
    std::ofstream(dir_ / "state.json") << R"({"matrices":{"hall":{"scenes":{"talk":[3,0,2,0]}}}})";
    StateStore first(dir_.string());
    ASSERT_FALSE(first.load());
    EXPECT_TRUE(first.schedules("hall").empty());
    const Schedule lobby{"lobby", "Signage", 7 * 60 + 30, 0b0011111};
    first.setSchedules("hall", {lobby});
    ASSERT_TRUE(first.save());
    const auto saved = nlohmann::json::parse(readFile(dir_ / "state.json"));
    EXPECT_EQ(saved["matrices"]["hall"]["scenes"]["talk"], nlohmann::json({3, 0, 2, 0}));
    EXPECT_EQ(saved["matrices"]["hall"]["schedules"], nlohmann::json::parse(R"({"lobby":{"scene":"Signage","at":"07:30",
                                        "days":["mon","tue","wed","thu","fri"]}})"));

    StateStore second(dir_.string());
    ASSERT_FALSE(second.load());
    EXPECT_EQ(second.schedules("hall"), std::vector<Schedule>{lobby});

    // An entry edited by hand into something wrong is left out and named.
    second.matrix("hall")["schedules"]["bad"] = {{"scene", "S"}, {"at", "25:00"}, {"days", {"mon"}}};
    std::vector<std::string> problems;
    EXPECT_EQ(second.schedules("hall", &problems), std::vector<Schedule>{lobby});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("schedule 'bad' left out: at must be HH:MM"), std::string::npos) << problems[0];
}

TEST_F(StateStoreTest, PlantedLinkIsNeverFollowedAndTheDirectoryIsPrivate)
{
    std::ofstream(dir_ / "victim") << "precious";
    fs::create_symlink(dir_ / "victim", dir_ / "state.json.tmp");
    StateStore store(dir_.string());
    EXPECT_FALSE(store.load());
    store.matrix("hall")["scenes"]["talk"] = {3, 0, 2, 0};
    ASSERT_TRUE(store.save());
    EXPECT_EQ(readFile(dir_ / "victim"), "precious");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "state.json.tmp")));
    EXPECT_NE(readFile(dir_ / "state.json").find("talk"), std::string::npos);
    EXPECT_EQ(fs::status(dir_ / "state.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    const fs::path fresh = dir_ / "var" / "lib" / "matrixd";
    ASSERT_TRUE(StateStore::createDirectory(fresh.string()));
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_all);

    // A directory that went away: the save says it failed, and where.
    StateStore gone((dir_ / "gone").string());
    std::string error;
    EXPECT_FALSE(gone.save(&error));
    EXPECT_NE(error.find("state.json.tmp"), std::string::npos) << error;
}

}  // namespace
}  // namespace matrix::service
