#include "provider/array/ResponseParsers.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "provider/array/testing/ReplyLogCapture.h"

namespace {

using marl::json::JsonNode;
using marl::json::Parse;

// volName, cgName, sn, peerSn, snapName, volSnapName
using Lun =
    std::tuple<std::string, std::string, std::string, std::string, std::string, std::string>;

std::vector<Lun> Luns(const marl::array::LunInfoList& list) {
    std::vector<Lun> out;
    for (const LunInfo& l : list) {
        out.emplace_back(l.volName, l.cgName, l.sn, l.peerSn, l.snapName, l.volSnapName);
    }
    return out;
}

std::vector<std::string> Names(const marl::array::NameList& list) {
    return {list.begin(), list.end()};
}

LoggedLine Debug(const char* function, const std::string& message) {
    return LoggedLine{"JSON", "DEBUG", "QProviderInterface", function, message};
}

LoggedLine Trace(const char* function, const std::string& message) {
    return LoggedLine{"JSON", "TRACE", "QProviderInterface", function, message};
}

TEST(NormaliseSerial, LowerCaseAndPadding) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"6B1A2", "0006b1a2"},    {"6B1A2C3D4E5F", "6b1a2c3d4e5f"}, {"", "00000000"},
        {"ABCDEFGH", "abcdefgh"}, {"abcdefghij", "abcdefghij"},     {"\xc4Z", "000000\xc4z"},
        {"1234567", "01234567"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormaliseSerial(c.first), c.second) << c.first;
}

struct VolShowCase {
    const char* label;
    const char* data;
    std::vector<Lun> records;
};

TEST(ParseVolShow, Records) {
    const std::vector<VolShowCase> cases = {
        {"short serial padded",
         R"({"vol1":{"scsi_sn":"6B1A2"}})",
         {{"vol1", "", "0006b1a2", "", "", ""}}},
        {"long serial kept whole",
         R"({"vol1":{"scsi_sn":"6B1A2C3D4E5F","vss_scsi_sn":"FF"}})",
         {{"vol1", "", "6b1a2c3d4e5f", "000000ff", "", ""}}},
        {"base volume names the record",
         R"({"snapA":{"base_volume":"vol1","snapshot_name":"s1","volume_group":"g"}})",
         {{"vol1", "g", "", "", "s1", ""}}},
        {"later group member wins",
         R"({"a":{"volume_group":"g1","vg_name":"g2"},"b":{"vg_name":"g2","volume_group":"g1"}})",
         {{"a", "g2", "", "", "", ""}, {"b", "g1", "", "", "", ""}}},
        {"nested data is descended into",
         R"({"data":{"v1":{"scsi_sn":"1"},"v2":{"scsi_sn":"2"}}})",
         {{"v1", "", "00000001", "", "", ""}, {"v2", "", "00000002", "", "", ""}}},
        {"data that is a volume record",
         R"({"data":{"marked_for_deletion":"false","scsi_sn":"AB","base_volume":"g:s:v"}})",
         {{"g:s:v", "", "000000ab", "", "", ""}}},
        {"data record without base volume",
         R"({"data":{"scsi_sn":"AB","marked_for_deletion":"false"}})",
         {{"data", "", "000000ab", "", "", ""}}},
        {"data with only one of the two members is a payload",
         R"({"data":{"scsi_sn":"AB"}})",
         {{"scsi_sn", "", "", "", "", ""}}},
        {"entries after nested data are not read",
         R"({"a":{},"data":{"b":{}},"c":{}})",
         {{"a", "", "", "", "", ""}, {"b", "", "", "", "", ""}}},
        {"entry that is not an object",
         R"({"v":"text","w":["scsi_sn"]})",
         {{"v", "", "", "", "", ""}, {"w", "", "", "", "", ""}}},
        {"numbers read as their text",
         R"({"v":{"scsi_sn":12345,"volume_group":7}})",
         {{"v", "7", "00012345", "", "", ""}}},
        {"duplicate members and entries",
         R"({"v":{"scsi_sn":"1","scsi_sn":"2"},"v":{}})",
         {{"v", "", "00000002", "", "", ""}, {"v", "", "", "", "", ""}}},
        {"empty payload", "{}", {}},
    };
    for (const VolShowCase& c : cases) {
        marl::array::LunInfoList list;
        ParseVolShow(Parse(c.data), list);
        EXPECT_EQ(Luns(list), c.records) << c.label;
    }
}

