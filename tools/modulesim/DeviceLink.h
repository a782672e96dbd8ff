#pragma once

#include <string>

namespace modulesim {

// A symbolic link that stands for the simulated device, as /dev/serial/by-id names an adapter:
// the name stays while the pseudo-terminal behind it changes.

// Points `link` at `target`, atomically. Replaces an earlier link to a pseudo-terminal (a run
// that was killed leaves one behind) and nothing else: any other file at `link` stays as it
// is. False with `error` set when the link could not be made.
bool PointLink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` when it still points at `target`, so that a link made anew by someone else
// is left alone.
void RemoveLink(const std::string& link, const std::string& target);

}  // namespace modulesim
