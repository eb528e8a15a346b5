#pragma once

#include <filesystem>
#include <string_view>

#include "conversion/parse_log.h"
#include "conversion/reading/log_set.h"

// The follower: a run that stays beside a server and keeps the script
// current while the server writes, empties and rotates its logs.

namespace tsry {

struct FollowSettings {
    LogSet logs;  // files, folders (and the files that appear beneath them), or "-"
    std::filesystem::path output{kDefaultScriptName};
    // The archive kept beside the script (see KeptArchive); none when empty.
    std::filesystem::path archive;
    ScriptLayout layout;
    // The script is written when new records have arrived, at most once
    // every so many seconds.
    double every = 10;
    // How often the logs are looked at, in seconds.
    double lookEvery = 0.25;
};

// What the follower has to say while it runs: one message at a time.
class FollowMessages {
  public:
    virtual ~FollowMessages() = default;
    virtual void Say(std::string_view message) = 0;
};

// Reads the logs of `settings` as ParseLog does, writes the script, then
// follows them (see FollowedLog): new records go into the same table (the
// newest value of a name wins, its slot stays where the name first
// appeared, a record read again changes nothing) and the script is written
// again when they have arrived, at most once every `settings.every` seconds.
// With an archive, each write locks it only while it reads it and replaces
// it with what it held and every record followed so far (so that a one-shot
// run that keeps the same archive in between loses nothing), and the script
// is made of that merged list. A record that the script cannot hold, a line
// cut short and a log that cannot be read are told to `messages`, and the
// follower goes on; the archive is still written, and the script stays as
// it was until a later record mends the one refused.
//
// Returns after writing once more, at a stop (SIGINT, SIGTERM, SIGHUP; see
// platform::CatchStops, called here) or at the end of standard input when
// it is one of the logs. Throws ConversionError when the script or the
// archive cannot be written (its folder, say), or the archive is no list.
void FollowLogs(const FollowSettings& settings, FollowMessages& messages);

}  // namespace tsry
