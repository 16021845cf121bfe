// The inventory the simulator starts with when no scenario is given. Kept as
// scenario text (rather than built in code) so that it doubles as the example
// of the scenario format: `marl_simulator --print-default-scenario`.
#include "Scenario.h"

namespace marl::sim {

const std::string& DefaultScenarioText() {
    static const std::string kText = R"json({
  "retention_policies": [],
  "volume_groups": ["vg_db", "vg_app", "vg_repl"],
  "volumes": [
    {"name": "db_data", "scsi_sn": "6001405ab000001", "volume_group": "vg_db"},
    {"name": "db_log", "scsi_sn": "6001405ab000002", "volume_group": "vg_db"},
    {"name": "db_temp", "scsi_sn": "6001405ab000003", "volume_group": "vg_db"},
    {"name": "app_bin", "scsi_sn": "6001405ab000004", "volume_group": "vg_app"},
    {"name": "app_data", "scsi_sn": "6001405ab000005", "volume_group": "vg_app"},
    {"name": "repl_data", "scsi_sn": "6001405ab000006", "volume_group": "vg_repl",
     "peer_sn": "6001405cd000006"},
    {"name": "repl_log", "scsi_sn": "6001405ab000007", "volume_group": "vg_repl",
     "peer_sn": "6001405cd000007"},
    {"name": "standalone_vol", "scsi_sn": "6001405ab000008"}
  ],
  "host_groups": ["hg1"],
  "hosts": [
    {"name": "vsshost1", "host_group": "hg1"},
    {"name": "host2"}
  ],
  "replication_sessions": [
    {"name": "rs_repl", "local_volume_group": "vg_repl", "type": "async",
     "remote_volume_group": "vg_repl_dr"}
  ],
  "replication_volumes": [
    {"replication_session": "rs_repl", "local_volume": "repl_data", "remote_volume": "repl_data_dr"},
    {"replication_session": "rs_repl", "local_volume": "repl_log", "remote_volume": "repl_log_dr"}
  ],
  "snapshots": [
    {"name": "nightly", "volume_group": "vg_app", "source": "vg_app", "kind": "scenario",
     "exposable": true, "volsnaps": [
       {"volume": "app_bin", "scsi_sn": "6001405ef000004"},
       {"volume": "app_data", "scsi_sn": "6001405ef000005"}
     ]}
  ],
  "mappings": [
    {"object": "db_data", "host": "vsshost1"},
    {"object": "db_log", "host": "vsshost1"},
    {"object": "db_temp", "host": "vsshost1"},
    {"object": "app_bin", "host_group": "hg1"},
    {"object": "app_data", "host_group": "hg1"},
    {"object": "repl_data", "host": "vsshost1"},
    {"object": "repl_log", "host": "vsshost1"}
  ]
}
)json";
    return kText;
}

}  // namespace marl::sim