// The serial listing of the look-ups: what each name may hold, as the
// volume-snapshot reply reads it (serials normalised, nested data followed).
TEST(ParseVolSnapSerials, WhatEachNameMayHold) {
    struct Case {
        const char* label;
        const char* data;
        const char* name;
        const char* serial;
        bool mayHold;
    };
    const Case cases[] = {
        {"own serial, normalised", R"({"g:s:v":{"scsi_sn":"6B1A2"}})", "g:s:v", "0006b1a2", true},
        {"peer serial", R"({"g:s:v":{"scsi_sn":"1","vss_scsi_sn":"AB"}})", "g:s:v", "000000ab",
         true},
        {"another serial", R"({"g:s:v":{"scsi_sn":"1","vss_scsi_sn":"2"}})", "g:s:v", "00000003",
         false},
        {"nested data", R"({"data":{"g:s:v":{"scsi_sn":"1"}}})", "g:s:v", "00000002", false},
        {"a name listed twice keeps both", R"({"v":{"scsi_sn":"1"},"v":{"scsi_sn":"2"}})", "v",
         "00000001", true},
        {"no serial member holds only the empty one", R"({"v":{}})", "v", "00000000", false},
        {"a name not listed may hold anything", R"({"v":{"scsi_sn":"1"}})", "w", "00000009", true},
    };
    for (const Case& c : cases) {
        marl::array::VolSnapSerialIndex index;
        ParseVolSnapSerials(Parse(c.data), index);
        EXPECT_EQ(index.MayHold(c.name, {c.serial}), c.mayHold) << c.label;
    }
}

TEST(ParseVolShow, AppendsToTheList) {
    marl::array::LunInfoList list(1);
    list.front().volName = "before";
    ParseVolShow(Parse(R"({"after":{}})"), list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.back().volName, "after");
}

TEST(ParseVolShow, LogLines) {
    ReplyLogCapture log;
    marl::array::LunInfoList list;
    ParseVolShow(Parse(R"({"data":{"vol1":{"scsi_sn":"6B1A2","vss_scsi_sn":"f","volume_group":"g",)"
                       R"("base_volume":"b","vg_name":"h","snapshot_name":"s","size":"1"}}})"),
                 list);
    const char* f = "ParseVolShow";
    std::vector<LoggedLine> expected = {
        Debug(f, "(i != n.end())"),
        Debug(f, "In data, found obj with name data"),
        Debug(f, "recursing inside data node"),
        Debug(f, "(i != n.end())"),
        Debug(f, "found scsi_sn  0006b1a2"),
        Debug(f, "found peer_scsi_sn  0000000f"),
        Debug(f, "found volume_group with name g"),
        Debug(f, "found base_volume with name b"),
        Debug(f, "found snapshot_name with name s"),
    };
    EXPECT_EQ(log.Lines(), expected);
}

marl::array::LunInfoList Inventory() {
    marl::array::LunInfoList list;
    for (const char* name : {"vol1", "vol2", "vol1"}) {
        list.emplace_back();
        list.back().volName = name;
        list.back().peerSn = "old";
    }
    return list;
}

TEST(ParseRepVolShow, SetsPeerSerialOfEveryMatchingRecord) {
    struct Case {
        const char* label;
        const char* data;
        std::vector<std::string> peers;  // of vol1, vol2, vol1
    };
    const std::vector<Case> cases = {
        {"both records of vol1",
         R"({"r":{"local_volume":"vol1","vss_scsi_sn":"AB"}})",
         {"000000ab", "old", "000000ab"}},
        {"members in either order",
         R"({"r":{"vss_scsi_sn":"AB","local_volume":"vol2"}})",
         {"old", "000000ab", "old"}},
        {"empty serial changes nothing",
         R"({"r":{"local_volume":"vol1","vss_scsi_sn":""}})",
         {"old", "old", "old"}},
        {"empty name changes nothing",
         R"({"r":{"local_volume":"","vss_scsi_sn":"AB"}})",
         {"old", "old", "old"}},
        {"unknown volume adds nothing",
         R"({"r":{"local_volume":"vol9","vss_scsi_sn":"AB"}})",
         {"old", "old", "old"}},
        {"names compare exactly",
         R"({"r":{"local_volume":"VOL1","vss_scsi_sn":"AB"}})",
         {"old", "old", "old"}},
        {"later entries overwrite",
         R"({"r":{"local_volume":"vol1","vss_scsi_sn":"1"},"s":{"local_volume":"vol1","vss_scsi_sn":"2"}})",
         {"00000002", "old", "00000002"}},
        {"nested data",
         R"({"data":{"r":{"local_volume":"vol2","vss_scsi_sn":"C"}},"x":{}})",
         {"old", "0000000c", "old"}},
        {"entry that is not an object", R"({"r":["local_volume","vol1"]})", {"old", "old", "old"}},
    };
    for (const Case& c : cases) {
        marl::array::LunInfoList list = Inventory();
        ParseRepVolShow(Parse(c.data), list);
        std::vector<std::string> peers;
        for (const LunInfo& l : list) peers.push_back(l.peerSn);
        EXPECT_EQ(peers, c.peers) << c.label;
    }
}

