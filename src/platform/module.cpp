#include "platform/module.h"

#include <dlfcn.h>

#include <utility>

namespace quorix::platform {

LoadedModule::~LoadedModule() {
    if (m_module != nullptr) {
        dlclose(m_module);
    }
}

LoadedModule::LoadedModule(LoadedModule&& other) noexcept
    : m_module(std::exchange(other.m_module, nullptr)) {}

LoadedModule& LoadedModule::operator=(LoadedModule&& other) noexcept {
    if (this != &other) {
        if (m_module != nullptr) {
            dlclose(m_module);
        }
        m_module = std::exchange(other.m_module, nullptr);
    }
    return *this;
}

LoadedModule LoadedModule::Open(const std::string& path, std::string* reason) {
    // Local binding keeps the module's symbols from resolving anyone else's references.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr && reason != nullptr) {
        const char* error = dlerror();
        *reason = error != nullptr ? error : path + ": cannot be loaded";
    }
    return LoadedModule(module);
}

void* LoadedModule::Symbol(const char* name) const {
    return m_module != nullptr ? dlsym(m_module, name) : nullptr;
}

std::string ThisModuleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&ThisModuleFolder), &info) == 0 ||
        info.dli_fname == nullptr) {
        return "";
    }
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace quorix::platform
