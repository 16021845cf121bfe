#include "provider/array/ResponseParsers.h"

#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "common/QVssLog.h"

static constexpr char kLogUnit[] = "QProviderInterface";

using marl::json::JSON_ARRAY;
using marl::json::JSON_NODE;
using marl::json::JsonNode;

namespace {

// Whether the parser's lines are written, asked once per parser run rather
// than per line: the logger's own check compares module names as texts, which
// over the lines of a reply with 100,000 entries costs as much as reading
// them. The parsers log at DEBUG and TRACE only.
class LogGate {
  public:
    LogGate()
        : m_debug(CQLogger::getInstance()->IsLogLevelEnabled(Module(), QLOG_DEBUG)),
          m_trace(CQLogger::getInstance()->IsLogLevelEnabled(Module(), QLOG_TRACE)) {}
    bool On(int level) const { return level >= QLOG_TRACE ? m_trace : m_debug; }

  private:
    static const std::string& Module() {
        static const std::string module("JSON");
        return module;
    }
    bool m_debug;
    bool m_trace;
};

// Logs through the LogGate named `log` in the calling scope.
#define PARSER_LOG(function, level, ...)                                   \
    do {                                                                   \
        if (log.On(level)) QVSS_LOG(function, "JSON", level, __VA_ARGS__); \
    } while (0)

// Exact, case-sensitive comparison of a member name with a literal.
template <size_t N>
bool Is(std::string_view name, const char (&literal)[N]) {
    return name.size() == N - 1 && std::memcmp(name.data(), literal, N - 1) == 0;
}

// A view into the reply is not terminated; log a copy (made only when the
// line is written, as the arguments are evaluated only then).
#define VIEW_ARG(view) std::string(view).c_str()

constexpr char kVolShow[] = "ParseVolShow";
constexpr char kVolSnapSerials[] = "ParseVolSnapSerials";
constexpr char kRepVolShow[] = "ParseRepVolShow";
constexpr char kRepSessionShow[] = "ParseRepSessionShow";
constexpr char kSnapShow[] = "ParseSnapShow";
constexpr char kSnapShowForSource[] = "ParseSnapShowForSource";
constexpr char kCGShow[] = "ParseCGShow";
constexpr char kHostGrpShow[] = "ParseHostGrpShow";
constexpr char kRepSnapCreate[] = "ParseReplicationSnapCreateResponse";

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

void ReadVolumeMember(const JsonNode& member, LunInfo& record, const LogGate& log) {
    std::string_view name = member.Name();
    if (Is(name, "scsi_sn")) {
        record.sn = NormaliseSerial(member.AsString());
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found scsi_sn  %s", record.sn.c_str());
    } else if (Is(name, "vss_scsi_sn")) {
        record.peerSn = NormaliseSerial(member.AsString());
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found peer_scsi_sn  %s", record.peerSn.c_str());
    } else if (Is(name, "volume_group")) {
        record.cgName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found volume_group with name %s", record.cgName.c_str());
    } else if (Is(name, "base_volume")) {
        record.volName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found base_volume with name %s", record.volName.c_str());
    } else if (Is(name, "vg_name")) {
        record.cgName = member.AsString();
    } else if (Is(name, "snapshot_name")) {
        record.snapName = member.AsString();
        PARSER_LOG(kVolShow, QLOG_DEBUG, "found snapshot_name with name %s",
                   record.snapName.c_str());
    }
}

// Sets peerSn on the records of a list by volume name, for the replication
// parser. The updates are queued while the reply is read and applied in
// their order at the end (a later entry overwrites an earlier one, as
// reading them one by one would).
//
// The list is indexed once by an open-addressing table of (hash, record)
// with linear probing, at most half full; one probe sequence finds every
// record of a name (a name may occur more than once). On a list of 100,000
// volumes each update costs a cache miss for its slot and one or two for the
// record; applying the queue lets those be fetched some updates ahead
// instead of one after the other. Records are compared by their own names,
// which this parser never changes, and std::list never moves a record.
class PeerSerialUpdates {
  public:
    // `expected`: about how many updates will come (the reply's entries).
    PeerSerialUpdates(marl::array::LunInfoList& list, size_t expected) : m_list(list) {
        m_queue.reserve(expected);
    }

