#pragma once

#include <string>

namespace quorix::platform {

// A shared library loaded at run time, as the settings dialogs load their toolkit views. Owns the
// load: the module is unloaded when the object goes, unless KeepLoaded gave it to the process.
// Movable, not copyable.
class LoadedModule {
public:
    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(LoadedModule&& other) noexcept;
    LoadedModule& operator=(LoadedModule&& other) noexcept;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Loads the module at `path` with all its references resolved now; a bare file name is looked
    // for along the system loader's search path. On failure the result is not open and `reason`
    // (when given) receives the loader's explanation.
    static LoadedModule Open(const std::string& path, std::string* reason = nullptr);

    bool IsOpen() const { return m_module != nullptr; }

    // The address of the exported function `name`, or null when the module has none (or is not
    // open). Cast to the function's type by the caller, which knows the module's interface.
    void* Symbol(const char* name) const;

    // Leaves the module loaded until the process ends, for modules that cannot be unloaded
    // safely (a toolkit that registers process-wide state); this object no longer owns it.
    void KeepLoaded() { m_module = nullptr; }

private:
    explicit LoadedModule(void* module) : m_module(module) {}

    void* m_module = nullptr;
};

// The folder of the module (shared library or program) that holds this code, with its final
// separator, so that companion modules are found beside the library wherever it was installed;
// "" when the system cannot tell.
std::string ThisModuleFolder();

}  // namespace quorix::platform
