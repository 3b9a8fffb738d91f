#pragma once
// A test fixture that points both registry roots and the runtime folder at fresh temporary
// folders.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/tempdir.h"

class XdgSandbox : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.empty());
        ::setenv("XDG_CONFIG_HOME", (m_dir / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", ((m_dir / "etc").string() + ":/nonexistent").c_str(), 1);
        // The user's runtime folder, where local sockets live: the test's own.
        const std::filesystem::path run = m_dir / "run";
        std::filesystem::create_directories(run);
        std::filesystem::permissions(run, std::filesystem::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    }

    static std::string UserFile() {
        return platform::RegistryFilePath(platform::RegistryRoot::CurrentUser);
    }
    static std::string MachineFile() {
        return platform::RegistryFilePath(platform::RegistryRoot::MachineWide);
    }
    // The machine-wide root exists only when an installer made it: an empty file is an
    // empty database.
    static void MakeMachineRoot() {
        const std::filesystem::path file = MachineFile();
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file).flush();
    }
    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Files next to the user's database whose names start with registry.db.corrupt-.
    static std::vector<std::string> QuarantinedFiles() {
        std::vector<std::string> found;
        const std::filesystem::path dir = std::filesystem::path(UserFile()).parent_path();
        if (!std::filesystem::exists(dir)) {
            return found;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("registry.db.corrupt-", 0) == 0 &&
                name.find("-wal") == std::string::npos && name.find("-shm") == std::string::npos) {
                found.push_back(entry.path().string());
            }
        }
        return found;
    }

    testsupport::TempDir m_temp;
    std::filesystem::path m_dir = m_temp.Path();
};
