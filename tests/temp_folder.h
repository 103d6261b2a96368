// A fresh folder of its own for one test (mkdtemp, so tests running at once never share one; in
// the temporary folder unless the prefix is an absolute path),
// removed with all it holds when the object goes away; while it lives it can also be the working
// folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class TempFolder {
 public:
  enum Entry { kStayOutside, kEnter };

  explicit TempFolder(const std::string& prefix = "mub-test", Entry entry = kStayOutside) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("no temporary folder could be made from " + pattern);
    path_ = pattern;
    if (entry == kEnter) {
      previous_ = std::filesystem::current_path();
      std::filesystem::current_path(path_);
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string string() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};
