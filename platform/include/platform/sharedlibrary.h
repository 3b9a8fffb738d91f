#pragma once
// A shared library loaded when a command first needs it, for services few commands use
// (speech, G.722): linked in, every start of every command would load it and all it depends
// on, and speech alone brings some thirty libraries. Loaded once, never unloaded, so the
// functions found in it stay valid for the life of the process. Any thread.

#include <string>

namespace platform {

class SharedLibrary {
public:
    // Loads `soname` with every function bound at once: a library that lacks one fails here,
    // not in the middle of a call.
    explicit SharedLibrary(const char* soname);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary() = default;  // stays loaded: functions taken from it may still be called

    bool Ok() const { return m_handle != nullptr; }
    // Why loading, or the last Find, failed; empty when nothing did.
    const std::string& Problem() const { return m_problem; }

    // The function `name` with the type of `Function` (declare it from the library's own
    // header: `Find<decltype(g722_encode)>`); null, with Problem set, when it is missing.
    template <typename Function>
    Function* Find(const char* name) {
        return reinterpret_cast<Function*>(Symbol(name));
    }

private:
    void* Symbol(const char* name);

    void* m_handle = nullptr;
    std::string m_problem;
};

}  // namespace platform
