// How paths name their files: the parts that do not depend on the system.
#include "io/path.h"
#include "io/path_system.h"

#include <string>

namespace kz {

bool same_file(const char* first, const char* second) {
    const bool first_exists = path_exists(first);
    if (first_exists || path_exists(second)) {
        return first_exists && same_identity(first, second);
    }
    const std::string_view a(first);
    const std::string_view b(second);
    return same_name(a.substr(file_name_start(a)), b.substr(file_name_start(b))) &&
           same_identity(folder_of(a).c_str(), folder_of(b).c_str());
}

} // namespace kz
