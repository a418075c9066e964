// Preloaded into the viewer by the out-of-memory test: anonymous read-write mappings of a power-of-two size of
// 1 MiB or more -- the optimiser's large scratch blocks -- are refused as a system out of memory would refuse them.
// Thread stacks and reservations without access, and every other mapping, go through.
#include <dlfcn.h>
#include <errno.h>
#include <sys/mman.h>

#include <cstddef>

extern "C" void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset)
{
    using Mmap = void* (*)(void*, size_t, int, int, int, off_t);
    const Mmap next = reinterpret_cast<Mmap>(dlsym(RTLD_NEXT, "mmap"));
    const bool powerOfTwo = length >= (size_t(1) << 20) && (length & (length - 1)) == 0;
    const bool anonymousData =
        (flags & MAP_ANONYMOUS) != 0 && (flags & MAP_STACK) == 0 && protection == (PROT_READ | PROT_WRITE);
    if (powerOfTwo && anonymousData) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return next(address, length, protection, flags, fd, offset);
}