    void Queue(std::string volName, std::string serial) {
        size_t hash = Hash(volName);
        m_queue.push_back(Update{hash, std::move(volName), std::move(serial)});
    }

    void Apply() {
        if (m_queue.empty()) return;
        BuildIndex();
        for (size_t i = 0; i < m_queue.size(); ++i) {
            // The slot of a later update first, then, once that slot has had
            // time to arrive, the record it names. The prefetches stand here,
            // in the loop that writes: GCC finds a function that does nothing
            // but prefetch free of effects and drops the calls to it.
            if (const Slot* ahead = SlotAhead(i, kSlotsAhead)) __builtin_prefetch(ahead);
            const Slot* named = SlotAhead(i, kRecordsAhead);
            if (named && named->record) {
                __builtin_prefetch(named->record);
                __builtin_prefetch(&named->record->peerSn, 1);
            }
            ApplyOne(m_queue[i]);
        }
        m_queue.clear();
    }

  private:
    struct Slot {
        size_t hash = 0;
        LunInfo* record = nullptr;
    };
    struct Update {
        size_t hash;
        std::string volName;
        std::string serial;
    };
    static constexpr size_t kSlotsAhead = 16;
    static constexpr size_t kRecordsAhead = 8;

    static size_t Hash(std::string_view name) { return std::hash<std::string_view>()(name); }

    // Where the probe of the update `distance` after update i starts; null
    // past the last update.
    const Slot* SlotAhead(size_t i, size_t distance) const {
        if (i + distance >= m_queue.size()) return nullptr;
        return &m_slots[m_queue[i + distance].hash & m_mask];
    }

    void ApplyOne(const Update& update) {
        for (size_t k = update.hash & m_mask; m_slots[k].record; k = (k + 1) & m_mask) {
            const Slot& slot = m_slots[k];
            if (slot.hash == update.hash && slot.record->volName == update.volName) {
                slot.record->peerSn = update.serial;
            }
        }
    }

    void BuildIndex() {
        if (!m_slots.empty()) return;
        size_t capacity = 16;
        while (capacity < 2 * m_list.size()) capacity *= 2;
        m_slots.resize(capacity);
        m_mask = capacity - 1;
        // Each record's slot is fetched a few records before it is filled.
        Slot pending[kSlotsAhead];
        size_t count = 0;
        for (LunInfo& record : m_list) {
            Slot& next = pending[count++ % kSlotsAhead];
            if (count > kSlotsAhead) Insert(next);
            next = Slot{Hash(record.volName), &record};
            __builtin_prefetch(&m_slots[next.hash & m_mask], 1);
        }
        for (size_t i = count > kSlotsAhead ? count - kSlotsAhead : 0; i < count; ++i) {
            Insert(pending[i % kSlotsAhead]);
        }
    }

    void Insert(const Slot& slot) {
        size_t k = slot.hash & m_mask;
        while (m_slots[k].record) k = (k + 1) & m_mask;
        m_slots[k] = slot;
    }

    marl::array::LunInfoList& m_list;
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    std::vector<Update> m_queue;
};

void ParseRepVolEntries(const JsonNode& node, PeerSerialUpdates& updates, const LogGate& log) {
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepVolShow, QLOG_DEBUG, "(i != n.end())");
        if (Is(entry.Name(), "data")) {
            PARSER_LOG(kRepVolShow, QLOG_DEBUG, "In data, found obj with name %s",
                       VIEW_ARG(entry.Name()));
            ParseRepVolEntries(entry, updates, log);
            return;
        }
        std::string serial;
        std::string localName;
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) {
                if (Is(member.Name(), "vss_scsi_sn")) {
                    serial = member.AsString();
                    PARSER_LOG(kRepVolShow, QLOG_DEBUG, "found vss_scsi_sn  %s", serial.c_str());
                } else if (Is(member.Name(), "local_volume")) {
                    localName = member.AsString();
                    PARSER_LOG(kRepVolShow, QLOG_DEBUG, "found local_volume  %s",
                               localName.c_str());
                }
            }
        }
        if (!serial.empty() && !localName.empty()) {
            updates.Queue(std::move(localName), NormaliseSerial(std::move(serial)));
        }
    }
}

