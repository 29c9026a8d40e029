// Where a restore may write: the former path a quarantine file names is read from a
// file anyone could have dropped into the folder, so it is checked on its text alone.
#pragma once

#include <string>

namespace tolvane {

// Whether a former path may be written to: a full path on a drive or a share, free of
// "." and ".." steps, device names, streams and wildcards. A forged quarantine file
// must not steer a restore anywhere else.
bool IsRestorablePath(const std::string& path);

}  // namespace tolvane
