// Linked into every test executable of a ThreadSanitizer build (by tarn1_add_gtest; not into a
// library: nothing references it, so an archive would drop it). It names known false reports
// about code that is not built with the sanitizer:
// - An exception raised on the middleware's I/O thread and handed to a caller through a future
//   is shared by std::exception_ptr, and its message by the reference-counted string inside
//   std::runtime_error; both counts live in the uninstrumented libstdc++, so the sanitizer does
//   not see that the last release (and the destructor it runs) happens after every use.
// - libdlt waits on its message-queue condition with a mutex it locks through its own wrapper;
//   the sanitizer sees only half of that and reports a double lock.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions()
{
    return "race:std::__exception_ptr::exception_ptr::_M_release\n"
           "race:std::runtime_error::~runtime_error\n"
           "race:kest::com::Infrastructure_exception::~Infrastructure_exception\n"
           "race:kest::com::cpp_binding::Application_error_exception::~Application_error_exception\n"
           "mutex:libdlt.so.2\n";
}
#endif
