// gimbal-sim run as a user runs it, in a temporary folder of its own: its
// exit status, standard output and error, and the files it wrote.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace sim_run {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // exit status, or -1 if the command did not exit
    std::string out;
    std::string err;
};

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

/// A fresh folder under the system's temporary one, removed with the object.
class TempDir {
  public:
    TempDir() {
        std::string name = (fs::temp_directory_path() / "gimbal-test-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a folder under " << fs::temp_directory_path();
        }
        path_ = name;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

/// Runs `argv` (looked up on PATH), its standard output and error into
/// files in `dir`, and waits for it.
inline Outcome run_command(std::vector<std::string> argv, const fs::path& dir) {
    const fs::path out = dir / "stdout", err = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    Outcome o;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return o;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = read_file(out);
    o.err = read_file(err);
    return o;
}

/// sigrok-cli's I2C decoder over a VCD of the bus (wires `scl`, `sda`): one
/// line per event, "<first>-<last> i2c-1: <text>", in samples of the VCD's
/// 1 ns timescale times `downsample`.
inline Outcome decode_i2c(const fs::path& vcd, const fs::path& dir, int downsample = 1) {
    return run_command({"sigrok-cli", "-I", "vcd:downsample=" + std::to_string(downsample), "-i",
                        vcd.string(), "-P", "i2c:scl=scl:sda=sda", "-A",
                        "i2c=start:repeat-start:stop:ack:nack:address-read:address-write:"
                        "data-read:data-write",
                        "--protocol-decoder-samplenum"},
                       dir);
}

#ifdef GIMBAL_SIM_EXE
/// A test with a temporary folder `dir_` and gimbal-sim to run in it.
class GimbalSimTest : public ::testing::Test {
  protected:
    /// Runs gimbal-sim with `args`.
    Outcome run(const std::vector<std::string>& args) {
        std::vector<std::string> all = {GIMBAL_SIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        return run_command(all, dir_);
    }
    /// Runs a shell script, $SIM being gimbal-sim and $D the test's folder.
    Outcome run_shell(const std::string& script) {
        return run_command(
            {"/usr/bin/env", "SIM=" GIMBAL_SIM_EXE, "D=" + dir_.string(), "/bin/sh", "-c", script},
            dir_);
    }
    /// `text` as the folder's scenario.json.
    fs::path scenario(const std::string& text) {
        const fs::path path = dir_ / "scenario.json";
        write_file(path, text);
        return path;
    }

    TempDir temp_;
    const fs::path& dir_ = temp_.path();
};
#endif

}  // namespace sim_run