// The indexed walk against the direct reading of the rule: for each entry in
// order, every record of that name takes the entry's normalised serial.
TEST(ParseRepVolShow, AgreesWithTheScanPerEntry) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        marl::array::LunInfoList list;
        for (int i = 0; i < 30; ++i) {
            list.emplace_back();
            list.back().volName = "v" + std::to_string(random() % 20);
        }
        marl::array::LunInfoList expected = list;
        std::string data = "{";
        for (int e = 0; e < 40; ++e) {
            std::string name = "v" + std::to_string(random() % 25);
            std::string serial = (random() % 5 == 0) ? "" : "S" + std::to_string(random() % 1000);
            data += (e ? "," : "") + std::string("\"e\":{\"local_volume\":\"") + name +
                    "\",\"vss_scsi_sn\":\"" + serial + "\"}";
            if (serial.empty()) continue;
            for (LunInfo& l : expected) {
                if (l.volName == name) l.peerSn = NormaliseSerial(serial);
            }
        }
        ParseRepVolShow(Parse(data + "}"), list);
        EXPECT_EQ(Luns(list), Luns(expected)) << data;
    }
}

TEST(ParseRepVolShow, LogsSerialAsReceived) {
    ReplyLogCapture log;
    marl::array::LunInfoList list = Inventory();
    ParseRepVolShow(Parse(R"({"r":{"vss_scsi_sn":"AB","local_volume":"vol1"}})"), list);
    const char* f = "ParseRepVolShow";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{Debug(f, "(i != n.end())"),
                                                    Debug(f, "found vss_scsi_sn  AB"),
                                                    Debug(f, "found local_volume  vol1")}));
}

TEST(ParseRepSessionShow, Sessions) {
    struct Case {
        const char* label;
        const char* data;
        std::vector<std::tuple<std::string, std::string, std::string>> sessions;
    };
    const std::vector<Case> cases = {
        {"type defaults to async",
         R"({"s1":{"local_volume_group":"cg1"}})",
         {{"cg1", "s1", "async"}}},
        {"sync kept",
         R"({"s1":{"type":"sync","local_volume_group":"cg1"}})",
         {{"cg1", "s1", "sync"}}},
        {"nested data",
         R"({"data":{"s1":{},"s2":{"type":"x"}}})",
         {{"", "s1", "async"}, {"", "s2", "x"}}},
        {"entry that is not an object", R"({"s1":"cg1"})", {{"", "s1", "async"}}},
    };
    for (const Case& c : cases) {
        marl::array::SessionInfoList list;
        ParseRepSessionShow(Parse(c.data), list);
        std::vector<std::tuple<std::string, std::string, std::string>> got;
        for (const SessionInfo& s : list) got.emplace_back(s.cgName, s.sessionName, s.type);
        EXPECT_EQ(got, c.sessions) << c.label;
    }
    ReplyLogCapture log;
    marl::array::SessionInfoList list;
    ParseRepSessionShow(Parse(R"({"s1":{"local_volume_group":"cg1","type":"sync"}})"), list);
    const char* f = "ParseRepSessionShow";
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{Debug(f, "(i != n.end())"), Debug(f, "found cg_name  cg1"),
                                       Debug(f, "type  sync")}));
}

