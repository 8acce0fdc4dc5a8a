// GTK, GStreamer and the libraries under them (GLib's type system, GStreamer's registry and
// plugins, fontconfig, Pango, cairo, D-Bus) keep allocations for the life of the process that the
// leak checker of sanitizer builds reports at exit; they are not this SDK's. Linked into the
// programs that open windows or dialogs or run pipelines (the tools only in sanitizer builds);
// the leak checker asks for this list by name.
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
           "leak:libdbus\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\n"
           "leak:libgstvideo-1.0.so\n"
           "leak:liborc-0.4.so\n";
}
