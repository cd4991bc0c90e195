// Helpers for the trash and deletion tests: read what a trash folder holds on
// disk. Bodies run in a child with run_in_child or SPACEMOLE_IN_MOUNT_NAMESPACE.
#pragma once

#include <string>
#include <vector>

#include "i18n.h"

namespace testing_support {

bool exists(const std::string& path);                       // lstat succeeds
std::vector<std::string> list_dir(const std::string& path); // sorted, without . and ..
void set_env(const char* name, const std::string& value);

// Messages are compared in English whatever the machine's locale says.
inline const bool english_messages = (I18n::instance().set_language("en"), true);

} // namespace testing_support
