#include "provider/ResponseParsers.h"

#include <string_view>
#include <unordered_map>

#include "common/QVssLog.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JSON_ARRAY;
using marl::json::JSON_NODE;
using marl::json::JsonNode;

namespace {

const std::string& JsonModule() {
    static const std::string module("JSON");
    return module;
}

// The logger looks up the process and thread before it looks at the level;
// the parsers log several lines per entry of replies with many thousands of
// entries, so they ask first.
bool JsonLogEnabled(int level) {
    return CQLogger::getInstance()->IsLogLevelEnabled(JsonModule(), level);
}

#define PARSER_LOG(function, level, ...)                                           \
    do {                                                                           \
        if (JsonLogEnabled(level)) QVSS_LOG(function, "JSON", level, __VA_ARGS__); \
    } while (0)

// Names are logged with "%.*s": a view into the reply is not terminated.
#define VIEW_ARG(view) static_cast<int>((view).size()), (view).data()

constexpr char kVolShow[] = "ParseVolShow";
constexpr char kRepVolShow[] = "ParseRepVolShow";
constexpr char kRepSessionShow[] = "ParseRepSessionShow";
constexpr char kSnapShow[] = "ParseSnapShow";
constexpr char kSnapShowForSource[] = "ParseSnapShowForSource";
constexpr char kCGShow[] = "ParseCGShow";
constexpr char kHostGrpShow[] = "ParseHostGrpShow";
constexpr char kRepSnapCreate[] = "ParseReplicationSnapCreateResponse";

constexpr std::string_view kData = "data";

bool IsContainer(const JsonNode& node) {
    return node.Type() == JSON_NODE || node.Type() == JSON_ARRAY;
}

bool HasMember(const JsonNode& node, std::string_view name) {
    for (const JsonNode& member : node) {
        if (member.Name() == name) return true;
    }
    return false;
}

// A "data" entry of a vol_show payload is itself a volume (the single-volume
// reply of vss_volsnap_show) when it carries both of these members.
bool IsVolumeRecord(const JsonNode& entry) {
    return HasMember(entry, "marked_for_deletion") && HasMember(entry, "scsi_sn");
}

void ReadVolumeMember(const JsonNode& member, LunInfo& record) {
    std::string_view name = member.Name();
    if (name == "scsi_sn") {
        record.sn = NormaliseSerial(member.AsString());
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found scsi_sn  %s", record.sn.c_str());
    } else if (name == "vss_scsi_sn") {
        record.peerSn = NormaliseSerial(member.AsString());
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found peer_scsi_sn  %s", record.peerSn.c_str());
    } else if (name == "volume_group") {
        record.cgName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found volume_group with name %s", record.cgName.c_str());
    } else if (name == "base_volume") {
        record.volName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found base_volume with name %s", record.volName.c_str());
    } else if (name == "vg_name") {
        record.cgName = member.AsString();
    } else if (name == "snapshot_name") {
        record.snapName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found snapshot_name with name %s",
                   record.snapName.c_str());
    }
}

// The records of a list by volume name, built on first use. Keys view the
// records' own names, which the replication parser never changes, and
// std::list never moves a record.
class VolumeIndex {
  public:
    explicit VolumeIndex(LunInfoList& list) : m_list(list) {}

    void SetPeerSerial(std::string_view volName, const std::string& serial) {
        Build();
        auto range = m_byName.equal_range(volName);
        for (auto it = range.first; it != range.second; ++it) it->second->peerSn = serial;
    }

  private:
    void Build() {
        if (m_built) return;
        m_built = true;
        m_byName.reserve(m_list.size());
        for (LunInfo& record : m_list) m_byName.emplace(record.volName, &record);
    }

    LunInfoList& m_list;
    bool m_built = false;
    std::unordered_multimap<std::string_view, LunInfo*> m_byName;
};

