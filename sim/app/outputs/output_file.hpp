// A file of the run, written under a temporary name and moved to its own name
// only once whole, so that a name in the output folder always means a whole
// file. Writes come from inside the firmware's contexts, where nothing may
// throw: the first failure is kept, ends the run at its next slice, and
// commit() reports it.
#pragma once

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// An output that cannot be written; the message names the file and the
/// system's reason.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class OutputFile {
  public:
    /// The name a file has while it is written.
    static std::string temp_name(const std::string& name) { return name + ".partial"; }

    /// Opens `dir`/temp_name(`name`) afresh; a failure is kept.
    OutputFile(const std::filesystem::path& dir, const std::string& name);
    /// Removes the temporary file unless committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(std::string_view bytes) {
        if (bytes.size() > buffer_.size() - used_) {
            drain();
            if (bytes.size() > buffer_.size()) {
                write_through(bytes);
                return;
            }
        }
        std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
    }
    void put(char c) { write(std::string_view(&c, 1)); }

    /// A write, the open or the close has failed.
    bool failed() const { return error_ != 0; }
    /// Writes what is buffered, closes the file and gives it its name.
    /// Throws OutputError naming the file and the reason.
    void commit();
    const std::filesystem::path& path() const { return path_; }

  private:
    void drain();
    void write_through(std::string_view bytes);
    void fail(int error) {
        if (error_ == 0) {
            error_ = error;
        }
    }

    std::filesystem::path path_, temp_;
    int fd_ = -1;
    int error_ = 0;
    bool committed_ = false;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

}  // namespace sim
