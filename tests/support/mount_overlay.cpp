#include "mount_overlay.h"

#include <sys/mount.h>
#include <sys/stat.h>

namespace testing_support {

bool mount_overlay(const std::string& scratch, const std::string& point,
                   const std::string& source) {
    ::mkdir(scratch.c_str(), 0755);
    for (const char* sub : {"/lower", "/upper", "/work"})
        ::mkdir((scratch + sub).c_str(), 0755);
    const std::string options = "lowerdir=" + scratch + "/lower,upperdir=" + scratch +
                                "/upper,workdir=" + scratch + "/work";
    return ::mount(source.c_str(), point.c_str(), "overlay", 0, options.c_str()) == 0;
}

} // namespace testing_support
