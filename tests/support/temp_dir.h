// A fresh directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("mirel-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path as a string with a trailing separator, as szLogPath holds directories.
  std::string WithSeparator() const { return (path_ / "").string(); }

 private:
  std::filesystem::path path_;
};