// One record per element of a snapshot's "volsnaps" array, each a copy of
// the record as it stands at that element.
void ReadVolSnaps(const JsonNode& volsnaps, LunInfo& record, marl::array::LunInfoList& list,
                  const LogGate& log) {
    PARSER_LOG(kSnapShow, QLOG_DEBUG, "Found obj with name %s", VIEW_ARG(volsnaps.Name()));
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
void WalkVols(const JsonNode& vols, marl::array::NameList& names, const LogGate& log) {
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
    return !node.Empty() && Is(node.begin()->Name(), "data");
}

}  // namespace

std::string NormaliseSerial(std::string serial) {
    for (char& c : serial) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (serial.size() < 8) serial.insert(0, 8 - serial.size(), '0');
    return serial;
}

void ParseVolShow(const JsonNode& node, marl::array::LunInfoList& list) {
    const LogGate log;
    for (const JsonNode& entry : node) {
        PARSER_LOG(kVolShow, QLOG_DEBUG, "(i != n.end())");
        if (Is(entry.Name(), "data")) {
            PARSER_LOG(kVolShow, QLOG_DEBUG, "In data, found obj with name %s",
                       VIEW_ARG(entry.Name()));
            if (!IsVolumeRecord(entry)) {
                PARSER_LOG(kVolShow, QLOG_DEBUG, "recursing inside data node");
                ParseVolShow(entry, list);
                return;
            }
        }
        // Filled in place; only an allocation failure can interrupt it, and
        // then the half-read record is taken back out.
        LunInfo& record = list.emplace_back();
        try {
            record.volName = entry.Name();
            if (entry.Type() == JSON_NODE) {
                for (const JsonNode& member : entry) ReadVolumeMember(member, record, log);
            }
        } catch (...) {
            list.pop_back();
            throw;
        }
    }
}

void ParseVolSnapSerials(const JsonNode& node, marl::array::VolSnapSerialIndex& index) {
    const LogGate log;
    for (const JsonNode& entry : node) {
        if (Is(entry.Name(), "data") && !IsVolumeRecord(entry)) {
            PARSER_LOG(kVolSnapSerials, QLOG_DEBUG, "recursing inside data node");
            ParseVolSnapSerials(entry, index);
            return;
        }
        std::string sn;
        std::string peerSn;
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) {
                if (Is(member.Name(), "scsi_sn")) {
                    sn = NormaliseSerial(member.AsString());
                } else if (Is(member.Name(), "vss_scsi_sn")) {
                    peerSn = NormaliseSerial(member.AsString());
                }
            }
        }
        index.Add(std::string(entry.Name()), sn, peerSn);
    }
}

void ParseRepVolShow(const JsonNode& node, marl::array::LunInfoList& list) {
    PeerSerialUpdates updates(list, node.Size());
    try {
        ParseRepVolEntries(node, updates, LogGate());
    } catch (...) {
        updates.Apply();  // what was read before the failure still counts
        throw;
    }
    updates.Apply();
}

