// The output folder of one run: created if missing, held by the run (a lock
// on gimbal-sim.lock in it, released when the process ends), and cleared of
// the files an earlier run left there. Only the names the registry knows are
// removed; nothing else in the folder is touched.
#pragma once

#include <filesystem>
#include <stdexcept>

namespace sim {

/// Removes every file of the registry's (temporary names included) from
/// `dir`; throws OutputError.
void clear_outputs(const std::filesystem::path& dir);

/// Another run holds the folder.
class FolderInUse : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class OutputFolder {
  public:
    static constexpr const char* kLockName = "gimbal-sim.lock";

    /// Throws FolderInUse, or OutputError when the folder cannot be made,
    /// locked or cleared.
    explicit OutputFolder(const std::filesystem::path& dir);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

  private:
    int lock_fd_ = -1;
};

}  // namespace sim