TEST(ParseSnapShow, OneRecordPerVolumeSnapshot) {
    const std::vector<VolShowCase> cases = {
        {"group before volsnaps",
         R"({"cg1:s1":{"vg_name":"cg1","volsnaps":["cg1:s1:v1","cg1:s1:v2"],"source":"x"}})",
         {{"", "cg1", "", "", "cg1:s1", "cg1:s1:v1"}, {"", "cg1", "", "", "cg1:s1", "cg1:s1:v2"}}},
        {"group after volsnaps stays empty",
         R"({"s":{"volsnaps":["v"],"vg_name":"cg1"}})",
         {{"", "", "", "", "s", "v"}}},
        {"entry without volsnaps adds nothing", R"({"s":{"vg_name":"cg1"}})", {}},
        {"volsnaps that is not an array", R"({"s":{"volsnaps":"v"}})", {}},
        {"nested data as first entry",
         R"({"data":{"s":{"volsnaps":["v"]}}})",
         {{"", "", "", "", "s", "v"}}},
        {"data that is not first is an entry",
         R"({"s":{"volsnaps":["v"]},"data":{"volsnaps":["w"]}})",
         {{"", "", "", "", "s", "v"}, {"", "", "", "", "data", "w"}}},
        {"several entries in order",
         R"({"a":{"volsnaps":["a1"]},"b":{"vg_name":"g","volsnaps":["b1",7]}})",
         {{"", "", "", "", "a", "a1"}, {"", "g", "", "", "b", "b1"}, {"", "g", "", "", "b", "7"}}},
        {"empty payload", "{}", {}},
    };
    for (const VolShowCase& c : cases) {
        marl::array::LunInfoList list;
        ParseSnapShow(Parse(c.data), list);
        EXPECT_EQ(Luns(list), c.records) << c.label;
    }
}

TEST(ParseSnapShow, LogLines) {
    ReplyLogCapture log;
    marl::array::LunInfoList list;
    ParseSnapShow(Parse(R"({"data":{"s":{"vg_name":"g","volsnaps":["v1"]}}})"), list);
    const char* f = "ParseSnapShow";
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{
                  Debug(f, "In data, found obj with name data"), Debug(f, "(i != n.end())"),
                  Debug(f, "found cg_name with name g"), Debug(f, "Found obj with name volsnaps"),
                  Trace(f, "In if (j->type() == JSON_ARRAY)"),
                  Debug(f, "In while (k != j->end()), k=v1")}));
}

TEST(ParseSnapShowForSource, FirstSourceOtherThanTheGroup) {
    struct Case {
        const char* label;
        const char* data;
        std::string source;
    };
    const std::vector<Case> cases = {
        {"source is the group itself", R"({"s":{"source":"cg1"}})", "keep"},
        {"source names a snapshot", R"({"s":{"source":"cg1:snapA"}})", "cg1:snapA"},
        {"first differing source wins", R"({"s":{"source":"cg1","source":"x"},"t":{"source":"y"}})",
         "x"},
        {"nested data", R"({"data":{"s":{"vg_name":"cg1","source":"z"}}})", "z"},
        {"entry that is not an object", R"({"s":"source"})", "keep"},
        {"no source", R"({"s":{"vg_name":"cg1"}})", "keep"},
    };
    for (const Case& c : cases) {
        std::string source = "keep";
        ParseSnapShowForSource(Parse(c.data), "cg1", source);
        EXPECT_EQ(source, c.source) << c.label;
    }
    ReplyLogCapture log;
    std::string source;
    ParseSnapShowForSource(Parse(R"({"s":{"vg_name":"cg1","source":"a","source":"b"}})"), "cg1",
                           source);
    const char* f = "ParseSnapShowForSource";
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{Debug(f, "(i != n.end())"), Debug(f, "found vg_name"),
                                       Debug(f, "found source"), Debug(f, "found source  a")}));
}

struct CGShowCase {
    const char* label;
    const char* data;
    std::vector<std::string> names;
    bool endsOutOfRange;
};

TEST(ParseCGShow, WalksVols) {
    const std::vector<CGShowCase> cases = {
        {"arrays of names", R"({"cg1":{"vols":[["volA","x"],["volB"]]}})", {"volA", "volB"}, true},
        {"plain texts", R"({"cg1":{"vols":["volA","volB"]}})", {}, true},
        {"objects", R"({"cg1":{"vols":[{"name":"volA"},{"n":"volB"}]}})", {"volA", "volB"}, true},
        {"number 0 ends the walk", R"({"cg1":{"vols":[["volA"],0,["volB"]]}})", {"volA"}, false},
        {"element without members", R"({"cg1":{"vols":[["volA"],[],["volB"]]}})", {"volA"}, true},
        {"empty vols", R"({"cg1":{"vols":[]}})", {}, true},
        {"vols that is an object", R"({"cg1":{"vols":{"a":["volA"]}}})", {"volA"}, true},
        {"other groups skipped",
         R"({"cg0":{"vols":[["x"]]},"cg1":{"vols":[["volA"]]}})",
         {"volA"},
         true},
        {"match without vols goes on",
         R"({"cg1":{"size":"1"},"cg1":{"vols":[["volA"]]}})",
         {"volA"},
         true},
        {"names compare exactly", R"({"CG1":{"vols":[["volA"]]}})", {}, false},
        {"nested data", R"({"data":{"cg1":{"vols":[["volA"]]}}})", {"volA"}, true},
        {"empty payload", "{}", {}, false},
    };
    for (const CGShowCase& c : cases) {
        marl::array::NameList names{"kept"};
        bool outOfRange = false;
        try {
            ParseCGShow(Parse(c.data), "cg1", names);
        } catch (const std::out_of_range&) {
            outOfRange = true;
        }
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.names.begin(), c.names.end());
        EXPECT_EQ(Names(names), expected) << c.label;
        EXPECT_EQ(outOfRange, c.endsOutOfRange) << c.label;
    }
}

