#include "platform/sharedlibrary.h"

#include <dlfcn.h>

namespace platform {

SharedLibrary::SharedLibrary(const char* soname)
    : m_handle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
    if (m_handle == nullptr) {
        const char* reason = ::dlerror();
        m_problem = reason != nullptr ? reason : std::string(soname) + " could not be loaded";
    }
}

void* SharedLibrary::Symbol(const char* name) {
    if (m_handle == nullptr) {
        return nullptr;
    }
    ::dlerror();  // clears an earlier failure, so the one read below is this lookup's
    void* found = ::dlsym(m_handle, name);
    if (found == nullptr) {
        const char* reason = ::dlerror();
        m_problem = reason != nullptr ? reason : std::string(name) + " is missing";
    }
    return found;
}

}  // namespace platform
