#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <optional>

// Standard input, output and error: whether each was closed when the program started.
using ClosedStandardDescriptors = std::array<bool, 3>;

// A program started with a standard descriptor closed (`torva-sim >&-`) gives that number to
// the first file it opens, and what it then prints "to standard output" goes into that file: a
// pseudo-terminal, a serial port, an export. Before any file is opened, each closed one is taken
// by /dev/null here; they close on exec, so a command the program starts finds them closed as
// they were given. Says which were closed; nothing when one could not be taken.
inline std::optional<ClosedStandardDescriptors> TakeClosedStandardDescriptors() {
    ClosedStandardDescriptors closed{};
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: this one, as those below it are open.
        const int taken = ::open("/dev/null", (fd == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        if (taken != fd) {
            if (taken >= 0)
                ::close(taken);
            return std::nullopt;
        }
        closed[static_cast<std::size_t>(fd)] = true;
    }
    return closed;
}
