#include "Commands.h"

namespace marl::sim {

CommandResult Failure(const std::string& key, const std::string& info) {
    CommandResult result;
    result.key = key;
    result.info = info;
    return result;
}

CommandResult Success(const std::string& info, std::string data) {
    CommandResult result;
    result.info = info;
    result.data = std::move(data);
    return result;
}

CommandFn CommandTable::Find(const std::string& name) const {
    auto it = m_commands.find(name);
    return it == m_commands.end() ? nullptr : it->second;
}

std::vector<std::string> CommandTable::Names() const {
    std::vector<std::string> names;
    for (const auto& entry : m_commands) names.push_back(entry.first);
    return names;
}

const CommandTable& ArrayCommands() {
    static const CommandTable table = [] {
        CommandTable t;
        AddQueryCommands(t);
        AddSnapshotCommands(t);
        AddMappingCommands(t);
        AddRestoreCommands(t);
        return t;
    }();
    return table;
}

bool RequireArg(const StringPairs& args, const char* name, std::string& value,
                CommandResult& failure) {
    const std::string* found = args.Find(name);
    if (found && !found->empty()) {
        value = *found;
        return true;
    }
    failure = Failure(keys::kMissingArgument, std::string("argument ") + name + " is required");
    return false;
}

bool CheckNewSnapshotName(Inventory& inv, const std::string& group, const std::string& name,
                          CommandResult& failure) {
    if (!IsValidName(name)) {
        failure = Failure(keys::kInvalidArgument,
                          "snapshot name \"" + name + "\" is empty or contains ':' or ','");
        return false;
    }
    if (name.size() > kMaxSnapshotNameLength) {
        failure =
            Failure(keys::kNameTooLong, "snapshot name " + name + " is longer than " +
                                            std::to_string(kMaxSnapshotNameLength) + " characters");
        return false;
    }
    if (inv.FindSnapshot(group, name)) {
        failure = Failure(keys::kNameExists, "snapshot " + group + ":" + name + " already exists");
        return false;
    }
    return true;
}

}  // namespace marl::sim
