// Linked into every program of a sanitizer build, so that the tests, their
// discovery at build time and the program itself stop at the first finding
// without each one needing its own environment.

extern "C" {

// Leaks are not checked unless asked for (ASAN_OPTIONS=detect_leaks=1): the
// system's glib, fontconfig and GL libraries keep memory for the life of the
// process that Qt's own caches hang from, and this compiler's leak checker
// reports whatever hangs from a suppressed block, so every window test would
// fail on library memory. The libraries are built without frame pointers, and
// the slower unwinder that would give whole stacks deadlocks in the GL
// driver's code generator.
const char *__asan_default_options()
{
    return "halt_on_error=1:exitcode=86:detect_stack_use_after_return=1:"
           "strict_init_order=1:check_initialization_order=1:detect_leaks=0";
}

const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1:exitcode=87";
}

// When leaks are checked: the blocks those libraries keep on purpose.
const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libEGL_mesa.so\n"
           "leak:libGLX_mesa.so\n"
           "leak:libgallium\n"
           "leak:libX11.so\n"
           "leak:libxcb.so\n";
}

}
