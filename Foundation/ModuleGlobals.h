// The module's globals: built by one ordered initialisation list when the library is loaded
// and torn down in exactly the reverse order when it is unloaded.
//
// A global is declared as a ModuleGlobal<T>, which is constant-initialised (no constructor
// runs at static-initialisation time) and holds its object only between the build and the
// teardown of its step:
//
//     extern ModuleGlobal<ConversionJob> CurrentJob;      // in the owner's header
//     ModuleGlobal<ConversionJob> CurrentJob;             // in the owner's source file
//
// How a subsystem adds its globals to the list:
//   1. Find its step in GlobalStep below (the steps are the load order of the module; a new
//      kind of global gets a new enumerator in its place, never at the end by default).
//   2. Write a build function and a teardown function, e.g.
//          static void BuildJob()    { CurrentJob.Build(); }
//          static void DestroyJob()  { CurrentJob.Destroy(); }
//      and a registration function of the subsystem that calls
//          ModuleGlobals::Register(GlobalStep::ConversionJob, BuildJob, DestroyJob);
//      (teardown may be null for a step that registers nothing to undo).
//   3. The module's load code calls every subsystem's registration function, then
//      ModuleGlobals::Init(); its unload code calls ModuleGlobals::Shutdown(). Tests do the
//      same around the code they exercise.
// The foundation's own steps (Allocations, Settings, GeneralLog) are built in without
// registration.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

template <class T>
class ModuleGlobal {
public:
    constexpr ModuleGlobal() = default;
    ModuleGlobal(const ModuleGlobal&) = delete;
    ModuleGlobal& operator=(const ModuleGlobal&) = delete;

    // Builds the object (destroying an earlier one first).
    template <class... Args>
    T& Build(Args&&... args)
    {
        Destroy();
        ::new (static_cast<void*>(m_storage)) T(std::forward<Args>(args)...);
        m_built = true;
        return **this;
    }

    // Destroys the object; the global reads as not built while the destructor runs.
    void Destroy()
    {
        if (m_built) {
            m_built = false;
            Object()->~T();
        }
    }

    bool IsBuilt() const { return m_built; }

    // The object, or null when it is not built.
    T* GetIf() { return m_built ? Object() : nullptr; }
    const T* GetIf() const { return m_built ? Object() : nullptr; }

    T& operator*() { return *Object(); }
    const T& operator*() const { return *Object(); }
    T* operator->() { return Object(); }
    const T* operator->() const { return Object(); }

private:
    T* Object() { return std::launder(reinterpret_cast<T*>(m_storage)); }
    const T* Object() const { return std::launder(reinterpret_cast<const T*>(m_storage)); }

    alignas(T) unsigned char m_storage[sizeof(T)] = {};
    bool m_built = false;
};

// The load order of the module's globals.
enum class GlobalStep : int {
    CharAttrCodeTable = 1,   // attribute mapping's character-attribute code table
    BatchStatus,             // batch status object and the two batch-mode flag bytes
    HostApiCopy,             // release of the module's copy of the host's API table
    Allocations,             // the allocation register (foundation)
    ServerVersion,           // server version text "3"
    FileKindExtensions,      // pointers to "dwq", "coo", "tgx", "qxp"
    ConversionJob,           // the current conversion job
    FolderRunFileLists,      // the two file lists of the folder runs
    FolderRunString,         // the unsigned-character string of the folder runs
    Settings,                // the settings object, not loaded (foundation)
    MenuHandle,              // release of the menus' host handle
    BoxRegistries,           // the two box registries of the host box callbacks
    PdfStyleNamePrefix,      // "Kesto "
    CommandStrings,          // the strings of the import command and the folder runs
    PrivateWorkingBoxes,     // the list of private working boxes
    GeneralLog,              // the general log "KestoLogfile.txt" (foundation)
    KestoInterface,          // deletion of the module state singleton when it exists
    VariantTable,            // the Variant handler table
};

class ModuleGlobals {
public:
    using Function = void (*)();

    // Adds a step's build and teardown. A step registered twice keeps the later pair. When the
    // globals are already initialised the step is built at once (and torn down first).
    static void Register(GlobalStep step, Function build, Function teardown);

    // Builds every step in order; each step with a teardown has it run at Shutdown. A second
    // call while initialised does nothing.
    static void Init();

    // Tears down in exactly the reverse order of the builds.
    static void Shutdown();

    static bool IsInitialized();
};
