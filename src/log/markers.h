// The operators' markers among the switch files (switch_files.h), as the
// library honours them.
#pragma once

namespace kelmar {

enum class MarkerState { kAbsent, kIgnored, kHonoured };

// The marker at `path`, examined without following a symbolic link: a link
// counts by its own owner, whatever it points to. An ignored marker is logged
// under `tag`; a marker that cannot be examined is absent.
MarkerState ExamineMarker(const char* tag, const char* path);

}  // namespace kelmar
