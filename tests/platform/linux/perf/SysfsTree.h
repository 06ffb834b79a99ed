#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tv2 {

// A recorded sysfs/procfs tree in a private temporary folder, removed with
// the object: tests write the files a kernel would show.
class SysfsTree {
 public:
  SysfsTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tv2-sysfs-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made != nullptr) m_root = made;
  }
  ~SysfsTree() {
    std::error_code ignored;
    if (!m_root.empty()) std::filesystem::remove_all(m_root, ignored);
  }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  const std::string& root() const { return m_root; }
  std::string path(const std::string& relative) const { return m_root + "/" + relative; }

  void write(const std::string& relative, const std::string& content) const {
    std::filesystem::path file(path(relative));
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
  }
  void folder(const std::string& relative) const { std::filesystem::create_directories(path(relative)); }
  // A symbolic link at `relative` pointing at `target` (taken as given).
  void link(const std::string& relative, const std::string& target) const {
    std::filesystem::path file(path(relative));
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::create_symlink(target, file);
  }

 private:
  std::string m_root;
};

}  // namespace tv2
