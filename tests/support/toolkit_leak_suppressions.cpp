// GTK and the libraries under it (GLib's type system, fontconfig, Pango, cairo, D-Bus) keep
// allocations for the life of the process that the leak checker of sanitizer builds reports at
// exit; they are not this SDK's. Linked into the sanitizer builds of programs that open windows
// or dialogs; the leak checker asks for this list by name.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libfontconfig.so\n"
           "leak:libpango\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libatk\n"
           "leak:libdbus\n";
}
