#include "libombrex/workspace.h"

#include "libombrex/sys.h"

namespace ombrex {

namespace {

constexpr size_t pageSize = 4096;

// Page-aligned, so that the flag, the number and the start of the workspace share one page.
struct alignas(pageSize) Arena {
    uint32_t taken;
    uint64_t lastSequence;
    Workspace workspace;
};

Arena arena;

} // namespace

Workspace* claimWorkspace() {
    if (__atomic_exchange_n(&arena.taken, 1u, __ATOMIC_ACQUIRE) == 0) {
        return &arena.workspace;
    }
    return static_cast<Workspace*>(sys::mapAnonymous(sizeof(Workspace)));
}

void releaseWorkspace(Workspace* workspace) {
    if (workspace == &arena.workspace) {
        __atomic_store_n(&arena.taken, 0u, __ATOMIC_RELEASE);
    } else if (workspace != nullptr) {
        sys::unmap(workspace, sizeof(Workspace));
    }
}

uint64_t nextSequence() {
    return __atomic_add_fetch(&arena.lastSequence, 1, __ATOMIC_RELAXED);
}

} // namespace ombrex
