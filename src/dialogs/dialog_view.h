#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/dialog_model.h"

namespace quorix::dialogs {

// What a toolkit view module sees of an open dialog. The library implements it over a
// DialogModel and hands it to the module, which is loaded at run time and reaches the model only
// through these virtual calls (the model's own functions stay inside the library).
class DialogPort {
public:
    virtual ~DialogPort() = default;
    virtual const std::string& Caption() const = 0;
    virtual const std::vector<Control>& Controls() const = 0;
    virtual int Result() const = 0;
    virtual void SetListener(DialogModel::Listener listener) = 0;
    virtual bool Scroll(int32_t id, int32_t position) = 0;
    virtual bool EditText(int32_t id, const std::string& text) = 0;
    virtual bool Select(int32_t id, int32_t index) = 0;
    virtual bool Check(int32_t id, bool checked) = 0;
    virtual bool Click(int32_t id) = 0;
    virtual void Escape() = 0;
    virtual bool ShowFrameChanges() = 0;
};

// The view module's entry points (C linkage, looked up by name). The library and the module are
// built together; the version guards against a stale module left beside a newer library.
inline constexpr uint32_t kViewInterfaceVersion = 2;
inline constexpr char kViewModuleName[] = "libquorix-dialogs-gtk.so";
// uint32_t QuorixDialogs_Version(void): the module's kViewInterfaceVersion.
using ViewVersionFunction = uint32_t (*)();
inline constexpr char kViewVersionSymbol[] = "QuorixDialogs_Version";
// int QuorixDialogs_Open(void): 1 when the toolkit runs on a display, 0 when there is none.
using ViewOpenFunction = int (*)();
inline constexpr char kViewOpenSymbol[] = "QuorixDialogs_Open";
// int QuorixDialogs_Run(DialogPort*, unsigned long owner): shows the dialog modally on the
// calling thread until the model closes (or the window goes); owner is an X11 window id or 0.
using ViewRunFunction = int (*)(DialogPort*, unsigned long);
inline constexpr char kViewRunSymbol[] = "QuorixDialogs_Run";

}  // namespace quorix::dialogs
