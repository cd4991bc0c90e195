#include "paths.h"

#include <gtest/gtest.h>

#include "mount_namespace.h"
#include "temp_tree.h"

namespace {

using testing_support::run_in_mount_namespace;

TEST(MountNamespaceFixture, TmpfsMountsAreVisibleInsideOnly) {
    testing_support::TempTree tree;
    const std::string point = tree.dir("mnt");
    SPACEMOLE_IN_MOUNT_NAMESPACE([&] {
        if (!testing_support::mount_tmpfs(point)) return false;
        testing_support::write_file(point + "/inside", "x");
        return testing_support::read_file(point + "/inside") == "x";
    });
    EXPECT_EQ(testing_support::read_file(point + "/inside"), "");
}

} // namespace
