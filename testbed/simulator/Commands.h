// The array's commands: each takes the inventory and the decoded arguments of
// one "execute" request and answers with an outcome key, an info text and the
// reply's "data" payload. Commands run under the service's lock and either
// change the inventory completely or not at all.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Inventory.h"
#include "SimJson.h"

namespace marl::sim {

// Outcome keys. "MC_OK" is success; every other key is a refusal that the
// array explains in "info".
namespace keys {
constexpr char kOk[] = "MC_OK";
constexpr char kMissingArgument[] = "MC_MISSING_ARGUMENT";
constexpr char kInvalidArgument[] = "MC_INVALID_ARGUMENT";
constexpr char kUnknownCommand[] = "MC_UNKNOWN_COMMAND";
constexpr char kGroupNotFound[] = "MC_VOLUME_GROUP_NOT_FOUND";
constexpr char kVolumeNotFound[] = "MC_VOLUME_NOT_FOUND";
constexpr char kSnapshotNotFound[] = "MC_SNAPSHOT_NOT_FOUND";
constexpr char kVolSnapNotFound[] = "MC_VOLSNAP_NOT_FOUND";
constexpr char kHostNotFound[] = "MC_HOST_NOT_FOUND";
constexpr char kHostGroupNotFound[] = "MC_HOST_GROUP_NOT_FOUND";
constexpr char kSessionNotFound[] = "MC_REPLICATION_SESSION_NOT_FOUND";
constexpr char kPolicyNotFound[] = "MC_RETENTION_POLICY_NOT_FOUND";
constexpr char kNameExists[] = "MC_NAME_ALREADY_EXISTS";
constexpr char kNameTooLong[] = "MC_NAME_TOO_LONG";
constexpr char kNotExposable[] = "MC_SNAPSHOT_NOT_EXPOSABLE";
constexpr char kNotInGroup[] = "MC_SNAPSHOT_NOT_IN_VOLUME_GROUP";
}  // namespace keys

// Longest snapshot name (unqualified) the array accepts.
constexpr size_t kMaxSnapshotNameLength = 32;

struct CommandResult {
    std::string key = keys::kOk;
    std::string info = "Success";
    std::string data = "{}";  // JSON text of the "data" member

    bool Ok() const { return key == keys::kOk; }
};

CommandResult Failure(const std::string& key, const std::string& info);
CommandResult Success(const std::string& info, std::string data = "{}");

using CommandFn = CommandResult (*)(Inventory& inv, const StringPairs& args);

class CommandTable {
  public:
    void Add(const std::string& name, CommandFn fn) { m_commands[name] = fn; }
    CommandFn Find(const std::string& name) const;
    std::vector<std::string> Names() const;

  private:
    std::map<std::string, CommandFn> m_commands;
};

// All sixteen commands of the management API.
const CommandTable& ArrayCommands();

void AddQueryCommands(CommandTable& table);
void AddSnapshotCommands(CommandTable& table);
void AddMappingCommands(CommandTable& table);
void AddRestoreCommands(CommandTable& table);

// Reads a required argument; on absence (or an empty value) fills `failure`.
bool RequireArg(const StringPairs& args, const char* name, std::string& value,
                CommandResult& failure);

// A name the array would accept for a new snapshot in `group`; fills
// `failure` when it is malformed, too long or taken.
bool CheckNewSnapshotName(Inventory& inv, const std::string& group, const std::string& name,
                          CommandResult& failure);

// Serialises what `write` produces as one JSON value.
template <typename F>
std::string BuildJson(F&& write) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    write(w);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace marl::sim
