#include "ReplyReaders.h"

#include "SimJson.h"

namespace marl::sim::test {

namespace {

using rapidjson::Value;

std::string Name(Value::ConstMemberIterator it) { return it->name.GetString(); }

bool FirstIsData(const Value& node) {
    return node.IsObject() && node.MemberCount() > 0 && Name(node.MemberBegin()) == "data";
}

}  // namespace

void ReadVolumeMembers(const Value& e, VolumeRecord& r) {
    for (auto m = e.MemberBegin(); m != e.MemberEnd(); ++m) {
        std::string n = Name(m), v = ValueText(m->value);
        if (n == "scsi_sn") r.sn = Normalised(v);
        if (n == "vss_scsi_sn") r.peerSn = Normalised(v);
        if (n == "volume_group" || n == "vg_name") r.cgName = v;
        if (n == "base_volume") r.volName = v;
        if (n == "snapshot_name") r.snapName = v;
    }
}

std::string Normalised(const std::string& serial) {
    std::string out = serial;
    for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (out.size() < 8) out.insert(0, 8 - out.size(), '0');
    return out;
}

std::vector<VolumeRecord> ReadVolShow(const Value& node) {
    std::vector<VolumeRecord> out;
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        const Value& e = i->value;
        if (Name(i) == "data" &&
            !(e.IsObject() && e.HasMember("marked_for_deletion") && e.HasMember("scsi_sn"))) {
            auto inner = ReadVolShow(e);
            out.insert(out.end(), inner.begin(), inner.end());
            return out;
        }
        VolumeRecord r;
        r.volName = Name(i);
        if (e.IsObject()) ReadVolumeMembers(e, r);
        out.push_back(r);
    }
    return out;
}

void ReadRepVolShow(const Value& node, std::vector<VolumeRecord>& records) {
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        if (Name(i) == "data") return ReadRepVolShow(i->value, records);
        std::string serial = MemberText(i->value, "vss_scsi_sn");
        std::string local = MemberText(i->value, "local_volume");
        if (serial.empty() || local.empty()) continue;
        for (auto& r : records) {
            if (r.volName == local) r.peerSn = Normalised(serial);
        }
    }
}

std::vector<SessionRecord> ReadRepSessionShow(const Value& node) {
    std::vector<SessionRecord> out;
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        if (Name(i) == "data") return ReadRepSessionShow(i->value);
        out.push_back({MemberText(i->value, "local_volume_group"), Name(i),
                       MemberText(i->value, "type", "async")});
    }
    return out;
}

std::vector<VolumeRecord> ReadSnapShow(const Value& node) {
    if (FirstIsData(node)) return ReadSnapShow(node.MemberBegin()->value);
    std::vector<VolumeRecord> out;
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        VolumeRecord r;
        r.snapName = Name(i);
        if (!i->value.IsObject()) continue;
        for (auto m = i->value.MemberBegin(); m != i->value.MemberEnd(); ++m) {
            if (Name(m) == "vg_name") r.cgName = ValueText(m->value);
            if (Name(m) != "volsnaps" || !m->value.IsArray()) continue;
            for (const auto& k : m->value.GetArray()) {
                r.volSnapName = ValueText(k);
                out.push_back(r);
            }
        }
    }
    return out;
}

std::string ReadSnapShowSource(const Value& node, const std::string& group) {
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        if (Name(i) == "data") return ReadSnapShowSource(i->value, group);
        std::string source = MemberText(i->value, "source");
        if (i->value.IsObject() && i->value.HasMember("source") && source != group) return source;
    }
    return "";
}

std::vector<std::string> ReadCgShow(const Value& node, const std::string& group, bool& ended) {
    ended = false;
    std::vector<std::string> names;
    if (FirstIsData(node)) return ReadCgShow(node.MemberBegin()->value, group, ended);
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        if (Name(i) != group || !i->value.IsObject() || !i->value.HasMember("vols")) continue;
        const Value& vols = i->value["vols"];
        for (rapidjson::SizeType k = 0; vols.IsArray() && k < vols.Size(); ++k) {
            if (!vols[k].IsArray() || vols[k].Empty()) break;  // the walk ends here
            names.push_back(ValueText(vols[k][0]));
        }
        ended = true;
        return names;
    }
    return names;
}

bool ReadHostGrpShow(const Value& node, const std::string& group) {
    if (!node.IsObject() || node.MemberCount() == 0) return false;
    if (FirstIsData(node)) return ReadHostGrpShow(node.MemberBegin()->value, group);
    return node.HasMember(group.c_str());
}

std::vector<std::string> ReadSnapCreate(const Value& node, bool& nested) {
    nested = FirstIsData(node);
    std::vector<std::string> names;
    if (nested) return names;
    for (auto i = node.MemberBegin(); i != node.MemberEnd(); ++i) {
        if (Name(i) != "snapshot_names_list" || !i->value.IsArray()) continue;
        for (const auto& k : i->value.GetArray()) names.push_back(ValueText(k));
    }
    return names;
}

}  // namespace marl::sim::test