void ParseRepVolEntries(const JsonNode& node, VolumeIndex& index) {
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepVolShow, QLOG_DEBUG, "(i != n.end())");
        if (entry.Name() == kData) {
            PARSER_LOG(kRepVolShow, QLOG_DEBUG, "In data, found obj with name %.*s",
                       VIEW_ARG(entry.Name()));
            ParseRepVolEntries(entry, index);
            return;
        }
        std::string serial;
        std::string localName;
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) {
                if (member.Name() == "vss_scsi_sn") {
                    serial = member.AsString();
                    PARSER_LOG(kRepVolShow, QLOG_DEBUG, "found vss_scsi_sn  %s", serial.c_str());
                } else if (member.Name() == "local_volume") {
                    localName = member.AsString();
                    PARSER_LOG(kRepVolShow, QLOG_DEBUG, "found local_volume  %s",
                               localName.c_str());
                }
            }
        }
        if (!serial.empty() && !localName.empty()) {
            index.SetPeerSerial(localName, NormaliseSerial(serial));
        }
    }
}

// One record per element of a snapshot's "volsnaps" array, each a copy of
// the record as it stands at that element.
void ReadVolSnaps(const JsonNode& volsnaps, LunInfo& record, LunInfoList& list) {
    PARSER_LOG(kSnapShow, QLOG_DEBUG, "Found obj with name %.*s", VIEW_ARG(volsnaps.Name()));
    if (volsnaps.Type() != JSON_ARRAY) return;
    PARSER_LOG(kSnapShow, QLOG_TRACE, "In if (j->type() == JSON_ARRAY)");
    for (const JsonNode& element : volsnaps) {
        record.volSnapName = element.AsString();
        PARSER_LOG(kSnapShow, QLOG_DEBUG, "In while (k != j->end()), k=%s",
                   record.volSnapName.c_str());
        list.push_back(record);
    }
}

// Takes out the first element of "vols" until none is left: that last
// take-out throws std::out_of_range, which ends the walk (and the parse).
void WalkVols(const JsonNode& vols, NameList& names) {
    JsonNode remaining = vols.AsArray();
    for (;;) {
        JsonNode element = remaining.TakeAt(0);
        if (element.EqualsNumber(0)) return;
        JsonNode members = element.AsArray();
        std::string name = members.TakeAt(0).AsString();
        PARSER_LOG(kCGShow, QLOG_DEBUG, "Found vol with name %s", name.c_str());
        names.push_back(name);
        PARSER_LOG(kCGShow, QLOG_DEBUG, "pushed vol with name %s", name.c_str());
    }
}

bool FirstEntryIsData(const JsonNode& node) {
    return !node.Empty() && node.begin()->Name() == kData;
}

}  // namespace

std::string NormaliseSerial(std::string serial) {
    for (char& c : serial) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (serial.size() < 8) serial.insert(0, 8 - serial.size(), '0');
    return serial;
}

void ParseVolShow(const JsonNode& node, LunInfoList& list) {
    for (const JsonNode& entry : node) {
        PARSER_LOG(kVolShow, QLOG_DEBUG, "(i != n.end())");
        if (entry.Name() == kData) {
            PARSER_LOG(kVolShow, QLOG_DEBUG, "In data, found obj with name %.*s",
                       VIEW_ARG(entry.Name()));
            if (!IsVolumeRecord(entry)) {
                PARSER_LOG(kVolShow, QLOG_DEBUG, "recursing inside data node");
                ParseVolShow(entry, list);
                return;
            }
        }
        LunInfo record;
        record.volName = std::string(entry.Name());
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) ReadVolumeMember(member, record);
        }
        list.push_back(std::move(record));
    }
}

void ParseRepVolShow(const JsonNode& node, LunInfoList& list) {
    VolumeIndex index(list);
    ParseRepVolEntries(node, index);
}

void ParseRepSessionShow(const JsonNode& node, SessionInfoList& list) {
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "(i != n.end())");
        if (entry.Name() == kData) {
            PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "In data, found obj with name %.*s",
                       VIEW_ARG(entry.Name()));
            ParseRepSessionShow(entry, list);
            return;
        }
        SessionInfo session;
        session.sessionName = std::string(entry.Name());
        session.type = "async";
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) {
                if (member.Name() == "local_volume_group") {
                    session.cgName = member.AsString();
                    PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "found cg_name  %s",
                               session.cgName.c_str());
                } else if (member.Name() == "type") {
                    session.type = member.AsString();
                    PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "type  %s", session.type.c_str());
                }
            }
        }
        list.push_back(std::move(session));
    }
}

