// Site folders, and a test suite sharing one running site and one folder for its files: the suite's
// SetUpTestSuite fills folder_ and starts site_; both go when the suite ends.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SiteProcess.h"
#include "TempDir.h"

namespace velmora::test {

// Makes root's media and downloads folders and the files (name under root, bytes); returns
// the site options that serve them, then the others.
inline std::vector<std::string>
SiteFolders(const TempDir& root, const std::vector<std::pair<std::string, std::string>>& files = {},
            const std::vector<std::string>& others = {}) {
    EXPECT_EQ(mkdir(root.File("media").c_str(), 0755), 0);
    EXPECT_EQ(mkdir(root.File("downloads").c_str(), 0755), 0);
    for (const auto& [name, bytes] : files) {
        WriteFileBytes(root.File(name), bytes);
    }
    std::vector<std::string> options = {"--media", root.File("media"), "--downloads",
                                        root.File("downloads")};
    options.insert(options.end(), others.begin(), others.end());
    return options;
}

class SharedSiteTest : public ::testing::Test {
  protected:
    static void TearDownTestSuite() {
        site_.reset();
        folder_.reset();
    }
    inline static std::unique_ptr<TempDir> folder_;
    inline static std::unique_ptr<SiteProcess> site_;
};

} // namespace velmora::test