void ParseRepSessionShow(const JsonNode& node, marl::array::SessionInfoList& list) {
    const LogGate log;
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "(i != n.end())");
        if (Is(entry.Name(), "data")) {
            PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "In data, found obj with name %s",
                       VIEW_ARG(entry.Name()));
            ParseRepSessionShow(entry, list);
            return;
        }
        SessionInfo session;
        session.sessionName = std::string(entry.Name());
        session.type = "async";
        if (entry.Type() == JSON_NODE) {
            for (const JsonNode& member : entry) {
                if (Is(member.Name(), "local_volume_group")) {
                    session.cgName = member.AsString();
                    PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "found cg_name  %s",
                               session.cgName.c_str());
                } else if (Is(member.Name(), "type")) {
                    session.type = member.AsString();
                    PARSER_LOG(kRepSessionShow, QLOG_DEBUG, "type  %s", session.type.c_str());
                }
            }
        }
        list.push_back(std::move(session));
    }
}

void ParseSnapShow(const JsonNode& node, marl::array::LunInfoList& list) {
    const LogGate log;
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kSnapShow, QLOG_DEBUG, "In data, found obj with name %s",
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
            if (Is(member.Name(), "vg_name")) {
                record.cgName = member.AsString();
                PARSER_LOG(kSnapShow, QLOG_DEBUG, "found cg_name with name %s",
                           record.cgName.c_str());
            } else if (Is(member.Name(), "volsnaps")) {
                ReadVolSnaps(member, record, list, log);
            }
        }
    }
}

void ParseSnapShowForSource(const JsonNode& node, const std::string& cgName, std::string& source) {
    const LogGate log;
    for (const JsonNode& entry : node) {
        PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "(i != n.end())");
        if (Is(entry.Name(), "data")) {
            PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "In data, found obj with name %s",
                       VIEW_ARG(entry.Name()));
            ParseSnapShowForSource(entry, cgName, source);
            return;
        }
        if (entry.Type() != JSON_NODE) continue;
        for (const JsonNode& member : entry) {
            PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "found %s", VIEW_ARG(member.Name()));
            if (!Is(member.Name(), "source")) continue;
            std::string value = member.AsString();
            if (value != cgName) {
                source = value;
                PARSER_LOG(kSnapShowForSource, QLOG_DEBUG, "found source  %s", source.c_str());
                return;
            }
        }
    }
}

void ParseCGShow(const JsonNode& node, const std::string& cgName, marl::array::NameList& names) {
    const LogGate log;
    if (node.Empty()) return;
    PARSER_LOG(kCGShow, QLOG_DEBUG, "looking for vg %s size=%d", cgName.c_str(),
               static_cast<int>(node.Size()));
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In data, found obj with name %s",
                   VIEW_ARG(node.begin()->Name()));
        ParseCGShow(*node.begin(), cgName, names);
        return;
    }
    for (const JsonNode& entry : node) {
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In while i, found obj with name %s",
                   VIEW_ARG(entry.Name()));
        if (entry.Name() != cgName) continue;
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In if (cg_name->compare(i->name().c_str()) == 0)");
        if (!IsContainer(entry)) continue;
        PARSER_LOG(kCGShow, QLOG_DEBUG, "In if (i->type() == JSON_ARRAY)");
        for (const JsonNode& member : entry) {
            PARSER_LOG(kCGShow, QLOG_DEBUG, "Found obj with name %s", VIEW_ARG(member.Name()));
            if (Is(member.Name(), "vols")) {
                WalkVols(member, names, log);
                return;
            }
        }
    }
}

bool ParseHostGrpShow(const JsonNode& node, const std::string& groupName,
                      marl::array::NameList& extra) {
    const LogGate log;
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

bool ParseReplicationSnapCreateResponse(const JsonNode& node, marl::array::NameList& names) {
    const LogGate log;
    if (FirstEntryIsData(node)) {
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "In data, found obj with name %s",
                   VIEW_ARG(node.begin()->Name()));
        ParseReplicationSnapCreateResponse(*node.begin(), names);
        return true;
    }
    for (const JsonNode& entry : node) {
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "(i != d.end())");
        if (!Is(entry.Name(), "snapshot_names_list")) continue;
        PARSER_LOG(kRepSnapCreate, QLOG_DEBUG, "Found obj with name %s", VIEW_ARG(entry.Name()));
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
