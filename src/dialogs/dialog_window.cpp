#include "dialogs/dialog_window.h"

#include <memory>
#include <mutex>
#include <string>

#include "dialogs/dialog_view.h"
#include "platform/display_window.h"
#include "platform/language.h"
#include "platform/log.h"
#include "platform/message_window.h"
#include "platform/module.h"

namespace quorix::dialogs {
namespace {

// The model as the view module reaches it.
class ModelPort final : public DialogPort {
public:
    explicit ModelPort(DialogModel& model) : m_model(model) {}
    const std::string& Caption() const override { return m_model.Caption(); }
    const std::vector<Control>& Controls() const override { return m_model.Controls(); }
    int Result() const override { return m_model.Result(); }
    void SetListener(DialogModel::Listener listener) override {
        m_model.SetListener(std::move(listener));
    }
    bool Scroll(int32_t id, int32_t position) override { return m_model.Scroll(id, position); }
    bool EditText(int32_t id, const std::string& text) override {
        return m_model.EditText(id, text);
    }
    bool Select(int32_t id, int32_t index) override { return m_model.Select(id, index); }
    bool Check(int32_t id, bool checked) override { return m_model.Check(id, checked); }
    bool Click(int32_t id) override { return m_model.Click(id); }
    void Escape() override { m_model.Escape(); }
    bool ShowFrameChanges() override { return m_model.ShowFrameChanges(); }

private:
    DialogModel& m_model;
};

struct ViewModule {
    ViewOpenFunction open = nullptr;
    ViewRunFunction run = nullptr;
};

// The view module beside the library, else wherever the system loader finds it.
platform::LoadedModule OpenModule() {
    std::string reason;
    platform::LoadedModule module =
        platform::LoadedModule::Open(platform::ThisModuleFolder() + kViewModuleName, &reason);
    if (module.IsOpen()) {
        return module;
    }
    platform::Log("Dialogs", "%s", reason.c_str());
    module = platform::LoadedModule::Open(kViewModuleName, &reason);
    if (!module.IsOpen()) {
        platform::Log("Dialogs", "%s", reason.c_str());
    }
    return module;
}

// The view module, loaded once and kept for the life of the process (the toolkit it loads
// cannot be unloaded safely). Null when it is missing or of another version; tried again then.
const ViewModule* LoadViewModule() {
    static std::mutex mutex;
    static ViewModule loaded;
    const std::lock_guard lock(mutex);
    if (loaded.run != nullptr) {
        return &loaded;
    }
    platform::LoadedModule module = OpenModule();
    if (!module.IsOpen()) {
        return nullptr;
    }
    const auto version = reinterpret_cast<ViewVersionFunction>(module.Symbol(kViewVersionSymbol));
    const auto open = reinterpret_cast<ViewOpenFunction>(module.Symbol(kViewOpenSymbol));
    const auto run = reinterpret_cast<ViewRunFunction>(module.Symbol(kViewRunSymbol));
    if (version == nullptr || open == nullptr || run == nullptr ||
        version() != kViewInterfaceVersion) {
        platform::Log("Dialogs", "%s is not a view module of this library", kViewModuleName);
        return nullptr;
    }
    module.KeepLoaded();
    loaded.open = open;
    loaded.run = run;
    return &loaded;
}

}  // namespace

int ShowDialog(DialogKind kind, CQuorix& context, QuorixWindow owner) {
    // The dialogs set up and change an open camera.
    if (context.Engine() == nullptr || context.DeviceNumber() < 0) {
        return context.NotAvailable(0);
    }
    // GTK serves one thread at a time: dialogs of contexts on different threads open one after
    // the other, never together. The thread showing a dialog may open another from within its
    // main loop (a timer of the application's), which nests.
    static std::recursive_mutex toolkit;
    const std::lock_guard lock(toolkit);
    // The module and the display are checked before the model exists: the camera dialog's model
    // stops a running preview, which must not happen for a dialog that cannot be shown.
    const ViewModule* module = LoadViewModule();
    if (module == nullptr || module->open() == 0) {
        platform::Log("Dialogs", "no dialog view: %s",
                      module == nullptr ? "no module" : "no display");
        context.SetError(kErrWindow);
        return 0;
    }
    // GTK has put its X error handlers in front of the library's preview windows' own.
    platform::ReinstallXErrorHandlers();
    std::unique_ptr<DialogModel> model = OpenDialog(kind, context, platform::SystemLanguage());
    if (model == nullptr) {
        return context.NotAvailable(0);
    }
    ModelPort port(*model);
    // Only an application's X11 window can own the dialog; a message window has no place on
    // the screen, and the dialog then stands alone.
    module->run(&port, platform::X11WindowOf(reinterpret_cast<platform::WindowHandle>(owner)));
    model->SetListener(nullptr);
    return model->Finish();
}

}  // namespace quorix::dialogs
