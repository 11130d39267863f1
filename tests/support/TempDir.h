// A fresh temporary directory that is the working directory for the object's lifetime.
#pragma once

#include <string>

namespace velmora::test {

class TempDir {
  public:
    // Creates the directory and, unless enter is false, makes it the working directory.
    explicit TempDir(bool enter = true);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::string previous_;
    bool entered_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace velmora::test
