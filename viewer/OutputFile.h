#pragma once
// Writing an output file of the viewer (CSV, a picture) so that a failure never costs what
// was there: the bytes go to a temporary file beside the output, which replaces the output
// by a rename only once it is complete. An output that is the log being read is refused.
#include <functional>
#include <string>

namespace orvi::viewer {

// Whether two paths name one file (also through symbolic or hard links); false when either
// does not exist.
bool SameFile(const std::string& a, const std::string& b);

// Writes `path` through a temporary file in its folder: `write` fills the file it is given
// the name of and returns false (with `error` in words) to abandon it. On success the
// temporary file replaces `path` (a link at `path` is replaced, not followed); otherwise
// it is removed and `path` stays as it was. False with `error` set on any failure.
bool WriteReplacing(
    const std::string& path,
    const std::function<bool(const std::string& temporary, std::string& error)>& write,
    std::string& error);

} // namespace orvi::viewer