void ParseSnapShow(const JsonNode& node, LunInfoList& list) {
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kSnapShow, QLOG_DEBUG, "In data, found obj with name %.*s",
                   VIEW_ARG(node.begin()->Name()));
        ParseSnapShow(*node.begin(), list);
        return;
    }
    for (const JsonNode& entry : node) {
        PARSER_LOG(kSnapShow, QLOG_DEBUG, "(i != n.end())");
        LunInfo record;
        record.snapName = std::string(entry.Name());
        if (!IsContainer(entry)) continue;
        for (const JsonNode& member : entry) {
            if (member.Name() == "vg_name") {
                record.cgName = member.AsString();
                PARSER_LOG(kSnapShow, QLOG_DEBUG, "found cg_name with name %s",
                           record.cgName.c_str());
            } else if (member.Name() == "volsnaps") {
                ReadVolSnaps(member, record, list);
            }
        }
    }
}

void ParseSnapShowForSource(const JsonNode& node, const std::string& cgName, std::string& source) {
    for (const JsonNode& entry : node) {
        PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "(i != n.end())");
        if (entry.Name() == kData) {
            PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "In data, found obj with name %.*s",
                       VIEW_ARG(entry.Name()));
            ParseSnapShowForSource(entry, cgName, source);
            return;
        }
        if (entry.Type() != JSON_NODE) continue;
        for (const JsonNode& member : entry) {
            PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "found %.*s", VIEW_ARG(member.Name()));
            if (member.Name() != "source") continue;
            std::string value = member.AsString();
            if (value != cgName) {
                source = value;
                PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "found source  %s", source.c_str());
                return;
            }
        }
    }
}

void ParseCGShow(const JsonNode& node, const std::string& cgName, NameList& names) {
    if (node.Empty()) return;
    PARSER_LOG(kCGShow, QLOG_DEBUG, "looking for vg %s size=%d", cgName.c_str(),
               static_cast<int>(node.Size()));
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In data, found obj with name %.*s",
                   VIEW_ARG(node.begin()->Name()));
        ParseCGShow(*node.begin(), cgName, names);
        return;
    }
    for (const JsonNode& entry : node) {
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In while i, found obj with name %.*s",
                   VIEW_ARG(entry.Name()));
        if (entry.Name() != cgName) continue;
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In if (cg_name->compare(i->name().c_str()) == 0)");
        if (!IsContainer(entry)) continue;
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In if (i->type() == JSON_ARRAY)");
        for (const JsonNode& member : entry) {
            PARSER_LOG(kCGShow, QLOG_DEBUG, "Found obj with name %.*s", VIEW_ARG(member.Name()));
            if (member.Name() == "vols") {
                WalkVols(member, names);
                return;
            }
        }
    }
}

bool ParseHostGrpShow(const JsonNode& node, const std::string& groupName, NameList& extra) {
    if (node.Empty()) return false;
    PARSER_LOG(kHostGrpShow, QLOG_DEBUG, "looking for host group %s", groupName.c_str());
    if (FirstEntryIsData(node)) return ParseHostGrpShow(*node.begin(), groupName, extra);
    for (const JsonNode& entry : node) {
        if (entry.Name() == groupName) {
            PARSER_LOG(kHostGrpShow, QLOG_DEBUG,
                       "In if (grp_name->compare(i->name().c_str()) == 0)");
            return true;
        }
    }
    return false;
}

bool ParseReplicationSnapCreateResponse(const JsonNode& node, NameList& names) {
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "In data, found obj with name %.*s",
                   VIEW_ARG(node.begin()->Name()));
        ParseReplicationSnapCreateResponse(*node.begin(), names);
        return true;
    }
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "(i != d.end())");
        if (entry.Name() != "snapshot_names_list") continue;
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "Found obj with name %.*s", VIEW_ARG(entry.Name()));
        if (entry.Type() != JSON_ARRAY) continue;
        PARSER_LOG(kRepSnapCreate, QLOG_TRACE, "In if (i->type() == JSON_ARRAY)");
        for (const JsonNode& element : entry) {
            std::string name = element.AsString();
            PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "In while (k != i->end()), k=%s", name.c_str());
            names.push_back(name);
        }
    }
    return false;
}