TEST(ParseCGShow, LogLines) {
    ReplyLogCapture log;
    marl::array::NameList names;
    EXPECT_THROW(ParseCGShow(Parse(R"({"data":{"cg0":{},"cg1":{"size":"2","vols":[["volA"]]}}})"),
                             "cg1", names),
                 std::out_of_range);
    const char* f = "ParseCGShow";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               Debug(f, "looking for vg cg1 size=1"),
                               Debug(f, "In data, found obj with name data"),
                               Debug(f, "looking for vg cg1 size=2"),
                               Debug(f, "In while i, found obj with name cg0"),
                               Debug(f, "In while i, found obj with name cg1"),
                               Debug(f, "In if (cg_name->compare(i->name().c_str()) == 0)"),
                               Debug(f, "In if (i->type() == JSON_ARRAY)"),
                               Debug(f, "Found obj with name size"),
                               Debug(f, "Found obj with name vols"),
                               Debug(f, "Found vol with name volA"),
                               Debug(f, "pushed vol with name volA"),
                           }));
}

TEST(ParseHostGrpShow, ExactNameMatch) {
    struct Case {
        const char* label;
        const char* data;
        bool found;
    };
    const std::vector<Case> cases = {
        {"named entry", R"({"other":{},"hg1":{}})", true},
        {"case differs", R"({"HG1":{}})", false},
        {"prefix only", R"({"hg10":{}})", false},
        {"nested data", R"({"data":{"hg1":"x"}})", true},
        {"nested data without it", R"({"data":{"hg2":{}},"hg1":{}})", false},
        {"empty payload", "{}", false},
    };
    for (const Case& c : cases) {
        marl::array::NameList extra{"unchanged"};
        EXPECT_EQ(ParseHostGrpShow(Parse(c.data), "hg1", extra), c.found) << c.label;
        EXPECT_EQ(Names(extra), std::vector<std::string>{"unchanged"}) << c.label;
    }
    ReplyLogCapture log;
    marl::array::NameList extra;
    ParseHostGrpShow(Parse(R"({"hg1":{}})"), "hg1", extra);
    const char* f = "ParseHostGrpShow";
    EXPECT_EQ(log.Lines(), (std::vector<LoggedLine>{
                               Debug(f, "looking for host group hg1"),
                               Debug(f, "In if (grp_name->compare(i->name().c_str()) == 0)")}));
}

TEST(ParseReplicationSnapCreateResponse, Names) {
    struct Case {
        const char* label;
        const char* data;
        std::vector<std::string> names;
        bool nested;
    };
    const std::vector<Case> cases = {
        {"list of names", R"({"snapshot_names_list":["r1","r2"]})", {"r1", "r2"}, false},
        {"nested data", R"({"data":{"snapshot_names_list":["r1"]}})", {"r1"}, true},
        {"nested data without names", R"({"data":{}})", {}, true},
        {"not an array", R"({"snapshot_names_list":"r1"})", {}, false},
        {"repeated lists",
         R"({"snapshot_names_list":["a"],"snapshot_names_list":["b"]})",
         {"a", "b"},
         false},
        {"empty payload", "{}", {}, false},
    };
    for (const Case& c : cases) {
        marl::array::NameList names;
        EXPECT_EQ(ParseReplicationSnapCreateResponse(Parse(c.data), names), c.nested) << c.label;
        EXPECT_EQ(Names(names), c.names) << c.label;
    }
    ReplyLogCapture log;
    marl::array::NameList names;
    ParseReplicationSnapCreateResponse(Parse(R"({"x":"1","snapshot_names_list":["r1"]})"), names);
    const char* f = "ParseReplicationSnapCreateResponse";
    EXPECT_EQ(log.Lines(),
              (std::vector<LoggedLine>{Debug(f, "(i != d.end())"), Debug(f, "(i != d.end())"),
                                       Debug(f, "Found obj with name snapshot_names_list"),
                                       Trace(f, "In if (i->type() == JSON_ARRAY)"),
                                       Debug(f, "In while (k != i->end()), k=r1")}));
}

}  // namespace
